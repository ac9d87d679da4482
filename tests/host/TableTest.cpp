// Table readers: each format read back to the same matrix and labels,
// line-end and byte-order-mark variants, missing values under each policy,
// and the messages for bad input.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>

#include "exports/Exports.h"
#include "tables/ByteSource.h"
#include "tables/ClassFile.h"
#include "HostTestSupport.h"
#include "tables/Table.h"
#include "tests/support/TempDir.h"

using namespace tarvok;  // the host's code

namespace {

const std::vector<double> kValues = {1.5, -2, 3.25, 4, 0.5, 6e-3};  // 2 genes x 3 samples

Table Read(const std::string& name, const std::string& content, MissingCells policy = MissingCells::Error,
           TableFormat format = TableFormat::Auto) {
  TempDir dir;
  dir.Write(name, content);
  return ReadTable(dir.File(name), format, policy);
}

// The message of the TableError that reading content throws.
std::string ReadError(const std::string& name, const std::string& content,
                      MissingCells policy = MissingCells::Error) {
  try {
    Read(name, content, policy);
  } catch (const TableError& error) {
    return error.what();
  }
  return "(no error)";
}

// The message of the TableError that f throws.
template <typename F>
std::string ErrorOf(F f) {
  try {
    f();
  } catch (const TableError& error) {
    return error.what();
  }
  return "(no error)";
}

void ExpectLabelledTable(const Table& t, TableFormat format) {
  EXPECT_EQ(t.format, format);
  EXPECT_TRUE(t.hasHeaderRow);
  EXPECT_TRUE(t.hasLabelColumn);
  EXPECT_EQ(t.genes, 2);
  EXPECT_EQ(t.samples, 3);
  EXPECT_EQ(t.values, kValues);
  EXPECT_EQ(t.geneLabels, (std::vector<std::string>{"g1", "g2"}));
  EXPECT_EQ(t.sampleLabels, (std::vector<std::string>{"S1", "S2", "S3"}));
  EXPECT_TRUE(t.notes.empty());
}

TEST(TableFormats, TsvLayoutsDecidedByTheProbe) {
  ExpectLabelledTable(Read("t.tsv", "gene\tS1\tS2\tS3\ng1\t1.5\t-2\t3.25\ng2\t4\t0.5\t6e-3\n"),
                      TableFormat::Tsv);
  // The corner cell may be missing above the label column.
  ExpectLabelledTable(Read("t.tsv", "S1\tS2\tS3\ng1\t1.5\t-2\t3.25\ng2\t4\t0.5\t6e-3\n"), TableFormat::Tsv);

  Table plain = Read("t.tsv", "1.5\t-2\t3.25\n4\t0.5\t6e-3\n");
  EXPECT_FALSE(plain.hasHeaderRow);
  EXPECT_FALSE(plain.hasLabelColumn);
  EXPECT_EQ(plain.values, kValues);
  EXPECT_TRUE(plain.geneLabels.empty());
  EXPECT_TRUE(plain.sampleLabels.empty());

  Table headerOnly = Read("t.tsv", "S1\tS2\tS3\n1.5\t-2\t3.25\n4\t0.5\t6e-3\n");
  EXPECT_TRUE(headerOnly.hasHeaderRow);
  EXPECT_FALSE(headerOnly.hasLabelColumn);
  EXPECT_EQ(headerOnly.values, kValues);
  EXPECT_EQ(headerOnly.sampleLabels, (std::vector<std::string>{"S1", "S2", "S3"}));

  Table labelsOnly = Read("t.tsv", "g1\t1.5\t-2\t3.25\ng2\t4\t0.5\t6e-3\n");
  EXPECT_FALSE(labelsOnly.hasHeaderRow);
  EXPECT_TRUE(labelsOnly.hasLabelColumn);
  EXPECT_EQ(labelsOnly.values, kValues);
  EXPECT_EQ(labelsOnly.geneLabels, (std::vector<std::string>{"g1", "g2"}));
}

TEST(TableFormats, CrlfCrAndByteOrderMarkReadLikeLf) {
  const std::string lf = "gene\tS1\tS2\tS3\ng1\t1.5\t-2\t3.25\ng2\t4\t0.5\t6e-3\n";
  std::string crlf, cr;
  for (char c : lf) {
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    cr += c == '\n' ? '\r' : c;
  }
  ExpectLabelledTable(Read("t.tsv", crlf), TableFormat::Tsv);
  ExpectLabelledTable(Read("t.tsv", "\xEF\xBB\xBF" + crlf), TableFormat::Tsv);
  // A lone CR ends lines too, once the probe is not asked (explicit layout of a CSV).
  ExpectLabelledTable(Read("t.csv", "\xEF\xBB\xBFgene,S1,S2,S3\rg1,1.5,-2,3.25\rg2,4,0.5,6e-3\r"),
                      TableFormat::Csv);
  // Line ends mixed within one file, and CR alone in a TSV file.
  ExpectLabelledTable(Read("t.tsv", "gene\tS1\tS2\tS3\rg1\t1.5\t-2\t3.25\r\ng2\t4\t0.5\t6e-3\n"),
                      TableFormat::Tsv);
  ExpectLabelledTable(Read("t.tsv", "gene\tS1\tS2\tS3\rg1\t1.5\t-2\t3.25\rg2\t4\t0.5\t6e-3\r"),
                      TableFormat::Tsv);
  // Lines are counted across every kind of line end, also inside quotes.
  EXPECT_EQ(ReadError("t.tsv", "gene\tS1\tS2\rg1\t1\t2\r\n\rg2\t3\r"), "line 4 has 2 fields, but line 2 has 3");
  EXPECT_EQ(ReadError("t.csv", "gene,S1,S2\r\n\"g\r\n1\",1,2\r\ng2,3,x\r\n"),
            "line 4, column 3 (gene \"g2\", sample \"S2\"): \"x\" is not a number");
  // A last line without line end, and blank lines, change nothing.
  ExpectLabelledTable(Read("t.tsv", "gene\tS1\tS2\tS3\ng1\t1.5\t-2\t3.25\n\n\ng2\t4\t0.5\t6e-3"),
                      TableFormat::Tsv);
}

TEST(TableFormats, CsvQuotedFields) {
  ExpectLabelledTable(Read("t.csv", "gene,S1,S2,S3\r\ng1,1.5,-2,3.25\r\ng2,4,0.5,6e-3\r\n"),
                      TableFormat::Csv);
  Table t = Read("t.csv",
                 "\"gene\",\"S1, left\",\"S \"\"2\"\"\",S3\n"
                 "\"g1,a\",\"1.5\",-2,3.25\n"
                 "\"multi\nline\",4,0.5,\"6e-3\"\n");
  EXPECT_EQ(t.values, kValues);
  EXPECT_EQ(t.sampleLabels, (std::vector<std::string>{"S1,_left", "S_\"2\"", "S3"}));
  EXPECT_EQ(t.geneLabels, (std::vector<std::string>{"g1,a", "multi_line"}));
  ASSERT_EQ(t.notes.size(), 1u);
  EXPECT_EQ(t.notes[0], "labels changed: 3 with blanks (now underscores)");

  EXPECT_EQ(ReadError("t.csv", "gene,S1,S2\ng1,\"1.5\"x,2\n"),
            "line 2, column 2: text after the closing quote of a field");
  EXPECT_EQ(ReadError("t.csv", "gene,S1,S2\ng1,1,2\ng2,\"3,4\n"), "line 3: a quoted field is never closed");
  // A tab-separated file named .csv is read as TSV.
  EXPECT_EQ(Read("t.csv", "gene\tS1\tS2\ng1\t1\t2\ng2\t3\t4\n").format, TableFormat::Tsv);
  // Without a .csv name, a comma-only first line still makes it CSV.
  EXPECT_EQ(Read("t.txt", "gene,S1,S2,S3\ng1,1.5,-2,3.25\ng2,4,0.5,6e-3\n").format, TableFormat::Csv);
}

TEST(TableFormats, GctWithDeclaredShape) {
  const std::string gct =
      "#1.2\n2\t3\nName\tDescription\tS1\tS2\tS3\n"
      "g1\tfirst gene\t1.5\t-2\t3.25\ng2\tna\t4\t0.5\t6e-3\n";
  ExpectLabelledTable(Read("t.txt", gct), TableFormat::Gct);
  EXPECT_EQ(ReadError("t.gct", "#1.2\n3\t3\nName\tDescription\tS1\tS2\tS3\ng1\td\t1\t2\t3\ng2\td\t4\t5\t6\n"),
            "line 2 declares 3 rows and 3 columns, but the file has 2 rows and 3 columns");
  EXPECT_EQ(ReadError("t.gct", "2\t3\n"), "a GCT file starts with the line #1.2 or #1.3");
  EXPECT_EQ(Read("t.gct", gct).geneSymbols, (std::vector<std::string>{"first gene", ""}));
}

// GCT 1.3: row metadata before the values, column metadata rows after the header.
const std::string kGct13 =
    "#1.3\n2\t3\t2\t2\n"
    "id\tGene Symbol\tchr\tS1\tS2\tS3\n"
    "disease\tna\tna\tALL\tAML\tALL\n"
    "batch\t\t\t1\t2\t2\n"
    "g1\tTP53\t17\t1.5\t-2\t3.25\ng2\tNA\t8\t4\t0.5\t6e-3\n";

TEST(TableFormats, Gct13MetadataSymbolsAndClasses) {
  ReadOptions options;
  options.classesFrom = "Disease";
  Table t = ParseTable(kGct13, "t.txt", options);
  t.layout.clear();
  ExpectLabelledTable(t, TableFormat::Gct);
  EXPECT_EQ(t.geneSymbols, (std::vector<std::string>{"TP53", ""}));
  EXPECT_EQ(t.sampleClasses, (std::vector<std::string>{"ALL", "AML", "ALL"}));
  // No row metadata and no column metadata: the IDs and the values.
  Table bare = ParseTable("#1.3\n2\t3\t0\t0\nid\tS1\tS2\tS3\ng1\t1.5\t-2\t3.25\ng2\t4\t0.5\t6e-3\n", "t.gct", {});
  ExpectLabelledTable(bare, TableFormat::Gct);
  EXPECT_TRUE(bare.geneSymbols.empty());

  auto replaced = [](std::string text, const std::string& from, const std::string& to) {
    return text.replace(text.find(from), from.size(), to);
  };
  const std::vector<std::pair<std::string, std::string>> refused = {
      {replaced(kGct13, "2\t3\t2\t2", "2\t3\t2"),
       "a GCT 1.3 file needs a line with the counts of rows, columns, row metadata fields and column metadata "
       "rows, and a header line"},
      {replaced(kGct13, "2\t3\t2\t2", "2\t3\t2\tx"), "line 2: \"x\" is not a count"},
      {replaced(kGct13, "2\t3\t2\t2", "2\t3\t2\t9"), "line 2 declares 9 column metadata rows, but the file ends before them"},
      {replaced(kGct13, "2\t3\t2\t2", "1\t3\t2\t2"),
       "line 2 declares 1 rows and 3 columns, but the file has 2 rows and 3 columns"},
      {replaced(kGct13, "batch\t\t\t1\t2\t2", "batch\t1\t2\t2"), "line 5 has 4 fields, but line 4 has 6"},
      {replaced(kGct13, "\tAML\t", "\tNA\t"),
       "--classes-from \"Disease\" gives no class to 1 sample: \"S2\" (\"NA\"); every sample needs a class "
       "(give the classes with --classes FILE, or leave those samples out)"},
  };
  for (const auto& [text, message] : refused) EXPECT_EQ(ErrorOf([&] { ParseTable(text, "t.gct", options); }), message);
  options.classesFrom = "tissue";
  EXPECT_EQ(ErrorOf([&] { ParseTable(kGct13, "t.gct", options); }),
            "no column metadata row \"tissue\"; the file's column metadata rows are \"disease\", \"batch\"");
  EXPECT_EQ(ErrorOf([&] { ParseTable("#1.2\n2\t2\nName\tDescription\tS1\tS2\ng1\td\t1\t2\ng2\td\t3\t4\n", "t.gct", options); }),
            "--classes-from reads a column metadata row of a GCT 1.3 file, and this GCT 1.2 file has none");
}

TEST(TableFormats, ExportedGctReadsBack) {
  exports::ExportRecord record;
  record.samples = {"S1", "S2", "S3"};
  record.classes = {"ALL", "AML", "ALL"};
  exports::ClusterExport c;
  c.genes = {std::string(100, 'g') + "1", std::string(100, 'g') + "2"};
  c.scores = {0.75, -0.25};
  c.rows = {{0.1, -1.0 / 3, 1e-300}, {2.5, 0.0, -7.0}};
  record.clusters = {c, c};
  ReadOptions options;
  options.classesFrom = "class";
  Table t = ParseTable(exports::GctText(record), "clusters.gct", options);
  EXPECT_EQ(t.format, TableFormat::Gct);
  EXPECT_EQ(t.genes, 4);
  EXPECT_EQ(t.geneLabels[1], c.genes[1]);
  EXPECT_EQ(t.sampleLabels, record.samples);
  EXPECT_EQ(t.sampleClasses, record.classes);
  EXPECT_EQ(t.values, (std::vector<double>{0.1, -1.0 / 3, 1e-300, 2.5, 0.0, -7.0, 0.1, -1.0 / 3, 1e-300, 2.5,
                                           0.0, -7.0}));
  record.classes.clear();  // no column metadata rows
  EXPECT_EQ(ParseTable(exports::GctText(record), "clusters.gct", {}).values, t.values);
}

TEST(TableFormats, PclWithAndWithoutWeights) {
  const std::string pcl =
      "UID\tNAME\tGWEIGHT\tS1\tS2\tS3\n"
      "EWEIGHT\t\t\t1\t1\t2\n"
      "g1\tfirst\t1\t1.5\t-2\t3.25\n"
      "g2\tsecond\t1\t4\t0.5\t6e-3\n";
  ExpectLabelledTable(Read("t.txt", pcl), TableFormat::Pcl);
  ExpectLabelledTable(Read("t.pcl", "ID\tNAME\tS1\tS2\tS3\ng1\ta\t1.5\t-2\t3.25\ng2\tb\t4\t0.5\t6e-3\n"),
                      TableFormat::Pcl);
  // An explicit format overrides the name.
  ExpectLabelledTable(Read("t.tsv", pcl, MissingCells::Error, TableFormat::Pcl), TableFormat::Pcl);
}

TEST(TableFormats, MalformedTablesNameThePlace) {
  EXPECT_EQ(ReadError("t.tsv", "gene\tS1\tS2\ng1\t1\t2\ng2\t3\n"), "line 3 has 2 fields, but line 2 has 3");
  EXPECT_EQ(ReadError("t.tsv", "gene\tS1\tS2\tS3\ng1\t1\t2\ng2\t3\t4\n"),
            "line 1 names 4 columns, but line 2 has 2 values");
  EXPECT_EQ(ReadError("t.tsv", "gene\tS1\tS2\ng1\t1\t2\ng2\t3\t4x\n"),
            "line 3, column 3 (gene \"g2\", sample \"S2\"): \"4x\" is not a number");
  EXPECT_EQ(ReadError("t.tsv", "gene\tS1\tS2\ng1\t1\t2\ng2\t3\t1e999\n"),
            "line 3, column 3 (gene \"g2\", sample \"S2\"): \"1e999\" is not a finite number");
  EXPECT_EQ(ReadError("t.tsv", "gene\tS1\tS2\ng1\t1\t2\n"),
            "the analysis needs at least 2 genes and 2 samples; the table has 1 gene and 2 samples");
  EXPECT_EQ(ReadError("t.tsv", ""), "the table has no data rows");
  EXPECT_EQ(ReadError("t.tsv", "gene\tS1\tS2\n"), "the table has no data rows");
  try {
    ReadTable("/nonexistent/t.tsv", TableFormat::Tsv, MissingCells::Error);
    ADD_FAILURE() << "no error";
  } catch (const TableError& error) {
    EXPECT_STREQ(error.what(), "cannot open for reading: No such file or directory");
  }
}

const std::string kMissing =
    "gene\tS1\tS2\tS3\n"
    "g1\t1\t2\t3\n"
    "g2\t4\tNA\t6\n"
    "g3\t\t8\tnan\n"
    "g4\tN/A\tNaN\t \n"
    "g5\t7\t8\t9\n";

TEST(MissingValues, ErrorNamesTheFirstCell) {
  EXPECT_EQ(
      ReadError("t.tsv", kMissing),
      "line 3, column 3 (gene \"g2\", sample \"S2\"): missing value \"NA\"; use --missing drop to leave "
      "out genes with missing values, or --missing row-mean to fill them with the gene's mean");
  // Without labels the gene is named by its row.
  EXPECT_EQ(
      ReadError("t.tsv", "1\t2\t3\n4\t5\t\n"),
      "line 2, column 3 (gene 2): missing value \"\"; use --missing drop to leave out genes with missing "
      "values, or --missing row-mean to fill them with the gene's mean");
}

TEST(MissingValues, DropLeavesOutTheGenes) {
  Table t = Read("t.tsv", kMissing, MissingCells::Drop);
  EXPECT_EQ(t.genes, 2);
  EXPECT_EQ(t.values, (std::vector<double>{1, 2, 3, 7, 8, 9}));
  EXPECT_EQ(t.geneLabels, (std::vector<std::string>{"g1", "g5"}));
  EXPECT_EQ(t.missingCells, 6);
  ASSERT_EQ(t.notes.size(), 1u);
  EXPECT_EQ(t.notes[0], "dropped 3 genes with missing values (the first is gene \"g2\"); 2 genes left");

  // Without labels the kept genes are named by their original row.
  Table unlabelled = Read("t.tsv", "1\t2\t3\n4\tNA\t6\n7\t8\t9\n", MissingCells::Drop);
  EXPECT_EQ(unlabelled.geneLabels, (std::vector<std::string>{"GENE00001", "GENE00003"}));
  ASSERT_EQ(unlabelled.notes.size(), 2u);
  EXPECT_EQ(unlabelled.notes[1], "genes are labelled GENEnnnnn by their row in the table");

  EXPECT_EQ(ReadError("t.tsv", "1\t2\n3\tNA\n", MissingCells::Drop),
            "the analysis needs at least 2 genes and 2 samples; the table has 1 gene and 2 samples");
}

TEST(MissingValues, RowMeanFillsInTheGenesMean) {
  Table t = Read("t.tsv", kMissing, MissingCells::RowMean);
  EXPECT_EQ(t.genes, 4);  // g4 has no value at all
  EXPECT_EQ(t.values, (std::vector<double>{1, 2, 3, 4, 5, 6, 8, 8, 8, 7, 8, 9}));
  EXPECT_EQ(t.geneLabels, (std::vector<std::string>{"g1", "g2", "g3", "g5"}));
  ASSERT_EQ(t.notes.size(), 2u);
  EXPECT_EQ(t.notes[0], "replaced 3 missing values in 2 genes by the gene's mean");
  EXPECT_EQ(t.notes[1], "dropped 1 gene without any value");
}

TEST(MissingValues, InfiniteValuesRefusedUnderEveryPolicy) {
  // g2 has a missing value too: drop would leave it out, yet the overflow is named.
  const std::string table = "gene\tS1\tS2\ng1\t1\t2\ng2\tNA\t-1e400\ng3\t5\t6\n";
  for (MissingCells policy :
       {MissingCells::Error, MissingCells::Drop, MissingCells::RowMean, MissingCells::Keep}) {
    std::string expected = policy == MissingCells::Error
                               ? "line 3, column 2 (gene \"g2\", sample \"S1\"): missing value \"NA\"; use --missing"
                               : "line 3, column 3 (gene \"g2\", sample \"S2\"): \"-1e400\" is not a finite number";
    EXPECT_EQ(ReadError("t.tsv", table, policy).substr(0, expected.size()), expected)
        << static_cast<int>(policy);
  }
  // Cells are judged in reading order: a missing value or an overflow before
  // a word is the error, a word before them is.
  EXPECT_EQ(ReadError("t.tsv", "1\t2\t\n3\t4\tx\n").substr(0, 48),
            "line 1, column 3 (gene 1): missing value \"\"; use");
  EXPECT_EQ(ReadError("t.tsv", "gene\tS1\tS2\ng1\t1\t1e999\ng2\tx\t2\n", MissingCells::Drop),
            "line 2, column 3 (gene \"g1\", sample \"S2\"): \"1e999\" is not a finite number");
  EXPECT_EQ(ReadError("t.tsv", "gene\tS1\tS2\ng1\t1\tx\ng2\t1e999\t2\n", MissingCells::Keep),
            "line 2, column 3 (gene \"g1\", sample \"S2\"): \"x\" is not a number");
  // A table large enough to be split and read on two threads (CRLF line
  // ends, a blank line after row 5), one cell of row 10 and one of row 2000
  // changed: the same order, the lines counted on, every value read.
  auto large = [](const std::string& early, const std::string& late) {
    std::string text;
    for (int r = 0; r < 2400; ++r) {
      text += "g" + std::to_string(r);
      for (int s = 0; s < 128; ++s) text += "\t" + (s != 5 ? "1.5" : r == 10 ? early : r == 2000 ? late : "2");
      text += r == 5 ? "\r\n\r\n" : "\r\n";
    }
    return text;
  };
  const std::string at10 = "line 12, column 7 (gene \"g10\"): ", at2000 = "line 2002, column 7 (gene \"g2000\"): ";
  EXPECT_EQ(ReadError("t.tsv", large("NA", "x")).substr(0, at10.size() + 19), at10 + "missing value \"NA\";");
  EXPECT_EQ(ReadError("t.tsv", large("x", "1e999"), MissingCells::Keep), at10 + "\"x\" is not a number");
  EXPECT_EQ(ReadError("t.tsv", large("1e999", "x"), MissingCells::Drop), at10 + "\"1e999\" is not a finite number");
  EXPECT_EQ(ReadError("t.tsv", large("2", "x"), MissingCells::Drop), at2000 + "\"x\" is not a number");
  Table t = Read("t.tsv", large("NA", "-7"), MissingCells::Keep);
  ASSERT_EQ(t.values.size(), 2400u * 128u);
  EXPECT_TRUE(std::isnan(t.values[10 * 128 + 5]));
  EXPECT_EQ(t.values[2000 * 128 + 5], -7.0);
  EXPECT_EQ(t.values[2399 * 128 + 5] + t.values.back(), 3.5);
  EXPECT_EQ(t.geneLabels.back(), "g2399");
}

TEST(MissingValues, WordsInAnyCaseWithBlanksAndLineEnds) {
  // CRLF line ends, blanks around the words, quoted words, an empty last cell.
  Table t = Read("t.csv",
                 "gene,S1,S2,S3,S4\r\n"
                 "g1,1,\tnA ,3,4\r\n"
                 "g2, Null,\"n/a\",6,\r\n"
                 "g3,7,NAN\t,9,10\r\n",
                 MissingCells::Keep);
  EXPECT_EQ(t.missingCells, 5);
  for (std::size_t cell : {1u, 4u, 5u, 7u, 9u}) EXPECT_TRUE(std::isnan(t.values[cell])) << cell;
  EXPECT_EQ(t.values[11], 10.0);
  for (const char* word : {"N A", "NA NA", "NAs", "nil", "'NA'"}) {
    EXPECT_NE(ReadError("t.tsv", std::string("g\ta\tb\nx\t1\t") + word + "\ny\t3\t4\n", MissingCells::Keep)
                  .find("is not a number"),
              std::string::npos)
        << word;
  }
  // A sample with no value at all is dropped and counted; its cells count as missing.
  Table holes = Read("t.tsv", "gene\tS1\tS2\tS3\ng1\t1\tNA\t3\ng2\t4\t\t6\ng3\tna\tNA\t8\n",
                     MissingCells::RowMean);
  EXPECT_EQ(holes.droppedSamples, 1);
  EXPECT_EQ(holes.missingCells, 4);
  EXPECT_EQ(holes.imputedCells, 1);
  EXPECT_EQ(holes.values, (std::vector<double>{1, 3, 4, 6, 8, 8}));
}

TEST(MissingValues, KeepLeavesNaNForInspection) {
  Table t = Read("t.tsv", kMissing, MissingCells::Keep);
  EXPECT_EQ(t.genes, 5);
  EXPECT_EQ(t.missingCells, 6);
  EXPECT_TRUE(std::isnan(t.values[4]));
  EXPECT_TRUE(t.notes.empty());
}

TEST(Labels, BlanksLengthAndEmptyLabels) {
  const std::string longName = std::string(77, 'y') + "\xC3\xA9" + "z";
  std::vector<std::string> labels = {"a b\tc", std::string(85, 'x'), "", "plain", longName};
  LabelRepairs repairs;
  CleanLabels(labels, "GENE", repairs);
  // Labels of any length are kept whole: only blanks and empty labels change.
  EXPECT_EQ(labels, (std::vector<std::string>{"a_b_c", std::string(85, 'x'), "GENE00003", "plain", longName}));
  EXPECT_EQ(repairs.blanks, 1);
  EXPECT_EQ(repairs.empty, 1);

  // Ten genes sharing a 90-character prefix keep ten names, without a
  // warning of names used twice.
  std::string table = "gene\tfirst sample\t" + std::string(90, 's') + "\n";
  for (int g = 0; g < 10; ++g) table += std::string(90, 'p') + std::to_string(g) + "\t" + std::to_string(g) + "\t2\n";
  Table t = Read("t.tsv", table);
  ASSERT_EQ(t.geneLabels.size(), 10u);
  EXPECT_EQ(t.geneLabels[9], std::string(90, 'p') + "9");
  EXPECT_EQ(t.sampleLabels, (std::vector<std::string>{"first_sample", std::string(90, 's')}));
  ASSERT_EQ(t.notes.size(), 1u);
  EXPECT_EQ(t.notes[0], "labels changed: 1 with blanks (now underscores)");
}

TEST(Numbers, DecimalAndMissingWords) {
  for (const char* number : {"1", "-3.5e2", " 7 ", "+.5", "5.", "1E+03"})
    EXPECT_TRUE(IsDecimalNumber(number)) << number;
  for (const char* word : {"", "1e", ".", "12abc", "1 2", "inf", "0x10", "nan", "-"}) {
    EXPECT_FALSE(IsDecimalNumber(word)) << word;
  }
  for (const char* word : {"", "  ", "NA", "na", "NaN", "NAN", "n/a", " NA ", "null", "NULL"})
    EXPECT_TRUE(IsMissingCell(word)) << word;
  for (const char* word : {"0", "NAs", "none", "-"}) EXPECT_FALSE(IsMissingCell(word)) << word;
}

// The bits of a double, so that -0.0 and 0.0 differ.
std::uint64_t Bits(double value) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

TEST(Numbers, ValuesAreThoseOfStrtodAtTheEdges) {
  std::vector<std::string> cells = {
      "1e-400", "-1e-400", "-0", "2.4703282292062328e-324", "2.4e-324", "1e-310", "4.9406564584124654e-324",
      "1.7976931348623157e308", "-1.7976931348623158e308", "0.000000000000000000000000000000000001e-290",
      "123456789012345678901234567890", "9007199254740993", "+.5", "5.", " 7 ", "-3.5E+2", "00012", "-.5",
      ".5e-3", "1.e5", "-0.0e-0",
      "0.1000000000000000055511151231257827021181583404541015625", "1.00000000000000011102230246251565404236316680908203125"};
  // Values as they are written for the library: 17 significant digits.
  std::mt19937_64 random(7);
  for (int i = 0; i < 400; ++i) {
    double value = std::ldexp(static_cast<double>(random() >> 11), static_cast<int>(random() % 200) - 150);
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", i % 2 ? value : -value);
    cells.push_back(text);
  }
  std::string table = "gene\tS1\tS2\ng0\t1\t2\n";
  for (std::size_t i = 0; i < cells.size(); ++i) table += "g" + std::to_string(i + 1) + "\t3\t" + cells[i] + "\n";
  ReadOptions options;
  options.missing = MissingCells::Keep;
  Table t = ParseTable(table, "t.tsv", options);
  for (std::size_t i = 0; i < cells.size(); ++i) {
    EXPECT_EQ(Bits(t.values[2 * i + 3]), Bits(std::strtod(cells[i].c_str(), nullptr))) << cells[i];
  }
  // Decimal commas give the same bits as points.
  options.decimalComma = true;
  Table comma = ParseTable("gene\tS1\tS2\ng1\t0,1\t-2,5e-3\ng2\t1e-400\t3,\n", "t.tsv", options);
  EXPECT_EQ(comma.values, (std::vector<double>{0.1, -2.5e-3, 0.0, 3.0}));
  // Forms strtod reads but the grammar refuses stay words.
  for (const char* word : {"0x10", "inf", "-Infinity", "1e", "1e+", "1.5.2", "--1", "1d5", "\xC2\xA0" "1", "1e5e",
                           "0x1p3", "-.", "1.e", ".e5"}) {
    EXPECT_EQ(ReadError("t.tsv", std::string("g\ta\tb\nx\t1\t") + word + "\ny\t3\t4\n"),
              std::string("line 2, column 3 (gene \"x\", sample \"b\"): \"") + word + "\" is not a number");
  }
}

TEST(ClassFiles, IntegersWordsAndLineEnds) {
  TempDir dir;
  std::vector<std::string> notes;
  dir.Write("a.cls",
            "\xEF\xBB\xBF"
            "0\r\n1\r\n 1 \r\n\r\n\n");  // blank lines at the end are no classes
  SampleClasses a = ReadClassFile(dir.File("a.cls"), notes);
  EXPECT_EQ(a.classes, (std::vector<int>{0, 1, 1}));
  EXPECT_TRUE(a.names.empty());  // integers need no names: the legend says "class 0"
  EXPECT_EQ(ClassName(a, 1), "class 1");
  EXPECT_TRUE(notes.empty());

  dir.Write("b.cls", "ALL\nAML\nALL\n1\n");
  SampleClasses b = ReadClassFile(dir.File("b.cls"), notes);
  EXPECT_EQ(b.classes, (std::vector<int>{0, 1, 0, 2}));
  EXPECT_EQ(b.names, (std::map<int, std::string>{{0, "ALL"}, {1, "AML"}, {2, "1"}}));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], "class labels numbered: ALL = 0, AML = 1, 1 = 2");

  dir.Write("c.cls", "\n \n");
  EXPECT_THROW(ReadClassFile(dir.File("c.cls"), notes), TableError);
}

