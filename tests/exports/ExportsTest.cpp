// The export writers on a small record whose every byte is known: gene
// sets split by sign, TreeView's gene groups and sign-aligned table,
// Morpheus's GCT 1.3 with metadata, exact numbers, and all-or-nothing
// writing.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "exports/Exports.h"
#include "tests/support/TempDir.h"

namespace {

using namespace tarvok::exports;

// Two clusters over three samples. Cluster 1: a follows the component, b
// mirrors it, a again (a label repeated in the table: rows 1 and 5);
// cluster 2: c alone, also mirroring. Table genes a, b, c, d, a and one
// with an empty label: d and the empty one are in no cluster.
ExportRecord Record() {
  ExportRecord r;
  r.samples = {"s1", "s2", "s3"};
  ClusterExport one;
  one.genes = {"a", "b", "a"};
  one.tableRows = {0, 1, 4};
  one.scores = {2.5, -0.1, 1.0};
  one.rows = {{1.0, 0.0, -1.0}, {-0.5, 0.25, 0.1}, {0.1, 0.2, -0.3}};
  one.eigenvalue = 3.25;
  one.r2 = 75.5;
  one.gap = 0.1;
  one.component = {0.7, 0.0, -0.7};
  ClusterExport two;
  two.genes = {"c"};
  two.tableRows = {2};
  two.scores = {-2.0};
  two.rows = {{1.0, 1.0 / 3.0, -4.0 / 3.0}};
  two.eigenvalue = 1.0;
  two.r2 = 40.0;
  two.gap = -0.5;
  two.component = {-0.5, 0.0, 0.5};
  r.clusters = {one, two};
  r.genes = {"a", "b", "c", "d", "a", ""};
  return r;
}

// Record() with symbols: a repeated one, a placeholder, a missing one.
ExportRecord WithSymbols() {
  ExportRecord r = Record();
  r.symbols = {"TP53", "--Control", "MYC", "", "TP53", "EGFR"};
  return r;
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(ExactNumber, ShortestTextThatReadsBackAsTheSameDouble) {
  EXPECT_EQ(ExactNumber(0.1), "0.1");
  EXPECT_EQ(ExactNumber(-1.5), "-1.5");
  EXPECT_EQ(ExactNumber(1.0 / 3.0), "0.3333333333333333");
  EXPECT_EQ(ExactNumber(0.1 + 0.2), "0.30000000000000004");
  EXPECT_EQ(ExactNumber(1e-300), "1e-300");
  EXPECT_EQ(ExactNumber(std::nan("")), "");
  EXPECT_EQ(ExactNumber(std::numeric_limits<double>::infinity()), "");
  for (double v : {0.1 + 0.2, 2.0 / 7.0, -123456.789e-5, 5e-324, 1.7976931348623157e308}) {
    EXPECT_EQ(std::strtod(ExactNumber(v).c_str(), nullptr), v) << ExactNumber(v);
  }
  // The same text as the first of printf's "%.15g", "%.16g", "%.17g" that
  // reads back (in the "C" locale the tests run in), over every magnitude,
  // both signs, round and subnormal values, and a German locale changes none.
  auto printfText = [](double v) {
    char text[40];
    for (int digits = 15; digits <= 17; ++digits) {
      std::snprintf(text, sizeof text, "%.*g", digits, v);
      if (std::strtod(text, nullptr) == v) break;
    }
    return std::string(text);
  };
  std::vector<double> values = {0.0, -0.0, 1.0, 10.0, 1e15, 1e16, 123456789012345680.0, 1e-4, 1e-5, 0.00012345,
                                2.2250738585072014e-308, 4.9406564584124654e-324, 1.5e-320, 9.999999999999999e22};
  std::uint64_t bits = 0x9E3779B97F4A7C15ULL;
  for (int k = 0; k < 20000; ++k) {
    bits ^= bits << 13, bits ^= bits >> 7, bits ^= bits << 17;
    double v;
    std::memcpy(&v, &bits, sizeof v);
    if (std::isfinite(v)) values.push_back(v);
    values.push_back(static_cast<double>(bits % 2000000) / 1024.0 - 900.0);
  }
  const char* german = std::setlocale(LC_ALL, "de_DE.UTF-8");
  std::vector<std::string> texts;
  for (double v : values) texts.push_back(ExactNumber(v));
  std::setlocale(LC_ALL, "C");
  if (german == nullptr) std::printf("(no de_DE.UTF-8 locale here: only the C locale was checked)\n");
  for (size_t k = 0; k < values.size(); ++k) EXPECT_EQ(texts[k], printfText(values[k])) << values[k];
}

TEST(Projection, SumsRowTimesComponentAndItsSignGivesTheSide) {
  EXPECT_EQ(Projection({1.0, 2.0, -1.0}, {0.5, 0.25, 1.0}), 0.0);
  EXPECT_EQ(Projection({2.0, 0.0}, {0.5, 3.0}), 1.0);
}

TEST(Gmt, OneSetPerClusterThenUpAndDownWithoutDuplicatesOrEmptySides) {
  EXPECT_EQ(GmtText(Record()),
            "cluster1\tgene shaving cluster 1: 3 genes, eigenvalue 3.25, R2 75.5%, gap 0.1\ta\tb\n"
            "cluster1_up\t2 of 3 genes following the cluster's pattern, eigenvalue 3.25, R2 75.5%, gap 0.1\ta\n"
            "cluster1_down\t1 of 3 genes mirroring the cluster's pattern, eigenvalue 3.25, R2 75.5%, gap 0.1\tb\n"
            "cluster2\tgene shaving cluster 2: 1 genes, eigenvalue 1, R2 40%, gap -0.5\tc\n"
            "cluster2_down\t1 of 1 genes mirroring the cluster's pattern, eigenvalue 1, R2 40%, gap -0.5\tc\n");
  // By symbol: each once, placeholders and blanks left out, with the sets
  // that hold none.
  EXPECT_EQ(SymbolGmtText(WithSymbols()),
            "cluster1\tgene shaving cluster 1: 3 genes, eigenvalue 3.25, R2 75.5%, gap 0.1, 1 distinct symbols"
            "\tTP53\n"
            "cluster1_up\t2 of 3 genes following the cluster's pattern, eigenvalue 3.25, R2 75.5%, gap 0.1, "
            "1 distinct symbols\tTP53\n"
            "cluster2\tgene shaving cluster 2: 1 genes, eigenvalue 1, R2 40%, gap -0.5, 1 distinct symbols\tMYC\n"
            "cluster2_down\t1 of 1 genes mirroring the cluster's pattern, eigenvalue 1, R2 40%, gap -0.5, "
            "1 distinct symbols\tMYC\n");
  for (const char* placeholder : {"", "  ", "--Control", "---", " --x"}) EXPECT_TRUE(IsPlaceholderSymbol(placeholder));
  for (const char* symbol : {"TP53", "-x", "C-2"}) EXPECT_FALSE(IsPlaceholderSymbol(symbol));
}

TEST(Kgg, OneLinePerClusteredGeneInCdtOrder) {
  EXPECT_EQ(KggText(Record()), "UNIQID\tGROUP\na\t1\nb\t1\na\t1\nc\t2\n");
}

TEST(Cdt, RowsSignAlignedClusterByClusterThenUnclusteredGenes) {
  ExportRecord r = Record();
  const std::string head = "UNIQID\tNAME\tGWEIGHT\ts1\ts2\ts3\nEWEIGHT\t\t\t1\t1\t1\n";
  const std::string clustered =
      "a\ta (cluster 1 +)\t1\t1\t0\t-1\n"
      "b\tb (cluster 1 -)\t1\t0.5\t-0.25\t-0.1\n"
      "a\ta (cluster 1 +)\t1\t0.1\t0.2\t-0.3\n"
      "c\tc (cluster 2 -)\t1\t-1\t-0.3333333333333333\t1.3333333333333333\n";
  // Every table row once: the repeated label's rows are told apart by row,
  // and the empty label is a row of its own. Without the table's values the
  // unclustered rows are missing values.
  EXPECT_EQ(CdtText(r), head + clustered + "d\td\t1\t\t\t\n\t\t1\t\t\t\n");
  r.values = {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {-2.0, 0.0, 2.0}, {0, 0, 0}, {0.5, std::nan(""), -0.5}};
  EXPECT_EQ(CdtText(r), head + clustered + "d\td\t1\t-2\t0\t2\n\t\t1\t0.5\t\t-0.5\n");
  // A gene clustered at row 4 (not row 1) leaves row 1 unclustered though
  // both are "a".
  r.clusters[0].tableRows = {3, 1, 4};
  EXPECT_NE(CdtText(r).find("\na\ta\t1\t0\t0\t0\n"), std::string::npos);
  EXPECT_EQ(CdtText(r).find("\nd\td\t1"), std::string::npos);
  // NAME is the symbol where there is one.
  r = WithSymbols();
  EXPECT_EQ(CdtText(r), head +
                            "a\tTP53 (cluster 1 +)\t1\t1\t0\t-1\n"
                            "b\t--Control (cluster 1 -)\t1\t0.5\t-0.25\t-0.1\n"
                            "a\tTP53 (cluster 1 +)\t1\t0.1\t0.2\t-0.3\n"
                            "c\tMYC (cluster 2 -)\t1\t-1\t-0.3333333333333333\t1.3333333333333333\n"
                            "d\td\t1\t\t\t\n\tEGFR\t1\t\t\t\n");
  // A label cannot break the table's lines or columns.
  r = Record();
  r.samples[1] = "s\t2";
  r.clusters[1].genes[0] = "c\nx";
  std::string text = CdtText(r);
  EXPECT_NE(text.find("\ts 2\t"), std::string::npos);
  EXPECT_NE(text.find("c x\tc x (cluster 2 -)\t1\t"), std::string::npos);
}

TEST(Cdt, CellsMadeAheadGiveTheSameBytes) {
  ExportRecord r = Record();
  // b mirrors its component and starts with a negative zero; d has one too.
  r.clusters[0].rows[1][0] = -0.0;
  // One row per table gene; a clustered gene's row is its table row.
  r.values = {r.clusters[0].rows[0], r.clusters[0].rows[1], r.clusters[1].rows[0],
              {-0.0, 1.0 / 3.0, std::nan("")}, r.clusters[0].rows[2], {0.5, 0.0, -0.5}};
  const std::string plain = CdtText(r);
  CdtCells cells;
  for (const std::vector<double>& row : r.values) AppendCdtCells(cells, row.data(), row.size());
  ASSERT_EQ(cells.ends.size(), r.values.size());
  EXPECT_EQ(cells.text.substr(cells.ends[2], cells.ends[3] - cells.ends[2]), "\t0\t0.3333333333333333\t");
  r.cdtCells = &cells;
  EXPECT_EQ(CdtText(r), plain);
  // Cells made for the first genes only: the writer formats the rest.
  cells.ends.resize(4);
  EXPECT_EQ(CdtText(r), plain);
}

TEST(Gct, Version13WithClusterScoreSignAndClassMetadata) {
  ExportRecord r = Record();
  const std::string rows =
      "a\t1\t2.5\t+1\t1\t0\t-1\n"
      "b\t1\t-0.1\t-1\t-0.5\t0.25\t0.1\n"
      "a\t1\t1\t+1\t0.1\t0.2\t-0.3\n"
      "c\t2\t-2\t-1\t1\t0.3333333333333333\t-1.3333333333333333\n";
  EXPECT_EQ(GctText(r), "#1.3\n4\t3\t3\t0\nid\tcluster\tscore\tsign\ts1\ts2\ts3\n" + rows);
  r.classes = {"ALL", "AML", "ALL"};
  EXPECT_EQ(
      GctText(r),
      "#1.3\n4\t3\t3\t1\nid\tcluster\tscore\tsign\ts1\ts2\ts3\nclass\tna\tna\tna\tALL\tAML\tALL\n" + rows);
  // With symbols: the label stays the id, the symbol is the Description.
  r = WithSymbols();
  r.classes = {"ALL", "AML", "ALL"};
  const std::string text = GctText(r);
  EXPECT_EQ(text.substr(0, text.find("\na\t")),
            "#1.3\n4\t3\t4\t1\nid\tDescription\tcluster\tscore\tsign\ts1\ts2\ts3\n"
            "class\tna\tna\tna\tna\tALL\tAML\tALL");
  EXPECT_NE(text.find("\na\tTP53\t1\t2.5\t+1\t1\t0\t-1\nb\t--Control\t1\t"), std::string::npos);
}

TEST(CheckRecord, NamesThePartThatDisagrees) {
  auto message = [](const ExportRecord& r) {
    try {
      CheckRecord(r);
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message(Record()), "no error");
  ExportRecord r = Record();
  r.clusters.clear();
  EXPECT_EQ(message(r), "the record holds no clusters");
  r = Record();
  r.classes = {"x"};
  EXPECT_EQ(message(r), "the record holds 1 class names for 3 samples");
  r = Record();
  r.clusters[1].scores.push_back(1.0);
  EXPECT_EQ(message(r), "cluster 2 holds 1 genes but 2 scores and 1 rows");
  r = Record();
  r.clusters[0].rows[2].pop_back();
  EXPECT_EQ(message(r), "row 3 of cluster 1 holds 2 values for 3 samples");
  r = Record();
  r.values = {{1, 2, 3}};
  EXPECT_EQ(message(r), "the record holds 1 rows of values for 6 genes");
  r = Record();
  r.symbols = {"x"};
  EXPECT_EQ(message(r), "the record holds 1 symbols for 6 genes");
  r = Record();
  r.clusters[0].tableRows.pop_back();
  EXPECT_EQ(message(r), "cluster 1 holds 3 genes but 2 table rows");
  r.clusters[0].tableRows = {0, 1, 6};
  EXPECT_EQ(message(r), "cluster 1 names table row 7 of 6");
}

TEST(WriteExports, WritesAllFourOrNothing) {
  TempDir dir;
  WriteExports(Record(), dir.path());
  EXPECT_EQ(Read(dir.File("clusters.gmt")), GmtText(Record()));
  EXPECT_EQ(Read(dir.File("clusters.kgg")), KggText(Record()));
  EXPECT_EQ(Read(dir.File("clusters.cdt")), CdtText(Record()));
  EXPECT_EQ(Read(dir.File("clusters.gct")), GctText(Record()));
  EXPECT_EQ(DirectoryEntries(dir.path()).size(), 4u);  // no temporary left behind
  // With symbols, a fifth file: the gene sets by symbol.
  TempDir symbols;
  WriteExports(WithSymbols(), symbols.path());
  EXPECT_EQ(Read(symbols.File("clusters.symbols.gmt")), SymbolGmtText(WithSymbols()));
  EXPECT_EQ(DirectoryEntries(symbols.path()).size(), 5u);
  EXPECT_EQ(ExportFileNames(WithSymbols()).back(), "clusters.symbols.gmt");

  // A record that disagrees writes nothing, and the earlier files stay.
  ExportRecord bad = Record();
  bad.clusters[0].rows.pop_back();
  EXPECT_THROW(WriteExports(bad, dir.path()), std::invalid_argument);
  EXPECT_EQ(Read(dir.File("clusters.gmt")), GmtText(Record()));

  // A file that cannot be written: an error naming it, and no other
  // file and no temporary.
  TempDir other;
  ASSERT_EQ(mkdir(other.File("clusters.cdt").c_str(), 0700), 0);
  try {
    WriteExports(Record(), other.path());
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "cannot write " + other.File("clusters.cdt") + ": Is a directory");
  }
  EXPECT_EQ(DirectoryEntries(other.path()), std::set<std::string>{"clusters.cdt"});
  EXPECT_THROW(WriteExports(Record(), other.File("missing")), std::runtime_error);

  // Nothing of the user's is written through or replaced: a link planted as
  // a temporary is removed, not followed; a link, FIFO or device in a file's
  // place is refused, naming it.
  TempDir planted;
  planted.Write("victim", "keep me");
  ASSERT_EQ(symlink(planted.File("victim").c_str(), planted.File(".clusters.gmt.tmp").c_str()), 0);
  WriteExports(Record(), planted.path());
  EXPECT_EQ(Read(planted.File("victim")), "keep me");
  EXPECT_EQ(Read(planted.File("clusters.gmt")), GmtText(Record()));
  ASSERT_EQ(symlink(planted.File("victim").c_str(), planted.File("link.gmt").c_str()), 0);
  ASSERT_EQ(mkfifo(planted.File("fifo.gmt").c_str(), 0600), 0);
  for (const std::string& path : {planted.File("link.gmt"), planted.File("fifo.gmt"), std::string("/dev/null")}) {
    try {
      WriteExport(Record(), "gmt", path);
      ADD_FAILURE() << path;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("cannot write " + path + ": it is a ", 0), 0u) << e.what();
    }
  }
  EXPECT_EQ(Read(planted.File("victim")), "keep me");
}

TEST(WriteExport, OneFormatToOnePathAfterTheRecordIsChecked) {
  TempDir dir;
  WriteExport(Record(), "gct", dir.File("any.name"));
  EXPECT_EQ(Read(dir.File("any.name")), GctText(Record()));
  EXPECT_EQ(DirectoryEntries(dir.path()).size(), 1u);
  EXPECT_THROW(WriteExport(Record(), "GMT", dir.File("x")), std::invalid_argument);
  ExportRecord none = Record();
  none.clusters.clear();
  EXPECT_THROW(WriteExport(none, "gmt", dir.File("x")), std::invalid_argument);
  EXPECT_THROW(WriteExport(Record(), "kgg", dir.File("missing/x")), std::runtime_error);
  EXPECT_EQ(DirectoryEntries(dir.path()).size(), 1u);
}

}  // namespace