TEST(ClassFiles, GapsMissingWordsAndCountsAreErrors) {
  std::vector<std::string> notes;
  EXPECT_EQ(ErrorOf([&] { ParseClassText("0\n\n1\n", notes); }),
            "line 2 is empty: every sample needs a class, one per line");
  EXPECT_EQ(ErrorOf([&] { ParseClassText("ALL\r\nNA\r\nAML\r\n", notes); }),
            "line 2: \"NA\" is a missing value, not a class; every sample needs a class");
  SampleClasses one = ParseClassText("ALL\nALL\nALL\n", notes);
  EXPECT_EQ(ErrorOf([&] { CheckClasses(one, 3, true); }),
            "supervision needs at least two classes, and every sample is in class \"ALL\"");
  EXPECT_NO_THROW(CheckClasses(one, 3, false));  // one class may still colour a report
  EXPECT_EQ(ErrorOf([&] { CheckClasses(ParseClassText("1\n1\n", notes), 2, true); }),
            "supervision needs at least two classes, and every sample is in class 1");
  EXPECT_EQ(ErrorOf([&] { CheckClasses(one, 4, false); }), "holds 3 classes, but the table has 4 samples");
}

std::string Gzip(const std::string& text) {
  z_stream stream{};
  deflateInit2(&stream, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out(text.size() + 128, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(out.size() - stream.avail_out);
  deflateEnd(&stream);
  return out;
}

TEST(ByteSources, GzipMembersPlainFilesAndEncodings) {
  const std::string tsv = "gene\tS1\tS2\tS3\ng1\t1.5\t-2\t3.25\ng2\t4\t0.5\t6e-3\n";
  // Read whatever the name: gzip is known by its first bytes.
  ExpectLabelledTable(Read("t.tsv", Gzip(tsv)), TableFormat::Tsv);
  ExpectLabelledTable(Read("t.csv.gz", Gzip("gene,S1,S2,S3\ng1,1.5,-2,3.25\ng2,4,0.5,6e-3\n")),
                      TableFormat::Csv);
  // A table of many chunks, whose size is not known before reading, reads
  // like the plain file.
  // A file of over 1 MiB is mapped, not copied: as a TSV, after a UTF-8
  // byte-order mark, and as a CSV with quoted names (unquoted in a copy).
  std::string big = "gene", csv = "gene";
  for (int s = 0; s < 60; ++s) {
    big += "\tS" + std::to_string(s);
    csv += ",S" + std::to_string(s);
  }
  for (int g = 0; g < 3000; ++g) {
    big += "\ng" + std::to_string(g);
    csv += "\n\"g," + std::to_string(g) + '"';
    for (int s = 0; s < 60; ++s) {
      const std::string cell = std::to_string((g * 31 + s * 17) % 1000 / 7.0);
      big += "\t" + cell;
      csv += "," + cell;
    }
  }
  Table zipped = Read("big.tsv.gz", Gzip(big + "\n"));
  EXPECT_EQ(zipped.values, Read("big.tsv", big).values);
  EXPECT_EQ(zipped.values, Read("big.tsv", "\xEF\xBB\xBF" + big).values);
  Table quoted = Read("big.csv", csv);
  EXPECT_EQ(quoted.values, zipped.values);
  EXPECT_EQ(quoted.geneLabels[2999], "g,2999");
  EXPECT_EQ(zipped.genes, 3000);
  {
    // Cut short while mapped: the lost pages read as zero bytes, and the
    // reader is told; the next file maps again.
    TempDir dir;
    dir.Write("big.tsv", big);
    InputBytes first(dir.File("big.tsv"));
    ASSERT_TRUE(first.Mapped());
    InputBytes second(dir.File("big.tsv"));  // one mapping at a time
    EXPECT_FALSE(second.Mapped());
    EXPECT_EQ(second.View(), big);
    first.Check();
    ASSERT_EQ(truncate(dir.File("big.tsv").c_str(), 4096), 0);
    EXPECT_EQ(first.View()[4095], big[4095]);
    EXPECT_EQ(first.View()[big.size() - 1], '\0');
    EXPECT_THROW(first.Check(), TableError);
  }
  TempDir again;
  again.Write("big.tsv", big);
  EXPECT_TRUE(InputBytes(again.File("big.tsv")).Mapped());
  // Two members one after the other read as one stream, in small reads too.
  GzipSource two(std::make_unique<MemorySource>(Gzip(tsv.substr(0, 20)) + Gzip(tsv.substr(20))));
  std::string joined;
  char piece[7];
  for (std::size_t got; (got = two.Read(piece, sizeof piece)) > 0;) joined.append(piece, got);
  EXPECT_EQ(joined, tsv);
  std::string cut = Gzip(tsv);
  cut.resize(cut.size() / 2);
  EXPECT_EQ(ReadError("t.tsv.gz", cut), "the gzip data end too early (the file is cut off)");
  EXPECT_EQ(ReadError("t.tsv.gz", Gzip(tsv) + "junk"),
            "bytes after the end of the gzip data are no gzip data");
  std::string damaged = Gzip(tsv);
  damaged[12] = static_cast<char>(damaged[12] ^ 0x55);
  EXPECT_NE(ReadError("t.tsv.gz", damaged).find("gzip data"), std::string::npos);

  std::string utf16 = "\xFF\xFE";
  for (char c : tsv) utf16 += std::string{c, '\0'};
  EXPECT_EQ(ReadError("t.tsv", utf16).substr(0, 73),
            "the file is UTF-16 (little-endian) text, which tarvok does not read; conv");
  EXPECT_NE(ReadError("t.tsv", utf16.substr(2)).find("iconv -f UTF-16 -t UTF-8"), std::string::npos);
  EXPECT_EQ(ReadError("t.xlsx", std::string("PK\x03\x04\x14\0\x06\0", 8)).substr(0, 45),
            "the file is a spreadsheet workbook (or anothe");
  // Zero bytes that do not pair up like UTF-16 are no UTF-16.
  EXPECT_EQ(ReadError("t.tsv", std::string("a\0\0b\tc\0\0\0\n", 11)).find("UTF-16"), std::string::npos);
}

TEST(Layout, NumericNamesCornerCellsAndForcedAnswers) {
  // Numeric sample names above decimal data: a header, with a warning.
  Table numeric = Read("t.tsv", "Gene\t101\t102\t103\ng1\t1.5\t-2\t3.25\ng2\t4\t0.5\t6e-3\n");
  EXPECT_EQ(numeric.sampleLabels, (std::vector<std::string>{"101", "102", "103"}));
  EXPECT_EQ(numeric.values, kValues);
  ASSERT_EQ(numeric.notes.size(), 1u);
  EXPECT_EQ(numeric.notes[0].substr(0, 27), "warning: a guess decided th");
  // Numeric gene IDs under a titled corner, and without a header.
  Table ids = Read("t.tsv", "Entrez_ID\tS1\tS2\tS3\n7157\t1.5\t-2\t3.25\n672\t4\t0.5\t6e-3\n");
  EXPECT_EQ(ids.geneLabels, (std::vector<std::string>{"7157", "672"}));
  EXPECT_EQ(ids.values, kValues);
  Table bare = Read("t.tsv", "7157\t1.5\t-2\t3.25\n672\t4\t0.5\t6e-3\n");
  EXPECT_TRUE(bare.hasLabelColumn);
  EXPECT_FALSE(bare.hasHeaderRow);
  EXPECT_EQ(bare.values, kValues);
  // Counts: all whole numbers. A corner like the gene names below is data;
  // sample names that share the corner's stem leave column 1 as data.
  Table counts = Read("t.tsv", "g1\t1\t2\t3\ng2\t4\t5\t6\n");
  EXPECT_FALSE(counts.hasHeaderRow);
  EXPECT_EQ(counts.genes, 2);
  Table samples = Read("t.tsv", "S1\tS2\tS3\n1\t2\t3\n4\t5\t6\n");
  EXPECT_FALSE(samples.hasLabelColumn);
  EXPECT_EQ(samples.samples, 3);
  // An empty corner above gene names, numeric sample names after it.
  Table empty = Read("t.tsv", "\t7\t8\t9\ng1\t1\t2\t3\ng2\t4\t5\t6\n");
  EXPECT_EQ(empty.sampleLabels, (std::vector<std::string>{"7", "8", "9"}));
  EXPECT_TRUE(empty.notes.empty());

  // A GEO export's IDENTIFIER column, or any second column of words, gives
  // symbols beside the first column's keys; numbers there are data.
  for (const char* text : {"ID_REF\tIDENTIFIER\tS1\tS2\tS3\n1_at\tTP53\t1.5\t-2\t3.25\n2_at\tMYC\t4\t0.5\t6e-3\n",
                           "ID\tSymbol\tS1\tS2\tS3\n1_at\tTP53\t1.5\t-2\t3.25\n2_at\t MYC \t4\t0.5\t6e-3\n"}) {
    Table geo = Read("t.tsv", text);
    EXPECT_EQ(geo.geneLabels, (std::vector<std::string>{"1_at", "2_at"})) << text;
    EXPECT_EQ(geo.geneSymbols, (std::vector<std::string>{"TP53", "MYC"})) << text;
    EXPECT_EQ(geo.values, kValues) << text;
  }
  // Repeated, missing and empty symbols stay beside their own keys.
  Table repeated = Read("t.tsv", "ID\tSymbol\tS1\tS2\na\tX\t1\t2\nb\tNA\t3\t5\nc\tX\t4\t4\nd\t\t1\t0\n");
  EXPECT_EQ(repeated.geneLabels, (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(repeated.geneSymbols, (std::vector<std::string>{"X", "", "X", ""}));
  EXPECT_TRUE(Read("t.tsv", "ID\tS1\tS2\na\t1\t2\nb\t3\t5\n").geneSymbols.empty());

  ReadOptions forced;
  forced.header = Choice::No;
  forced.rowNames = Choice::Yes;
  Table t = ParseTable("Gene\t101\t102\ng1\t1\t2\ng2\t3\t4\n", "t.tsv", forced);
  EXPECT_EQ(t.geneLabels, (std::vector<std::string>{"Gene", "g1", "g2"}));
  EXPECT_EQ(t.layout, (std::vector<std::string>{"line 1 is data (--header no)",
                                                "column 1 holds the gene names (--row-names yes)"}));
  forced.header = Choice::Yes;
  forced.rowNames = Choice::No;
  t = ParseTable("1\t2\t3\n4\t5\t6\n7\t8\t9\n", "t.tsv", forced);
  EXPECT_EQ(t.sampleLabels, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(t.genes, 2);
}

TEST(Layout, TitledOrBlankCornersKeepRepeatedIdsAsGenes) {
  // Entrez IDs with one repeated, under corners that title them in any case,
  // as whole cells or camel-case parts, or leave the corner blank.
  const std::string rows = "\t1.5\t-2\t3.25\n672\t4\t0.5\t6e-3\n7157\t1\t2\t3.5\n";
  for (const char* corner : {"EntrezID", "ENTREZID", "GeneID", "geneId", "ProbeID", "ID_REF", "IDRef", "X", "x",
                             "", "probe set"}) {
    Table t = Read("t.tsv", std::string(corner) + "\tS1\tS2\tS3\n7157" + rows);
    EXPECT_TRUE(t.hasLabelColumn) << corner;
    EXPECT_EQ(t.samples, 3) << corner;
    EXPECT_EQ(t.geneLabels, (std::vector<std::string>{"7157", "672", "7157"})) << corner;
    ASSERT_EQ(t.notes.size(), 2u) << corner;
    EXPECT_NE(t.notes[0].find("holds gene IDs"), std::string::npos) << t.notes[0];
    EXPECT_NE(t.notes[0].find("(1 value repeated)"), std::string::npos) << t.notes[0];
    EXPECT_EQ(t.notes[1].substr(0, 29), "warning: 1 gene name is used ") << corner;
  }
  // No header: whole numbers beside decimals are IDs when few repeat; a
  // column of few repeating levels is a sample.
  EXPECT_TRUE(Read("t.tsv", "7157" + rows).hasLabelColumn);
  Table levels = Read("t.tsv", "Level\tS1\tS2\n1\t1.5\t2\n2\t0.5\t1\n1\t3.5\t2\n2\t4.5\t1\n1\t1.5\t0\n");
  EXPECT_FALSE(levels.hasLabelColumn);
  EXPECT_EQ(levels.samples, 3);
}

TEST(Layout, ShapeRepairsAndWarnings) {
  // A separator at the end of every line is no sample.
  Table trailing = Read("t.tsv", "gene\tS1\tS2\tS3\t\ng1\t1.5\t-2\t3.25\t\ng2\t4\t0.5\t6e-3\t\n");
  EXPECT_EQ(trailing.samples, 3);
  EXPECT_EQ(trailing.values, kValues);
  // A sample without any value is dropped before the genes under drop and row-mean.
  const std::string holes = "gene\tS1\tS2\tS3\ng1\t1\tNA\t3\ng2\t4\t\t6\ng3\t7\tNA\t8\n";
  for (MissingCells policy : {MissingCells::Drop, MissingCells::RowMean}) {
    Table t = Read("t.tsv", holes, policy);
    EXPECT_EQ(t.sampleLabels, (std::vector<std::string>{"S1", "S3"}));
    EXPECT_EQ(t.values, (std::vector<double>{1, 3, 4, 6, 7, 8}));
    ASSERT_FALSE(t.notes.empty());
    EXPECT_EQ(t.notes[0], "dropped 1 sample without any value (the first is \"S2\"); 2 samples left");
  }
  Table dup = Read("t.tsv", "gene\tS1\tS1\tS2\na\t1\t2\t3\nb\t4\t5\t6\na\t7\t8\t0\na\t1\t1\t2\n");
  ASSERT_EQ(dup.notes.size(), 2u);
  EXPECT_EQ(dup.notes[0],
            "warning: 1 gene name is used more than once, by 3 genes in all (the first is \"a\")");
  EXPECT_EQ(dup.notes[1].substr(0, 19), "warning: 1 sample n");
  // A forced format must be the file's.
  const std::string tsv = "gene\tS1\tS2\tS3\ng1\t1.5\t-2\t3.25\ng2\t4\t0.5\t6e-3\n";
  EXPECT_NE(ErrorOf([&] {
              Read("t.tsv", tsv, MissingCells::Error, TableFormat::Pcl);
            }).find("would lose a sample"),
            std::string::npos);
  EXPECT_EQ(ErrorOf([&] { Read("t.txt", tsv, MissingCells::Error, TableFormat::Csv); }),
            "--format csv, but line 1 is separated by tabs, not commas (say --format tsv)");
  EXPECT_EQ(ErrorOf([&] { Read("t.txt", "#1.2\n1\t1\n", MissingCells::Error, TableFormat::Tsv); }),
            "--format tsv, but the file is a gct file (say --format gct or auto)");
  // No variance at all.
  EXPECT_EQ(
      ErrorOf([&] { CheckVariance(Read("t.tsv", "g\ta\tb\nx\t0\t0\ny\t2\t2\n")); }),
      "every gene has the same value in all 2 samples: the data have no variance, so there is nothing to "
      "cluster");
  EXPECT_NO_THROW(CheckVariance(Read("t.tsv", "g\ta\tb\nx\t0\t0\ny\t2\t3\n")));
  // Values beyond what the analysis holds, named by gene and sample.
  EXPECT_EQ(ErrorOf([&] { CheckValuesRepresentable(Read("t.tsv", "g\ta\tb\nx\t0\t1\ny\t1e308\t3\n")); }),
            "the value of gene \"y\", sample \"a\" is 1e+308, beyond what the analysis can hold (magnitudes up "
            "to 1e+140); rescale the data, for example take logarithms");
  EXPECT_EQ(ErrorOf([&] { CheckValuesRepresentable(Read("t.tsv", "0\t1\n-2e200\t3\n")); }).substr(0, 45),
            "the value of gene 2, sample 1 is -2e+200, bey");
  EXPECT_NO_THROW(CheckValuesRepresentable(Read("t.tsv", "g\ta\tb\nx\t0\t1\ny\t1e140\t3\n")));
}

TEST(TableFormats, EuropeanCsvAndDecimalCommas) {
  Table eu = Read("t.csv", "gene;S1;S2;S3\ng1;1,5;-2;3,25\ng2;4;0,5;6e-3\n");
  ExpectLabelledTable(eu, TableFormat::Csv);
  EXPECT_EQ(eu.separator, ';');
  EXPECT_TRUE(eu.decimalComma);
  // Without a header the commas between digits still mark decimals.
  EXPECT_EQ(Read("t.txt", "1,5;-2;3,25\n4;0,5;6e-3\n").values, kValues);
  EXPECT_EQ(ReadError("t.tsv", "gene\tS1\tS2\ng1\t1,5\t2\ng2\t3\t4\n"),
            "line 2, column 2 (gene \"g1\", sample \"S1\"): \"1,5\" is not a number (for decimal commas use "
            "--decimal-comma)");
  ReadOptions comma;
  comma.decimalComma = true;
  Table t = ParseTable("gene\tS1\tS2\tS3\ng1\t1,5\t-2\t3,25\ng2\t4\t0,5\t6e-3\n", "t.tsv", comma);
  ExpectLabelledTable(t, TableFormat::Tsv);
  EXPECT_EQ(ReadError("t.csv", "gene;S1;S2\ng1;1.234,5;2\ng2;3;4\n").substr(0, 55),
            "line 2, column 2 (gene \"g1\", sample \"S1\"): \"1.234,5\" is");
  // A point that may group thousands is refused; other points read as decimals.
  for (std::string cell : {"1.500", "-12.345", "+999.000"}) {
    const std::string expected =
        "line 3, column 3 (gene \"g2\", sample \"S2\"): \"" + cell + "\" is ambiguous in a file with decimal commas";
    EXPECT_EQ(ReadError("t.csv", "gene;S1;S2\ng1;1,5;2\ng2;3; " + cell + " \n").substr(0, expected.size()), expected);
  }
  EXPECT_NE(ReadError("t.csv", "gene;S1;S2\ng1;1,5;2\ng2;3;1.500\n").find("write \"1,500\" for the decimal or \"1500\""),
            std::string::npos);
  Table points = Read("t.csv", "gene;S1;S2;S3;S4;S5\ng1;0.500;1.5;1234.5;1.500e3;2\ng2;3;4;5;6;7\n");
  EXPECT_EQ(points.values, (std::vector<double>{0.5, 1.5, 1234.5, 1500, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(Read("t.tsv", "gene\tS1\tS2\ng1\t1.500\t2\ng2\t3\t4\n").values[0], 1.5);  // no decimal commas
}

TEST(GeoFiles, SeriesMatrixWithClassesByKeyOrLine) {
  const std::string matrix = GeoSeriesMatrix(10, 6);
  ReadOptions options;
  options.classesFrom = "disease state";
  Table t = ParseTable(matrix, "GSE9_series_matrix.txt", options);
  EXPECT_EQ(t.format, TableFormat::SeriesMatrix);
  EXPECT_EQ(t.genes, 10);
  EXPECT_EQ(t.values, SyntheticValues(10, 6));
  EXPECT_EQ(t.geneLabels[0], "1000_at");
  EXPECT_EQ(t.sampleLabels,
            (std::vector<std::string>{"GSM100", "GSM101", "GSM102", "GSM103", "GSM104", "GSM105"}));
  EXPECT_EQ(t.sampleClasses, (std::vector<std::string>{"ALL", "AML", "ALL", "AML", "ALL", "AML"}));
  // A key matches in any case; a whole !Sample_ line by its name.
  options.classesFrom = "Tissue";
  EXPECT_EQ(ParseTable(matrix, "m.txt", options).sampleClasses[3], "marrow");
  for (const char* name : {"!Sample_source_name_ch1", "source_name_ch1"}) {
    options.classesFrom = name;
    EXPECT_EQ(ParseTable(matrix, "m.txt", options).sampleClasses[1], "bone marrow AML") << name;
  }
  options.classesFrom = "sex";
  EXPECT_EQ(ErrorOf([&] { ParseTable(matrix, "m.txt", options); }),
            "no sample annotation \"sex\"; the file has the lines title, geo_accession, source_name_ch1, "
            "characteristics_ch1 and the characteristics \"tissue\", \"disease state\"");
  // Samples without a class (NA or empty) are refused, all named.
  std::string holes = matrix;
  holes.replace(holes.find("disease state: AML"), 18, "disease state: NA");
  holes.replace(holes.find("\"bone marrow ALL\""), 17, "\"\"");
  options.classesFrom = "source_name_ch1";
  EXPECT_EQ(ErrorOf([&] { ParseTable(holes, "m.txt", options); }),
            "--classes-from \"source_name_ch1\" gives no class to 1 sample: \"GSM100\" (empty); every sample needs a class "
            "(give the classes with --classes FILE, or leave those samples out)");
  options.classesFrom = "disease state";
  EXPECT_EQ(ErrorOf([&] { ParseTable(holes, "m.txt", options); }).substr(0, 74),
            "--classes-from \"disease state\" gives no class to 1 sample: \"GSM101\" (\"NA\")");
  options.classesFrom.clear();
  std::string cut = matrix.substr(0, matrix.find("!series_matrix_table_end"));
  EXPECT_NE(ErrorOf([&] { ParseTable(cut, "m.txt", options); }).find("is the file cut off?"),
            std::string::npos);
  // Forced onto a plain table, the format is refused.
  options.format = TableFormat::SeriesMatrix;
  EXPECT_EQ(ErrorOf([&] { ParseTable("g\ta\tb\nx\t1\t2\ny\t3\t4\n", "t.tsv", options); }),
            "the file has no !series_matrix_table_begin line");
}

TEST(GeoFiles, DataSetWithIdentifiersNullsAndSubsets) {
  const std::string gds = GeoDataSet(14, 6);
  ReadOptions options;
  options.missing = MissingCells::Drop;
  options.classesFrom = "Disease State";
  Table t = ParseTable(gds, "GDS9.soft", options);
  EXPECT_EQ(t.format, TableFormat::Gds);
  EXPECT_EQ(t.genes, 13);                 // the last has a null cell
  EXPECT_EQ(t.geneLabels[0], "1000_at");  // ID_REF is the key, IDENTIFIER the symbol
  EXPECT_EQ(t.geneSymbols.size(), 13u);   // in step with the genes kept
  EXPECT_EQ(t.geneSymbols[0], "GENE0");
  EXPECT_EQ(t.geneSymbols[6], "GENE5");   // a probe of a gene another probe has
  EXPECT_EQ(t.geneSymbols[10], "--Control");
  EXPECT_EQ(t.geneSymbols[12], "GENE12");
  EXPECT_EQ(t.sampleClasses, (std::vector<std::string>{"ALL", "AML", "ALL", "AML", "ALL", "AML"}));
  ASSERT_EQ(t.notes.size(), 1u);  // keys are unique: no warning of repeated names
  options.classesFrom = "agent";
  EXPECT_EQ(ErrorOf([&] { ParseTable(gds, "GDS9.soft", options); }),
            "no subset of type \"agent\"; the file's subset types are \"disease state\"");
  std::string partial = gds;
  partial.replace(partial.find("GSM100,"), 7, "");
  options.classesFrom = "disease state";
  EXPECT_EQ(ErrorOf([&] { ParseTable(partial, "GDS9.soft", options); }),
            "sample \"GSM100\" is in no subset of type \"disease state\"");
  // Gzip and standard input find the format by content alone.
  EXPECT_EQ(Read("anything", Gzip(gds), MissingCells::Keep).format, TableFormat::Gds);
}

TEST(GeoFiles, FamilySoftOfOnePlatformWithSymbolsAndClasses) {
  const std::string family = GeoFamilySoft(10, 6);
  ReadOptions options;
  options.missing = MissingCells::Keep;
  // Samples of two platforms: no guess, the platforms named.
  try {
    ParseTable(family, "GSE9_family.soft", options);
    ADD_FAILURE() << "no error";
  } catch (const PlatformChoiceError& error) {
    EXPECT_EQ(std::string(error.what()),
              "the file holds samples of 2 platforms: GPL1 (6 samples), GPL2 (2 samples); choose one with --platform");
    EXPECT_EQ(error.platforms, (std::vector<std::string>{"GPL1 (6 samples)", "GPL2 (2 samples)"}));
  }
  options.platform = "GPL3";
  EXPECT_EQ(ErrorOf([&] { ParseTable(family, "f.soft", options); }),
            "no platform \"GPL3\" in the file; it has GPL1 (6 samples), GPL2 (2 samples)");
  // Rows in the platform table's order, the probe it lacks last; a probe a
  // sample lacks is a missing value there.
  options.platform = "gpl1";
  options.classesFrom = "disease state";
  Table t = ParseTable(family, "f.soft", options);
  EXPECT_EQ(t.format, TableFormat::FamilySoft);
  ASSERT_EQ(t.genes, 11);
  EXPECT_EQ(t.geneLabels[0], "1000_at");
  EXPECT_EQ(t.geneLabels[9], "1009_at");
  EXPECT_EQ(t.geneLabels[10], "extra_at");
  EXPECT_EQ(t.missingCells, 1 + 5);
  const std::vector<double> values = SyntheticValues(10, 6);
  EXPECT_EQ(std::vector<double>(t.values.begin(), t.values.begin() + 9 * 6),
            std::vector<double>(values.begin(), values.begin() + 9 * 6));
  EXPECT_EQ(t.geneSymbols, (std::vector<std::string>{"SYM0", "SYM1", "SYM2", "SYM3", "", "SYM5", "SYM6", "SYM7",
                                                     "SYM8", "", ""}));
  EXPECT_EQ(t.sampleLabels[5], "GSM105");
  EXPECT_EQ(t.sampleClasses, (std::vector<std::string>{"ALL", "AML", "ALL", "AML", "ALL", "AML"}));
  EXPECT_EQ(t.platforms, (std::vector<std::string>{"GPL1 (6 samples)", "GPL2 (2 samples)"}));
  options.classesFrom = "!Sample_title";
  EXPECT_EQ(ParseTable(family, "f.soft", options).sampleClasses[2], "patient 3");
  // The policy sees the missing cells; an error names the sample's line.
  options.classesFrom.clear();
  options.missing = MissingCells::Drop;
  EXPECT_EQ(ParseTable(family, "f.soft", options).genes, 9);
  options.missing = MissingCells::Error;
  EXPECT_EQ(ErrorOf([&] { ParseTable(family, "f.soft", options); }).substr(0, 62),
            "no row in the sample's table (gene \"1009_at\", sample \"GSM105\")");
  // Damaged sample tables say where.
  std::string doubled = family;
  doubled.insert(doubled.find("1003_at\t", doubled.find("^SAMPLE = GSM102")), "1001_at\t1\tP\n");
  options.missing = MissingCells::Keep;
  EXPECT_NE(ErrorOf([&] { ParseTable(doubled, "f.soft", options); }).find("sample GSM102 has a second row for "
                                                                          "ID_REF \"1001_at\""),
            std::string::npos);
  std::string noValue = family;
  noValue.replace(noValue.find("ID_REF\tVALUE\tABS_CALL"), 21, "ID_REF\tSIGNAL\tABS_CALL");
  EXPECT_NE(ErrorOf([&] { ParseTable(noValue, "f.soft", options); }).find("the table of sample GSM100 has no VALUE column"),
            std::string::npos);
  const std::string cut = family.substr(0, family.find("!sample_table_end"));
  EXPECT_NE(ErrorOf([&] { ParseTable(cut, "f.soft", options); }).find("is the file cut off?"), std::string::npos);
  EXPECT_EQ(DetectFormat("anything", family), TableFormat::FamilySoft);
}

TEST(GeoFiles, AnnotationGivesSymbolsByProbeId) {
  TempDir dir;
  dir.Write("GPL1.annot",
            "^Annotation\n!Annotation_date = Jan 01 2020\n^PLATFORM = GPL1\n!Platform_title = Array one\n"
            "#ID = probe\n#Gene title = title\n#Gene symbol = symbol\n!platform_table_begin\n"
            "ID\tGene title\tGene symbol\tGene ID\n1000_at\tt\tAAA\t1\n1002_at\tt\tCCC /// DDD\t3\n"
            "9999_at\tt\tZZZ\t9\n!platform_table_end\n");
  ReadOptions options;
  options.annotation = dir.File("GPL1.annot");
  Table t = ParseTable(GeoSeriesMatrix(10, 6), "m.txt", options);
  ASSERT_EQ(t.geneSymbols.size(), 10u);
  EXPECT_EQ(t.geneSymbols[0], "AAA");
  EXPECT_EQ(t.geneSymbols[1], "");
  EXPECT_EQ(t.geneSymbols[2], "CCC /// DDD");
  EXPECT_EQ(t.notes.back(), "symbols for 2 of 10 gene IDs from " + dir.File("GPL1.annot"));
  // A family SOFT file serves as a platform file too, with --platform for one of several.
  dir.Write("family.soft", GeoFamilySoft(10, 6));
  options.annotation = dir.File("family.soft");
  options.platform = "GPL1";
  EXPECT_EQ(ParseTable(GeoSeriesMatrix(10, 6), "m.txt", options).geneSymbols[3], "SYM3");
  options.platform = "";
  EXPECT_EQ(ParseTable(GeoSeriesMatrix(10, 6), "m.txt", options).geneSymbols[3], "SYM3") << "GPL2 has no table";
  dir.Write("bare.soft", "^PLATFORM = GPL5\n!platform_table_begin\nID\tGB_ACC\nx\ty\n!platform_table_end\n");
  options.annotation = dir.File("bare.soft");
  EXPECT_NE(ErrorOf([&] { ParseTable(GeoSeriesMatrix(10, 6), "m.txt", options); }).find("no gene symbol column"),
            std::string::npos);
  options.annotation = dir.File("GPL1.annot");
  EXPECT_EQ(ErrorOf([&] { ParseTable("1\t2\n3\t4\n", "plain.tsv", options); }),
            "--annotation finds symbols by probe ID, and the table has no column of gene IDs");
}

TEST(LogScale, ValueTypeOrQuantilesDecideBeforeTheMissingPolicy) {
  // Small counts: only the value type says log.
  const std::string gds =
      "^DATABASE = Geo\n^DATASET = GDS1\n!dataset_value_type = count\n!dataset_table_begin\n"
      "ID_REF\tIDENTIFIER\tGSM1\tGSM2\tGSM3\np1\tA\t4\t8\t16\np2\tB\t0\t2\t1\np3\tC\t1\tnull\t32\n"
      "p4\tD\t2\t4\t8\n!dataset_table_end\n";
  ReadOptions options;
  options.log2 = tarvok::LogChoice::Auto;
  options.missing = MissingCells::Drop;
  Table t = ParseTable(gds, "GDS1.soft", options);
  EXPECT_TRUE(t.log2.decision.apply);
  EXPECT_EQ(t.log2.decision.reason, "the file's value type is \"count\"");
  EXPECT_EQ(t.log2.nonPositive, 1);
  EXPECT_EQ(t.missingCells, 2);
  EXPECT_EQ(t.values, (std::vector<double>{2, 3, 4, 1, 2, 3}));
  EXPECT_EQ(t.notes[0], "1 value at or below 0 became missing (they have no log2)");
  options.missing = MissingCells::Error;
  const std::string refused = ErrorOf([&] { ParseTable(gds, "GDS1.soft", options); });
  EXPECT_EQ(refused.substr(0, 22), "line 7, column 3 (gene");
  EXPECT_NE(refused.find(", sample \"GSM1\"): \"0\" has no log2, so it is a missing value; use --missing drop or "
                         "--missing row-mean, or --log2 no to analyse the values as they are"),
            std::string::npos)
      << refused;
  // Raw counts in a plain table: the quantile rule; the log of each value.
  const std::string counts = "gene\tA\tB\ng1\t1024\t2\ng2\t8\t65536\ng3\t4\t16\n";
  t = ParseTable(counts, "c.tsv", options);
  EXPECT_EQ(t.values, (std::vector<double>{10, 1, 3, 16, 2, 4}));
  EXPECT_NE(t.log2.decision.reason.find("(99th percentile above 100)"), std::string::npos);
  options.log2 = tarvok::LogChoice::No;
  EXPECT_EQ(ParseTable(counts, "c.tsv", options).values[0], 1024);
  // The readers' own default reads values as they are.
  EXPECT_EQ(ReadOptions().log2, tarvok::LogChoice::No);
}

}  // namespace
