// The tarvok program end to end, run as a subprocess on small tables:
// probe output, usage errors, whole runs with labels and missing values, a
// fatal error in the analysis, an interrupted run, and the C example.
#include <dirent.h>
#include <fmt/format.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <nlohmann/json.hpp>
#include <thread>

#include "cli/Cli.h"
#include "HostTestSupport.h"
#include "tables/Table.h"
#include "core/Analysis.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

using namespace tarvok;  // the host's code

namespace {

TEST(Probe, AnswersAndShapeOfEachFormat) {
  TempDir dir;
  dir.Write("labelled.tsv", SyntheticTable(12, 4, true, true));
  dir.Write("plain.tsv", SyntheticTable(12, 4, false, false));
  dir.Write("t.csv", "\xEF\xBB\xBF\"gene\",\"a b\",c\r\n\"x,1\",1,NA\r\ny,2,3\r\n");
  dir.Write("t.gct", "#1.2\n2\t2\nName\tDescription\tA\tB\nx\td\t1\t2\ny\td\t\t4\n");
  dir.Write("t.pcl",
            "UID\tNAME\tGWEIGHT\tA\tB\tC\nEWEIGHT\t\t\t1\t1\t1\nx\tn\t1\t1\t2\t3\ny\tn\t1\t4\t5\t6\n");
  struct Case {
    const char* file;
    const char* expected;
  };
  const Case cases[] = {
      {"labelled.tsv",
       "format: tsv\nhasHeaderRow: 1\nhasLabelColumn: 1\ngenes: 12\nsamples: 4\nmissing values: 0\n"},
      {"plain.tsv",
       "format: tsv\nhasHeaderRow: 0\nhasLabelColumn: 0\ngenes: 12\nsamples: 4\nmissing values: 0\n"},
      {"t.csv", "format: csv\nhasHeaderRow: 1\nhasLabelColumn: 1\ngenes: 2\nsamples: 2\nmissing values: 1\n"},
      {"t.gct", "format: gct\nhasHeaderRow: 1\nhasLabelColumn: 1\ngenes: 2\nsamples: 2\nmissing values: 1\n"},
      {"t.pcl", "format: pcl\nhasHeaderRow: 1\nhasLabelColumn: 1\ngenes: 2\nsamples: 3\nmissing values: 0\n"},
  };
  for (const Case& c : cases) {
    ProgramResult r = RunTarvok({"probe", dir.File(c.file)});
    EXPECT_EQ(r.exitStatus, 0) << c.file << r.err;
    EXPECT_EQ(r.out.substr(0, std::string(c.expected).size()), c.expected) << c.file;
    EXPECT_NE(r.out.find("\nwhy: "), std::string::npos) << c.file;
  }
  // A missing value where a sample name could be is data; probe says why.
  dir.Write("na.tsv", "1\tNA\t2\n3\t4\t5\n");
  ProgramResult r = RunTarvok({"probe", dir.File("na.tsv")});
  EXPECT_EQ(r.out,
            "format: tsv\nhasHeaderRow: 0\nhasLabelColumn: 0\ngenes: 2\nsamples: 3\nmissing values: 1\n"
            "log2: no, because the 99th percentile is 4.96, the 25th 2 and the range 4 (99th percentile at most "
            "100; range at most 50 or 25th percentile at most 0)\n"
            "why: line 1 is data: it holds only numbers and missing values\n"
            "why: column 1 is data: it holds only numbers and missing values\n");
  EXPECT_EQ(r.err, "");
  // European CSV from standard input, gzip-compressed: separator and decimal mark shown.
  dir.Write("eu.csv", "gene;S1;S2\ng1;1,5;2\ng2;3;4,25\n");
  ASSERT_EQ(std::system(("gzip -c " + dir.File("eu.csv") + " > " + dir.File("eu.csv.gz")).c_str()), 0);
  r = RunProgram("/bin/sh", {"-c", std::string(TARVOK_BINARY) + " probe - < " + dir.File("eu.csv.gz")});
  EXPECT_EQ(r.out.substr(r.out.find("separator")),
            "separator: ;\ndecimal mark: comma\n"
            "log2: no, because the 99th percentile is 4.2125, the 25th 1.875 and the range 2.75 (99th percentile "
            "at most 100; range at most 50 or 25th percentile at most 0)\n"
            "why: line 1 names the samples: it holds words such as \"S1\"\n"
            "why: column 1 holds the gene names, such as \"g1\"\n");
  // A pipe that can be read only once, as bash's process substitution gives.
  r = RunProgram("/bin/bash",
                 {"-c", std::string(TARVOK_BINARY) + " probe <(gzip -dc " + dir.File("eu.csv.gz") + ")"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find("genes: 2\nsamples: 2\n"), std::string::npos) << r.out;
  // A pipe that delivers the first byte alone, as a slow writer may.
  const std::string gz = dir.File("eu.csv.gz");
  r = RunProgram("/bin/sh", {"-c", "(head -c 1 " + gz + "; sleep 0.3; tail -c +2 " + gz + ") | " +
                                       std::string(TARVOK_BINARY) + " probe -"},
                 30);
  EXPECT_FALSE(r.timedOut);
  EXPECT_NE(r.out.find("genes: 2\nsamples: 2\n"), std::string::npos) << r.out << r.err;
  // A guess that decided the shape is a warning on standard error.
  dir.Write("ids.tsv", "7157\t1.5\t2\n672\t4\t5.5\n");
  r = RunTarvok({"probe", dir.File("ids.tsv")});
  EXPECT_NE(r.out.find("hasLabelColumn: 1"), std::string::npos);
  EXPECT_NE(r.err.find("warning: a guess decided that column 1 holds gene IDs"), std::string::npos) << r.err;
}

TEST(Usage, ErrorsExitWithTwoBeforeAnythingIsCreated) {
  TempDir dir;
  dir.Write("t.tsv", SyntheticTable(20, 4, true, true));
  dir.Write("missing.tsv", "gene\tS1\tS2\ng1\t1\t2\ng2\tNA\t3\ng3\t4\t5\n");
  dir.Write("c.cls", "0\n1\n0\n");
  dir.Write("one.cls", "ALL\nALL\nALL\nALL\n");
  dir.Write("na.cls", "ALL\nNA\nALL\nAML\n");
  dir.Write("flat.tsv", "gene\tS1\tS2\tS3\ng1\t0\t0\t0\ng2\t0\t0\t0\ng3\t5\t5\t5\n");
  dir.Write("afile", "");
  dir.Write("huge.tsv", "gene\tS1\tS2\ng1\t1\t2\ng2\t3\t1e308\ng3\t4\t5\n");
  std::string holes = GeoSeriesMatrix(20, 4);
  holes.replace(holes.find("disease state: AML"), 18, "disease state: NA");
  dir.Write("holes_series_matrix.txt", holes);
  const std::string out = dir.File("out");
  const std::string table = dir.File("t.tsv");
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"run"},
      {"frobnicate", table},
      {"run", table, "--out", out, "--no-such-option"},
      {"run", dir.File("absent.tsv"), "--out", out},
      {"run", table, "--out", out, "--clusters", "0"},
      {"run", table, "--out", out, "--shave", "98"},
      {"run", table, "--out", out, "--permutations", "0"},
      {"run", table, "--out", out, "--tolerance", "101"},
      {"run", table, "--out", out, "--supervise", "-1"},
      {"run", table, "--out", out, "--seed", "-1"},
      {"run", table, "--out", out, "--seed", "4294967296"},
      {"run", table, "--out", out, "--threads", "0"},
      {"run", table, "--out", out, "--threads", "1025"},  // more than the library takes
      {"run", table, "--out", out, "--missing", "ignore"},
      {"run", table, "--out", out, "--format", "xls"},
      {"run", table, "--out", out, "--figures", "gif"},
      {"run", table, "--out", out, "--exports", "some"},
      {"run", table, "--out", out, "--supervise", "50"},
      {"run", table, "--out", out, "--classes", dir.File("c.cls")},  // 3 classes for 4 samples
      {"run", table, "--out", out, "--classes", dir.File("c.cls"), "--supervise", "50"},
      {"run", table, "--out", out, "--classes", dir.File("one.cls"), "--supervise", "50"},
      {"run", table, "--out", out, "--classes", dir.File("na.cls")},
      {"run", table, "--out", out, "--classes-from", "disease state"},  // not a GEO file
      {"run", dir.File("holes_series_matrix.txt"), "--out", out, "--classes-from", "disease state"},
      {"run", dir.File("huge.tsv"), "--out", out, "--log2", "no"},  // its log would be fine
      {"run", dir.File("flat.tsv"), "--out", out},
      {"run", table, "--out", out, "--format", "pcl"},
      {"run", table, "--out", out, "--header", "maybe"},
      {"run", dir.File("missing.tsv"), "--out", out},
      {"run", table, "--out", dir.File("afile") + "/sub"},
      {"run", table, "--out", dir.File("afile")},
      {"run", table, "--out", ""},
  };
  for (const std::vector<std::string>& args : cases) {
    ProgramResult r = RunTarvok(args);
    std::string command;
    for (const std::string& arg : args) command += " " + arg;
    EXPECT_EQ(r.exitStatus, 2) << command << "\n" << r.err;
    EXPECT_FALSE(r.err.empty()) << command;
    EXPECT_FALSE(FileExists(out)) << command;
  }
  ProgramResult r = RunTarvok({"run", dir.File("missing.tsv"), "--out", out});
  EXPECT_EQ(r.err,
            "tarvok: " + dir.File("missing.tsv") +
                ": line 3, column 2 (gene \"g2\", sample \"S1\"): missing value \"NA\"; use --missing drop "
                "to leave out genes with missing values, or --missing row-mean to fill them with the "
                "gene's mean\n");
  r = RunTarvok({"run", table, "--out", out, "--supervise", "50"});
  EXPECT_EQ(
      r.err,
      "tarvok: --supervise needs --classes FILE (or --classes-from NAME for a GEO or GCT 1.3 file), the class of "
      "each sample\n");
  r = RunTarvok({"run", table, "--out", out, "--classes", dir.File("c.cls")});
  EXPECT_EQ(r.err, "tarvok: " + dir.File("c.cls") + ": holds 3 classes, but the table has 4 samples\n");
  r = RunTarvok({"run", table, "--out", out, "--classes", dir.File("one.cls"), "--supervise", "50"});
  EXPECT_EQ(r.err, "tarvok: " + dir.File("one.cls") +
                       ": supervision needs at least two classes, and every sample is in class \"ALL\"\n");
  r = RunTarvok({"run", dir.File("holes_series_matrix.txt"), "--out", out, "--classes-from", "disease state"});
  EXPECT_EQ(r.err, "tarvok: " + dir.File("holes_series_matrix.txt") +
                       ": --classes-from \"disease state\" gives no class to 1 sample: \"GSM101\" (\"NA\"); every "
                       "sample needs a class (give the classes with --classes FILE, or leave those samples out)\n");
  r = RunTarvok({"run", dir.File("huge.tsv"), "--out", out, "--log2", "no"});
  EXPECT_NE(r.err.find(": the value of gene \"g2\", sample \"S2\" is 1e+308, beyond"), std::string::npos) << r.err;
  r = RunTarvok({"run", dir.File("flat.tsv"), "--out", out});
  EXPECT_EQ(r.err,
            "tarvok: " + dir.File("flat.tsv") +
                ": every gene has the same value in all 3 samples: the data have no variance, so there is "
                "nothing to cluster\n");
}

TEST(Usage, DefaultOutputDirectoryOfCompressedAndStreamedTables) {
  EXPECT_EQ(DefaultOutputDirectory("data/golub.tsv"), "output/golub");
  EXPECT_EQ(DefaultOutputDirectory("data/GSE9_series_matrix.txt.gz"), "output/GSE9_series_matrix");
  EXPECT_EQ(DefaultOutputDirectory("-"), "output/stdin");
}

TEST(Usage, BadThreadCountInTheEnvironmentUnlessThreadsIsGiven) {
  TempDir dir;
  dir.Write("t.tsv", SyntheticTable(40, 6, true, true));
  const std::string out = dir.File("out");
  for (const char* value : {"", "abc", "99999", "0", "2x"}) {
    ProgramResult r = RunProgram("/usr/bin/env", {std::string("TARVOK_THREADS=") + value, TARVOK_BINARY, "run",
                                                  dir.File("t.tsv"), "--out", out});
    EXPECT_EQ(r.exitStatus, 2) << value;
    EXPECT_EQ(r.err, "tarvok: TARVOK_THREADS is \"" + std::string(value) +
                         "\"; it must be a whole number from 1 to 1024 (or use --threads)\n");
    EXPECT_FALSE(FileExists(out)) << value;
  }
  ProgramResult r = RunProgram("/usr/bin/env", {"TARVOK_THREADS=abc", TARVOK_BINARY, "run", dir.File("t.tsv"),
                                                "--out", out, "--threads", "2", "--clusters", "1",
                                                "--permutations", "2", "--quiet"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
}

TEST(Usage, HelpOnEveryCommandExitsWithZero) {
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--help"}, {"run", "--help"}, {"probe", "--help"}, {"export", "--help"}}) {
    ProgramResult r = RunTarvok(args);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_NE(r.out.find("Usage: tarvok"), std::string::npos) << r.out;
  }
  EXPECT_NE(RunTarvok({"run", "--help"}).out.find("--permutations"), std::string::npos);
  // One version number: the build's, which the packages report too.
  const std::string version = ReadFile(std::string(TARVOK_DATA_DIR) + "/../../VERSION");
  EXPECT_EQ(RunTarvok({"--version"}).out, "tarvok " + version);
}

// Rows of the summary table on standard output: the lines between the
// header and the blank line before "Report:".
std::vector<std::vector<std::string>> SummaryRows(const std::string& out) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(out);
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line) && !line.empty()) {
    std::istringstream words(line);
    std::vector<std::string> row;
    std::string word;
    while (words >> word) row.push_back(word);
    rows.push_back(row);
  }
  return rows;
}

TEST(Run, CsvWithBlankLabelsRoundTripsAndSummaryMatchesTheFiles) {
  TempDir dir;
  std::string csv = SyntheticTable(200, 10, true, true, ',');
  // Quoted labels with blanks, a comma and a long name, CRLF line ends.
  csv.replace(csv.find("g1,"), 3, "\"gene one, first\",");
  csv.replace(csv.find("g2,"), 3, std::string(90, 'L') + ",");
  std::string crlf;
  for (char c : csv) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  dir.Write("t.csv", "\xEF\xBB\xBF" + crlf);
  const std::string out = dir.File("results/run1");
  ProgramResult r =
      RunTarvok({"run", dir.File("t.csv"), "--clusters", "2", "--permutations", "3", "--out", out});
  ASSERT_EQ(r.exitStatus, 0) << r.err;

  std::vector<std::string> rows = FileLines(out + "/RowLbls.txt");
  ASSERT_EQ(rows.size(), 200u);
  EXPECT_EQ(rows[0], "gene_one,_first");
  EXPECT_EQ(rows[1], std::string(90, 'L'));  // kept whole
  EXPECT_EQ(rows[2], "g3");
  std::vector<std::string> columns = FileLines(out + "/ColLbls.txt");
  ASSERT_EQ(columns.size(), 10u);
  EXPECT_EQ(columns[9], "S10");
  EXPECT_NE(r.err.find("tarvok: " + dir.File("t.csv") +
                       ": labels changed: 1 with blanks (now underscores)\n"),
            std::string::npos)
      << r.err;
  // Progress as plain lines, since standard error is a file here.
  EXPECT_NE(r.err.find("cluster 1 of 2: shaving the data (0%, "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("cluster 2 of 2: chosen (100%, "), std::string::npos) << r.err;

  std::vector<std::string> lengths = FileLines(out + "/clusterlengths.txt");
  std::vector<std::vector<std::string>> summary = SummaryRows(r.out);
  ASSERT_EQ(lengths.size(), 2u);
  ASSERT_EQ(summary.size(), 2u) << r.out;
  for (std::size_t i = 0; i < 2; ++i) {
    std::istringstream line(lengths[i]);
    std::string step, genes;
    line >> step >> genes;
    EXPECT_EQ(summary[i][0], std::to_string(i + 1));
    EXPECT_EQ(summary[i][1], genes);
    EXPECT_EQ(summary[i][2], step);
    EXPECT_EQ(FileLines(out + "/clabels0000" + std::to_string(i + 1) + ".txt").size(), std::stoul(genes));
  }
  EXPECT_NE(r.out.find("\nReport: " + out + "/report.html\n"), std::string::npos) << r.out;
  for (const char* file : {"summary.tsv", "summary.json", "report.html"}) {
    EXPECT_TRUE(FileExists(out + "/" + file)) << file;
  }
}

TEST(Run, UnlabelledTablesAndDroppedGenes) {
  TempDir dir;
  dir.Write("plain.tsv", SyntheticTable(60, 6, false, false));
  ProgramResult r = RunTarvok({"run", dir.File("plain.tsv"), "--clusters", "1", "--permutations", "2",
                               "--out", dir.File("a"), "--quiet"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "");                                              // quiet, and nothing to report
  EXPECT_EQ(FileLines(dir.File("a/RowLbls.txt"))[59], "GENE00060");  // made by the library
  EXPECT_EQ(FileLines(dir.File("a/ColLbls.txt"))[0], "sample00001");

  // Genes 2 and 5 dropped: the others keep the number of their row.
  std::string table = SyntheticTable(60, 6, false, false);
  std::vector<std::string> lines;
  std::istringstream in(table);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  lines[1] = "NA" + lines[1].substr(lines[1].find('\t'));
  lines[4] = lines[4].substr(0, lines[4].rfind('\t')) + "\tNaN";
  std::string withMissing;
  for (const std::string& line : lines) withMissing += line + "\n";
  dir.Write("missing.tsv", withMissing);
  r = RunTarvok({"run", dir.File("missing.tsv"), "--clusters", "1", "--permutations", "2", "--missing",
                 "drop", "--out", dir.File("b"), "--quiet"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  std::vector<std::string> rows = FileLines(dir.File("b/RowLbls.txt"));
  ASSERT_EQ(rows.size(), 58u);
  EXPECT_EQ(rows[0], "GENE00001");
  EXPECT_EQ(rows[1], "GENE00003");
  EXPECT_EQ(rows[3], "GENE00006");
  EXPECT_EQ(FileLines(dir.File("b/ColLbls.txt"))[5], "sample00006");
  // The "NA" that starts line 2 is a missing value, not a gene name: no label column, no note.
  const std::string prefix = "tarvok: " + dir.File("missing.tsv") + ": ";
  EXPECT_EQ(r.err, prefix + "dropped 2 genes with missing values (the first is gene 2); 58 genes left\n" +
                       prefix + "genes are labelled GENEnnnnn by their row in the table\n");

  r = RunTarvok({"run", dir.File("missing.tsv"), "--clusters", "1", "--permutations", "2", "--missing",
                 "row-mean", "--out", dir.File("c"), "--quiet"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, prefix + "replaced 2 missing values in 2 genes by the gene's mean\n");
  EXPECT_EQ(FileLines(dir.File("c/RowLbls.txt"))[1], "GENE00002");
  // summary.json records the policy, what it changed, and every warning given.
  const std::string dropped = ReadFile(dir.File("b/summary.json"));
  EXPECT_NE(dropped.find("\"policy\": \"drop\",\n    \"missing_cells\": 2,\n    \"dropped_genes\": 2,\n"
                         "    \"dropped_samples\": 0,\n    \"imputed_cells\": 0\n"),
            std::string::npos)
      << dropped;
  EXPECT_NE(dropped.find("\"warnings\": [\n    \"" + dir.File("missing.tsv") +
                         ": dropped 2 genes with missing values"),
            std::string::npos)
      << dropped;
  EXPECT_NE(dropped.find("genes are labelled GENEnnnnn by their row in the table\"\n  ],"), std::string::npos);
  const std::string filled = ReadFile(dir.File("c/summary.json"));
  EXPECT_NE(filled.find("\"policy\": \"row-mean\",\n    \"missing_cells\": 2,\n    \"dropped_genes\": 0,\n"
                        "    \"dropped_samples\": 0,\n    \"imputed_cells\": 2\n"),
            std::string::npos)
      << filled;
}

TEST(Run, GeoFilesWithClassesFromTheirAnnotation) {
  TempDir dir;
  dir.Write("GSE9_series_matrix.txt", GeoSeriesMatrix(60, 8));
  ASSERT_EQ(std::system(("gzip " + dir.File("GSE9_series_matrix.txt")).c_str()), 0);
  ProgramResult r = RunTarvok({"run", dir.File("GSE9_series_matrix.txt.gz"), "--classes-from",
                               "disease state", "--supervise", "50", "--clusters", "1", "--permutations", "2",
                               "--out", dir.File("a"), "--quiet"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(ReadFile(dir.File("a/classes.txt")), "0\n1\n0\n1\n0\n1\n0\n1\n");
  EXPECT_EQ(FileLines(dir.File("a/ColLbls.txt"))[7], "GSM107");
  EXPECT_NE(r.err.find("class labels numbered: ALL = 0, AML = 1"), std::string::npos) << r.err;
  // The planted genes, and only they, form the cluster.
  std::vector<std::vector<std::string>> rows = SummaryRows(r.out);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][1], "12") << r.out;

  // A DataSet file from standard input; unsupervised, the classes colour the report.
  dir.Write("GDS9.soft", GeoDataSet(60, 8));
  r = RunProgram("/bin/sh", {"-c", std::string(TARVOK_BINARY) +
                                       " run - --classes-from 'disease state' --missing drop"
                                       " --clusters 1 --permutations 2 -q --out " +
                                       dir.File("b") + " < " + dir.File("GDS9.soft")});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(FileLines(dir.File("b/RowLbls.txt"))[0], "1000_at");
  EXPECT_EQ(FileLines(dir.File("b/RowSymbols.txt"))[0], "GENE0");
  EXPECT_NE(ReadFile(dir.File("b/report.html")).find("coloured by class"), std::string::npos);
  EXPECT_EQ(r.err.find("used more than once"), std::string::npos) << r.err;
}

// Splits a line at tabs.
std::vector<std::string> Cells(const std::string& line) {
  std::vector<std::string> cells;
  std::stringstream in(line);
  for (std::string cell; std::getline(in, cell, '\t');) cells.push_back(cell);
  if (!line.empty() && line.back() == '\t') cells.emplace_back();
  return cells;
}

// A DataSet whose symbols repeat, are controls or are missing: the probe
// IDs key every export, the symbols stand beside them, every row is in the
// CDT once, every cluster is shown with more genes scoring positive than
// negative, and "tarvok export" presents the same.
TEST(Run, GeoDataSetKeyedByProbeWithSymbolsBesideAndOrientedClusters) {
  TempDir dir;
  dir.Write("GDS9.soft", GeoDataSet(90, 8));
  ProgramResult r = RunTarvok({"run", dir.File("GDS9.soft"), "--classes-from", "disease state", "--missing", "drop",
                               "--clusters", "3", "--permutations", "2", "-q", "--out", dir.File("run")});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::vector<std::string> keys = FileLines(dir.File("run/RowLbls.txt"));
  const std::vector<std::string> symbols = FileLines(dir.File("run/RowSymbols.txt"));
  ASSERT_EQ(keys.size(), 89u);
  ASSERT_EQ(symbols.size(), keys.size());
  nlohmann::json summary = nlohmann::json::parse(ReadFile(dir.File("run/summary.json")));
  std::vector<bool> clustered(keys.size(), false);
  size_t clusteredRows = 0;
  std::vector<std::string> gct = FileLines(dir.File("run/clusters.gct"));
  ASSERT_GE(gct.size(), 3u);
  EXPECT_EQ(Cells(gct[2])[1], "Description");
  size_t line = gct[3].rfind("class\t", 0) == 0 ? 4 : 3;
  for (const nlohmann::json& cluster : summary["clusters"]) {
    int positive = 0, negative = 0;
    for (double score : cluster["scores"]) (score > 0 ? positive : negative) += score != 0;
    EXPECT_GE(positive, negative) << cluster["cluster"];
    std::set<int> rows;
    for (int row : cluster["gene_rows"]) {
      rows.insert(row);
      clustered[static_cast<size_t>(row - 1)] = true;
      ++clusteredRows;
      // The GCT's id is the row's probe ID, its Description the row's symbol.
      ASSERT_LT(line, gct.size());
      const std::vector<std::string> cells = Cells(gct[line++]);
      EXPECT_EQ(cells[0], keys[static_cast<size_t>(row - 1)]);
      EXPECT_EQ(cells[1], symbols[static_cast<size_t>(row - 1)]);
    }
    EXPECT_EQ(rows.size(), cluster["gene_rows"].size());
  }
  EXPECT_EQ(line, gct.size());
  // The CDT: the clustered rows, then every other row once, in table order.
  const std::vector<std::string> cdt = FileLines(dir.File("run/GDS9.cdt"));
  std::vector<std::string> rest, expected;
  for (size_t k = 2 + clusteredRows; k < cdt.size(); ++k) rest.push_back(Cells(cdt[k])[0]);
  for (size_t g = 0; g < keys.size(); ++g) {
    if (!clustered[g]) expected.push_back(keys[g]);
  }
  EXPECT_EQ(rest, expected);
  const std::string gmt = ReadFile(dir.File("run/clusters.symbols.gmt"));
  EXPECT_EQ(gmt.find("--Control"), std::string::npos);
  EXPECT_EQ(gmt.find("\t\t"), std::string::npos);

  // "tarvok export" reads the result files, whose components keep the
  // decomposition's sign, and presents the clusters as the run did.
  ASSERT_EQ(RunProgram("/bin/cp", {"-r", dir.File("run"), dir.File("again")}).exitStatus, 0);
  r = RunTarvok({"export", dir.File("again")});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  for (const char* name : {"clusters.gmt", "clusters.symbols.gmt", "clusters.kgg", "summary.json"}) {
    EXPECT_EQ(ReadFile(dir.File("again/") + name), ReadFile(dir.File("run/") + name)) << name;
  }
  const std::vector<std::string> again = FileLines(dir.File("again/GDS9.cdt"));
  ASSERT_EQ(again.size(), cdt.size());
  for (size_t k = 0; k < cdt.size(); ++k) {
    const std::vector<std::string> was = Cells(cdt[k]), is = Cells(again[k]);
    EXPECT_EQ(std::vector<std::string>(is.begin(), is.begin() + 2), std::vector<std::string>(was.begin(), was.begin() + 2));
  }
}

TEST(Run, FamilySoftNeedsItsPlatformNamed) {
  TempDir dir;
  const std::string family = dir.File("GSE9_family.soft");
  dir.Write("GSE9_family.soft", GeoFamilySoft(60, 8));
  ProgramResult r = RunTarvok({"probe", family});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "format: family-soft\nplatforms: GPL1 (8 samples), GPL2 (2 samples)\n");
  r = RunTarvok({"run", family, "--out", dir.File("x"), "-q"});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_NE(r.err.find("samples of 2 platforms: GPL1 (8 samples), GPL2 (2 samples); choose one with --platform"),
            std::string::npos)
      << r.err;
  EXPECT_NE(access(dir.File("x").c_str(), F_OK), 0);
  r = RunTarvok({"run", family, "--platform", "GPL1", "--classes-from", "disease state", "--supervise", "50",
                 "--missing", "drop", "--clusters", "1", "--permutations", "2", "--out", dir.File("a"), "-q"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(ReadFile(dir.File("a/classes.txt")), "0\n1\n0\n1\n0\n1\n0\n1\n");
  EXPECT_EQ(FileLines(dir.File("a/RowLbls.txt")).size(), 59u);  // the probes every sample has
  EXPECT_EQ(SummaryRows(r.out)[0][1], "12") << r.out;
  EXPECT_EQ(r.err.find("log2"), std::string::npos) << r.err;  // said only when taken
  const nlohmann::json summary = nlohmann::json::parse(ReadFile(dir.File("a/summary.json")));
  EXPECT_EQ(summary["log2"]["applied"], false);
  EXPECT_EQ(summary["log2"]["reason"].get<std::string>().substr(0, 23), "the 99th percentile is ");
}

TEST(Run, RawCountsAreLoggedByDefaultAndRecorded) {
  // The synthetic table as counts (2 to the power value + 10), and the same
  // counts already logged as the reader logs them: one analysis.
  TempDir dir;
  const std::vector<double> values = SyntheticValues(40, 6);
  std::string counts = "gene\tS1\tS2\tS3\tS4\tS5\tS6\n", logged = counts;
  for (int g = 0; g < 40; ++g) {
    counts += fmt::format("g{}", g + 1);
    logged += fmt::format("g{}", g + 1);
    for (int s = 0; s < 6; ++s) {
      const double count = std::exp2(values[static_cast<std::size_t>(g * 6 + s)] + 10);
      counts += fmt::format("\t{}", count);
      logged += fmt::format("\t{}", std::log2(std::strtod(fmt::format("{}", count).c_str(), nullptr)));
    }
    counts += '\n';
    logged += '\n';
  }
  dir.Write("counts.tsv", counts);
  dir.Write("logged.tsv", logged);
  ProgramResult a = RunTarvok({"run", dir.File("counts.tsv"), "--clusters", "1", "--permutations", "2", "--out",
                               dir.File("a"), "-q"});
  ASSERT_EQ(a.exitStatus, 0) << a.err;
  EXPECT_NE(a.err.find("log2: yes, because the 99th percentile is "), std::string::npos) << a.err;
  ProgramResult b = RunTarvok({"run", dir.File("logged.tsv"), "--log2", "no", "--clusters", "1", "--permutations",
                               "2", "--out", dir.File("b"), "-q"});
  ASSERT_EQ(b.exitStatus, 0) << b.err;
  EXPECT_EQ(ReadFile(dir.File("a/summary.tsv")), ReadFile(dir.File("b/summary.tsv")));
  const nlohmann::json summary = nlohmann::json::parse(ReadFile(dir.File("a/summary.json")));
  EXPECT_EQ(summary["log2"]["choice"], "auto");
  EXPECT_EQ(summary["log2"]["applied"], true);
  EXPECT_EQ(summary["log2"]["non_positive_cells"], 0);
  const std::string report = ReadFile(dir.File("a/report.html"));
  EXPECT_NE(report.find("<tr><th>Log scale</th><td>log2 of the values (--log2 auto: the 99th percentile is"),
            std::string::npos);
  // The export command shows the same decision from summary.json.
  ASSERT_EQ(RunTarvok({"export", dir.File("a")}).exitStatus, 0);
  EXPECT_NE(ReadFile(dir.File("a/report.html")).find("log2 of the values (--log2 auto: "), std::string::npos);
  // Values <= 0 have no log: missing values under the policy.
  dir.Write("zero.tsv", "gene\tA\tB\tC\ng1\t1000\t0\t5\ng2\t300\t20\t7\ng3\t10\t30\t900\n");
  ProgramResult z = RunTarvok({"run", dir.File("zero.tsv"), "--log2", "yes", "--clusters", "1", "--permutations",
                               "2", "--out", dir.File("z"), "-q"});
  EXPECT_EQ(z.exitStatus, 2);
  EXPECT_NE(z.err.find("line 2, column 3 (gene \"g1\", sample \"B\"): \"0\" has no log2"), std::string::npos) << z.err;
}

// The bundled Golub data (first 300 genes) laid out as GEO publishes a
// series matrix: series and sample metadata, quoted IDs, the characteristics
// that carry the classes, and the table between its markers.
std::string GolubSeriesMatrix(std::vector<std::string>& classes) {
  std::vector<std::string> lines = FileLines(std::string(TARVOK_DATA_DIR) + "/golub.tsv");
  classes = FileLines(std::string(TARVOK_DATA_DIR) + "/golub.classes");
  std::vector<std::string> samples;
  for (std::size_t s = 0; s < classes.size(); ++s) samples.push_back("GSM" + std::to_string(2000 + s));
  auto sampleLine = [&](const std::string& name, auto cell) {
    std::string line = "!Sample_" + name;
    for (std::size_t s = 0; s < samples.size(); ++s) line += "\t\"" + cell(s) + "\"";
    return line + "\n";
  };
  std::string text =
      "!Series_title\t\"Leukemia: ALL and AML \"training\" set\"\n"
      "!Series_geo_accession\t\"GSE0000\"\n!Series_status\t\"Public on Jan 01 2000\"\n";
  text += sampleLine("title", [&](std::size_t s) { return "patient " + std::to_string(s + 1); });
  text += sampleLine("geo_accession", [&](std::size_t s) { return samples[s]; });
  text += sampleLine("source_name_ch1", [](std::size_t) { return std::string("bone marrow"); });
  text += sampleLine("characteristics_ch1", [](std::size_t) { return std::string("tissue: bone marrow"); });
  text += sampleLine("characteristics_ch1", [&](std::size_t s) {
    return std::string("disease state: ") + (classes[s] == "0" ? "ALL" : "AML");
  });
  text += "!series_matrix_table_begin\n\"ID_REF\"";
  for (const std::string& sample : samples) text += "\t\"" + sample + "\"";
  text += "\n";
  for (std::size_t g = 1; g <= 300; ++g) {
    std::size_t tab = lines[g].find('\t');
    text += "\"" + lines[g].substr(0, tab) + "\"" + lines[g].substr(tab) + "\n";
  }
  return text + "!series_matrix_table_end\n";
}

TEST(Run, GolubAsASeriesMatrixSupervisedByItsAnnotation) {
  TempDir dir;
  std::vector<std::string> classes;
  dir.Write("GSE0000_series_matrix.txt", GolubSeriesMatrix(classes));
  ProgramResult r = RunTarvok({"run", dir.File("GSE0000_series_matrix.txt"), "--classes-from",
                               "disease state", "--supervise", "100", "--clusters", "2", "--permutations",
                               "3", "--out", dir.File("out"), "--quiet"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(FileLines(dir.File("out/classes.txt")), classes);
  EXPECT_EQ(FileLines(dir.File("out/RowLbls.txt")).size(), 300u);
  EXPECT_EQ(SummaryRows(r.out).size(), 2u) << r.out;
  EXPECT_NE(ReadFile(dir.File("out/report.html")).find("coloured by class"), std::string::npos);
}

TEST(Run, EarlyStopIsASuccessWithTheLibrarysWords) {
  TempDir dir;
  dir.Write("t.tsv", SyntheticTable(200, 10, true, true));
  // Tolerance 100 moves every choice to the whole gene set: no cluster is left after the first.
  ProgramResult r = RunTarvok({"run", dir.File("t.tsv"), "--clusters", "4", "--permutations", "3",
                               "--tolerance", "100", "--out", dir.File("out")});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::string stopLine = "No clusters left to extract: extracted 1 of requested 4\n";
  ASSERT_NE(r.err.find(stopLine), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("No clusters left", r.err.find(stopLine) + 1), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("no clusters left"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find('\a'), std::string::npos);
  EXPECT_EQ(SummaryRows(r.out).size(), 1u) << r.out;
  EXPECT_EQ(FileLines(dir.File("out/clusterlengths.txt")), (std::vector<std::string>{"1\t 200"}));
  EXPECT_NE(ReadFile(dir.File("out/summary.json")).find("\"stopped_early\": true"), std::string::npos);
  EXPECT_NE(ReadFile(dir.File("out/summary.json")).find("\"stop_reason\": \"no_clusters_left\""), std::string::npos);
  // Quiet hides the progress, not the early stop.
  r = RunTarvok({"run", dir.File("t.tsv"), "--clusters", "4", "--permutations", "3", "--tolerance", "100",
                 "--out", dir.File("out"), "--quiet"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, stopLine);
}

TEST(Run, ThreadCountDoesNotChangeTheResults) {
  TempDir dir;
  dir.Write("t.tsv", SyntheticTable(80, 8, true, true));
  for (const char* threads : {"1", "2"}) {
    ProgramResult r = RunTarvok({"run", dir.File("t.tsv"), "--clusters", "1", "--permutations", "6",
                                 "--threads", threads, "--out", dir.File(threads), "--quiet"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
  }
  EXPECT_EQ(ReadFile(dir.File("1/variance00001.txt")), ReadFile(dir.File("2/variance00001.txt")));
  EXPECT_FALSE(ReadFile(dir.File("1/variance00001.txt")).empty());
  EXPECT_EQ(ReadFile(dir.File("1/summary.json")), ReadFile(dir.File("2/summary.json")));
  // Nor does a German locale change a byte.
  ProgramResult german = RunProgram("/usr/bin/env", {"LC_ALL=de_DE.UTF-8", TARVOK_BINARY, "run", dir.File("t.tsv"),
                                                     "--clusters", "1", "--permutations", "6", "--threads", "1",
                                                     "--out", dir.File("de"), "--quiet"});
  ASSERT_EQ(german.exitStatus, 0) << german.err;
  for (const char* file : {"variance00001.txt", "cluster00001.txt", "summary.json", "summary.tsv", "clusters.gct",
                           "t.cdt", "README.txt", "figures/cluster1_component.tsv"}) {
    EXPECT_EQ(ReadFile(dir.File(std::string("de/") + file)), ReadFile(dir.File(std::string("1/") + file))) << file;
  }

  // summary.json holds the analysis's own numbers, not the files' six decimals.
  Table table = ReadTable(dir.File("t.tsv"), ReadOptions());
  tarvok::AnalysisOptions options;
  options.clusters = 1;
  options.permutations = 6;
  tarvok::AnalysisResult core = tarvok::Analyze(table.values.data(), table.genes, table.samples, options);
  nlohmann::json cluster = nlohmann::json::parse(ReadFile(dir.File("1/summary.json")))["clusters"][0];
  ASSERT_EQ(core.ClustersDone(), 1);
  const tarvok::ClusterRecord& record = core.clusters[0];
  EXPECT_EQ(cluster["eigenvalue"].get<double>(), record.eigenvalue);
  EXPECT_EQ(cluster["gap"].get<double>(), record.gap[record.chosenStep]);
  EXPECT_EQ(cluster["component"].get<std::vector<double>>(), record.component);
  EXPECT_EQ(cluster["steps"]["mean_permuted_r2_percent"].get<std::vector<double>>(), record.meanPermutedR2);

  // The fast solver chooses the same cluster with the same figures as printed.
  ProgramResult r = RunTarvok({"run", dir.File("t.tsv"), "--clusters", "1", "--permutations", "6", "--solver",
                               "fast", "--threads", "2", "--out", dir.File("fast"), "--quiet"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  for (const char* file : {"clusterlengths.txt", "eigen00001.txt", "variance00001.txt", "cluster00001.txt"}) {
    EXPECT_EQ(ReadFile(dir.File(std::string("fast/") + file)), ReadFile(dir.File(std::string("1/") + file)))
        << file;
  }
}

// Waits up to five minutes (a sanitizer build is slow) for a running tarvok
// to write path.
bool WaitForFile(const std::string& path) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(300);
  while (!FileExists(path) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return FileExists(path);
}

TEST(OutputDirectory, ASecondRunIntoItIsRefusedAndWritesNothing) {
  TempDir dir;
  dir.Write("t.tsv", SyntheticTable(200, 10, true, true));
  const std::string out = dir.File("shared");
  RunningProgram first = StartProgram(TARVOK_BINARY, {"run", dir.File("t.tsv"), "--clusters", "40",
                                                      "--permutations", "2000", "--shave", "10", "--out", out});
  ASSERT_TRUE(WaitForFile(out + "/gap00001.txt"));
  const std::string labels = ReadFile(out + "/RowLbls.txt");
  ProgramResult second =
      RunTarvok({"run", dir.File("t.tsv"), "--clusters", "2", "--shave", "20", "--out", out});
  EXPECT_EQ(second.exitStatus, 2);
  EXPECT_EQ(second.err, "tarvok: output directory " + out + " is in use by another tarvok run (process " +
                            std::to_string(first.pid) + "); wait for it to end or choose another --out\n");
  EXPECT_EQ(second.out, "");
  EXPECT_TRUE(FileExists(out + "/gap00001.txt"));
  EXPECT_EQ(ReadFile(out + "/RowLbls.txt"), labels);
  ASSERT_EQ(kill(first.pid, SIGTERM), 0);
  EXPECT_EQ(WaitProgram(first, 300).exitStatus, 143);
}

TEST(OutputDirectory, ARerunLeavesNoStaleResultsAndForeignFilesNeedForce) {
  TempDir dir;
  dir.Write("t.tsv", SyntheticTable(200, 10, true, true));
  std::string classes;
  for (int s = 0; s < 10; ++s) classes += std::to_string(s % 2) + "\n";
  dir.Write("c.cls", classes);
  const std::string out = dir.File("out");
  ProgramResult r = RunTarvok({"run", dir.File("t.tsv"), "--clusters", "3", "--permutations", "2", "--supervise",
                               "50", "--classes", dir.File("c.cls"), "--dump-matrix", "--out", out, "--quiet"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  ASSERT_TRUE(FileExists(out + "/cluster00003.txt"));
  r = RunTarvok({"run", dir.File("t.tsv"), "--clusters", "1", "--permutations", "2", "--out", out, "--quiet"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  for (const char* stale : {"cluster00002.txt", "gap00003.txt", "pc00002.txt", "classes.txt", "origmatrix.txt"}) {
    EXPECT_FALSE(FileExists(out + "/" + stale)) << stale;
  }
  EXPECT_EQ(FileLines(out + "/clusters.txt").size(), 1u);
  EXPECT_FALSE(FileExists(out + "/.tarvok.lock"));  // the lock goes with the run

  // A directory that holds the user's own files is refused, and nothing is written in it.
  dir.Write("out/notes.txt", "mine\n");
  r = RunTarvok({"run", dir.File("t.tsv"), "--clusters", "1", "--permutations", "2", "--out", out, "--quiet"});
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_NE(r.err.find("holds 1 file that tarvok did not write (such as \"notes.txt\")"), std::string::npos)
      << r.err;
  EXPECT_TRUE(FileExists(out + "/cluster00001.txt"));  // not cleared either
  r = RunTarvok({"run", dir.File("t.tsv"), "--clusters", "1", "--permutations", "2", "--out", out, "--quiet",
                 "--force"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(ReadFile(out + "/notes.txt"), "mine\n");
}

TEST(OutputDirectory, AFailedWriteToStandardOutputIsAFailure) {
  TempDir dir;
  dir.Write("t.tsv", SyntheticTable(60, 6, true, true));
  ProgramResult r = RunProgram("/bin/sh", {"-c", "exec \"$0\" probe \"$1\" > /dev/full", TARVOK_BINARY,
                                           dir.File("t.tsv")});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "tarvok: cannot write to standard output: No space left on device\n");
  r = RunProgram("/bin/sh", {"-c", "exec \"$0\" run \"$1\" --clusters 1 --permutations 2 --quiet --out \"$2\""
                                   " > /dev/full", TARVOK_BINARY, dir.File("t.tsv"), dir.File("out")});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "tarvok: cannot write to standard output: No space left on device\n");
  EXPECT_TRUE(FileExists(dir.File("out/report.html")));  // the results are in the directory all the same
  r = RunProgram("/bin/sh", {"-c", "exec \"$0\" export \"$1\" > /dev/full", TARVOK_BINARY, dir.File("out")});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.err, "tarvok: cannot write to standard output: No space left on device\n");
}

// A file size limit stands in for a full disk: whether a classic result
// file fails during the run or a presented file after it, the message names
// the system's reason, the status is 1, and no cut-off file, temporary or
// lock stays behind.
TEST(OutputDirectory, AFullDiskNamesItsReasonAndIsStatusOne) {
  TempDir dir;
  dir.Write("wide.tsv", SyntheticTable(60, 200, true, true));  // cluster data files of over 8 KiB
  dir.Write("narrow.tsv", SyntheticTable(60, 6, true, true));  // every file but the report under 6 KiB
  struct Case {
    const char* table;
    int blocks;  // of 512 bytes
    const char* failure;
  };
  const Case cases[] = {
      {"wide.tsv", 16, "tarvok: analysis failed: cannot write "},
      {"narrow.tsv", 12, "tarvok: the analysis finished, but its results could not be presented: cannot write "},
  };
  for (const Case& c : cases) {
    const std::string out = dir.File(std::string("full-") + c.table);
    ProgramResult r = RunProgram("/bin/sh", {"-c", "trap '' XFSZ; ulimit -f \"$1\"; exec \"$0\" run \"$2\" "
                                                   "--clusters 2 --permutations 2 --quiet --out \"$3\"",
                                             TARVOK_BINARY, std::to_string(c.blocks), dir.File(c.table), out});
    EXPECT_EQ(r.exitStatus, 1) << c.blocks << r.err;
    EXPECT_NE(r.err.find(c.failure), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(": File too large\n"), std::string::npos) << r.err;
    for (const std::string& name : DirectoryEntries(out)) {
      EXPECT_NE(name[0], '.') << name << " stayed";
      if (name == "figures") continue;
      const std::string text = ReadFile(out + "/" + name);
      EXPECT_LT(text.size(), 512u * c.blocks) << name << " was cut off";
    }
  }
}

// An input of the run (by device and inode: a hard link or a link to it
// counts) standing under a name the run writes is refused before anything
// is written, and kept.
TEST(OutputDirectory, InputsAreNeverReplaced) {
  TempDir dir;
  const std::string table = SyntheticTable(60, 6, true, true);
  dir.Write("t.tsv", table);
  dir.Write("c.cls", "0\n1\n0\n1\n0\n1\n");
  struct Case {
    const char* name;  // in the output directory
    const char* source;  // what it is: "t.tsv" or "c.cls"
    bool hardLink;       // else a copy that the command line names directly
    const char* role;
  };
  const Case cases[] = {
      {"classes.txt", "c.cls", false, "the class file"},
      {"summary.tsv", "t.tsv", false, "the table"},
      {"summary.json", "t.tsv", true, "the table"},
      {"figures/cluster1_gap.tsv", "c.cls", true, "the class file"},
  };
  for (const Case& c : cases) {
    const std::string out = dir.File(std::string("out-") + c.source + "-" + (c.hardLink ? "linked" : "copied"));
    ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
    mkdir((out + "/figures").c_str(), 0700);
    const std::string planted = out + "/" + c.name;
    if (c.hardLink) {
      ASSERT_EQ(link(dir.File(c.source).c_str(), planted.c_str()), 0) << c.name;
    } else {
      dir.Write(planted.substr(dir.path().size() + 1), ReadFile(dir.File(c.source)));
    }
    const std::string given = c.hardLink ? dir.File(c.source) : planted;
    const bool isTable = std::string(c.source) == "t.tsv";
    const std::string classFile = isTable ? dir.File("c.cls") : given;
    const std::set<std::string> before = DirectoryEntries(out);
    ProgramResult r = RunTarvok({"run", isTable ? given : dir.File("t.tsv"), "--classes", classFile,
                                 "--supervise", "50", "--clusters", "1", "--permutations", "2", "--out", out, "-q"});
    EXPECT_EQ(r.exitStatus, 2) << c.name << r.err;
    EXPECT_EQ(r.err, "tarvok: " + std::string(c.role) + " (" + (isTable ? given : classFile) + ") is " + planted +
                         ", which tarvok would replace with its own; move it out of " + out +
                         " or choose another output directory\n");
    EXPECT_EQ(DirectoryEntries(out), before) << c.name;
    EXPECT_EQ(ReadFile(planted), ReadFile(dir.File(c.source))) << c.name;
  }
}

// A link, FIFO or folder under one of tarvok's names would lead a write or
// a removal out of the directory: the directory is refused, --force or not,
// and what the link points at is untouched.
TEST(OutputDirectory, LinksAndOtherKindsUnderOurNamesMakeItNotOurs) {
  TempDir dir;
  dir.Write("t.tsv", SyntheticTable(60, 6, true, true));
  ASSERT_EQ(mkdir(dir.File("elsewhere").c_str(), 0700), 0);
  dir.Write("elsewhere/cluster1_gap.svg", "the user's");
  dir.Write("victim.txt", "the user's");
  struct Case {
    const char* name;
    std::function<int(const std::string&)> plant;
    const char* kind;
  };
  const std::vector<Case> cases = {
      {"figures", [&](const std::string& p) { return symlink(dir.File("elsewhere").c_str(), p.c_str()); },
       "a symbolic link"},
      {".tarvok.lock", [&](const std::string& p) { return symlink(dir.File("victim.txt").c_str(), p.c_str()); },
       "a symbolic link"},
      {"summary.json", [&](const std::string& p) { return symlink(dir.File("victim.txt").c_str(), p.c_str()); },
       "a symbolic link"},
      {"gap00001.txt", [](const std::string& p) { return mkfifo(p.c_str(), 0600); }, "a FIFO"},
      {"report.html", [](const std::string& p) { return mkdir(p.c_str(), 0700); }, "a folder"},
  };
  for (const Case& c : cases) {
    const std::string out = dir.File(std::string("out-") + c.name);
    ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
    ASSERT_EQ(c.plant(out + "/" + c.name), 0) << c.name;
    for (const char* force : {"--quiet", "--force"}) {
      ProgramResult r = RunTarvok({"run", dir.File("t.tsv"), "--clusters", "1", "--permutations", "2", "--out",
                                   out, "--quiet", force});
      EXPECT_EQ(r.exitStatus, 2) << c.name << " " << force;
      EXPECT_NE(r.err.find("is not tarvok's: \"" + std::string(c.name) + "\" is " + c.kind), std::string::npos)
          << r.err;
    }
  }
  EXPECT_EQ(ReadFile(dir.File("elsewhere/cluster1_gap.svg")), "the user's");
  EXPECT_EQ(ReadFile(dir.File("victim.txt")), "the user's");
}

TEST(Failure, ValuesBeyondTheAnalysisAreRefusedBeforeAnyFileIsWritten) {
  TempDir dir;
  // Values near the largest double are beyond what the library analyses
  // (taken as they are: their log would be fine).
  std::string table = "gene";
  for (int s = 1; s <= 10; ++s) table += "\tS" + std::to_string(s);
  for (int g = 0; g < 60; ++g) {
    table += "\ng" + std::to_string(g);
    for (int s = 0; s < 10; ++s)
      table += (g * 7 + s * 3) % 3 == 0 ? "\t1e300" : (g + s) % 2 ? "\t-1e300" : "\t1e299";
  }
  dir.Write("t.tsv", table + "\n");
  const std::string out = dir.File("out");
  // The refusal comes before the output directory is touched: an earlier
  // run's report stays, and no label file is written.
  ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
  dir.Write("out/report.html", "<html>old</html>");
  ProgramResult r =
      RunTarvok({"run", dir.File("t.tsv"), "--log2", "no", "--permutations", "2", "--clusters", "1", "--out", out,
                 "-q"});
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.exitStatus, 2);
  EXPECT_EQ(r.err, "tarvok: " + dir.File("t.tsv") +
                       ": the value of gene \"g0\", sample \"S1\" is 1e+300, beyond what the analysis can hold "
                       "(magnitudes up to 1e+140); rescale the data, for example take logarithms\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFile(out + "/report.html"), "<html>old</html>");
  EXPECT_FALSE(FileExists(out + "/RowLbls.txt"));
}

TEST(Failure, ClassLabelsThatAreWordsAreNumbered) {
  TempDir dir;
  dir.Write("t.tsv", SyntheticTable(40, 6, true, true));
  dir.Write("c.cls",
            "\xEF\xBB\xBF"
            "ALL\r\nAML\r\nALL\r\nAML\r\nALL\r\nAML\r\n");
  ProgramResult r =
      RunTarvok({"run", dir.File("t.tsv"), "--supervise", "100", "--classes", dir.File("c.cls"), "--clusters",
                 "1", "--permutations", "2", "--out", dir.File("out"), "--quiet"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.err, "tarvok: " + dir.File("c.cls") + ": class labels numbered: ALL = 0, AML = 1\n");
  EXPECT_EQ(ReadFile(dir.File("out/classes.txt")), "0\n1\n0\n1\n0\n1\n");
}

// Processes whose command line holds text: the analysis child is a fork of
// tarvok and so carries its arguments.
int ProcessesWith(const std::string& text) {
  int count = 0;
  DIR* proc = opendir("/proc");
  if (proc == nullptr) return 0;
  while (dirent* entry = readdir(proc)) {
    std::string cmdline = ReadFile(std::string("/proc/") + entry->d_name + "/cmdline");
    for (char& c : cmdline) c = c == '\0' ? ' ' : c;
    if (cmdline.find(text) != std::string::npos && cmdline.find("tarvok") != std::string::npos) ++count;
  }
  closedir(proc);
  return count;
}

// Result files in dir, the lock file not counted.
int ResultFileCount(const std::string& dir) {
  int count = 0;
  DIR* listing = opendir(dir.c_str());
  if (listing == nullptr) return -1;
  while (dirent* entry = readdir(listing)) {
    if (std::string(entry->d_name) == "figures") {
      count += ResultFileCount(dir + "/figures");  // the figure files, one by one
    } else if (entry->d_name[0] != '.') {
      ++count;
    }
  }
  closedir(listing);
  return count;
}

TEST(Interrupt, SigintAndSigtermStopTheRunAndPresentTheFinishedClusters) {
  TempDir dir;
  dir.Write("t.tsv", SyntheticTable(200, 10, true, true));
  for (int stop : {SIGINT, SIGTERM}) {
    const std::string name = stop == SIGINT ? "SIGINT" : "SIGTERM";
    const std::string out = dir.File("interrupted-by-" + name);
    RunningProgram program = StartProgram(
        TARVOK_BINARY, {"run", dir.File("t.tsv"), "--clusters", "40", "--permutations", "2000", "--out", out});
    // Wait until the first cluster is complete, so that the run is well under way.
    ASSERT_TRUE(WaitForFile(out + "/pc00001.txt"));
    ASSERT_EQ(kill(program.pid, stop), 0);
    // The run stops at the core's next poll; the limit only guards against a hang.
    ProgramResult r = WaitProgram(program, 300);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitStatus, 128 + stop) << name;
    EXPECT_EQ(ProcessesWith(out), 0) << name;
    for (const char* file :
         {"RowLbls.txt", "ColLbls.txt", "clusters.txt", "clabels.txt", "gap00001.txt", "variance00001.txt",
          "cluster00001.txt", "clabels00001.txt", "eigen00001.txt", "pc00001.txt"}) {
      EXPECT_TRUE(FileExists(out + "/" + file)) << file;
    }
    // "tarvok: interrupted during cluster i of 40 (i-1 finished); n files written so far are in DIR"
    int cluster = 0, finished = 0, files = 0;
    std::size_t at = r.err.find("tarvok: interrupted during cluster ");
    ASSERT_NE(at, std::string::npos) << r.err;
    ASSERT_EQ(std::sscanf(r.err.c_str() + at, "tarvok: interrupted during cluster %d of 40 (%d finished); %d",
                          &cluster, &finished, &files),
              3)
        << r.err;
    EXPECT_GE(cluster, 2);
    EXPECT_EQ(finished, cluster - 1);
    EXPECT_EQ(files, ResultFileCount(out)) << r.err;
    // The lines of the finished clusters reach the disk although the library keeps the file open.
    EXPECT_GE(FileLines(out + "/clusterlengths.txt").size(), static_cast<std::size_t>(finished));
    EXPECT_NE(r.err.find(" files written so far are in " + out + "\n"), std::string::npos) << r.err;
    // The finished clusters are summarised and reported, marked incomplete.
    EXPECT_EQ(SummaryRows(r.out).size(), static_cast<std::size_t>(finished)) << r.out;
    const std::string json = ReadFile(out + "/summary.json");
    EXPECT_NE(json.find("\"complete\": false"), std::string::npos) << json;
    EXPECT_NE(json.find("\"incomplete_reason\": \"interrupted by " + name + " during cluster " +
                        std::to_string(cluster) + " of 40"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"clusters_done\": " + std::to_string(finished) + ","), std::string::npos) << json;
    EXPECT_EQ(FileLines(out + "/summary.tsv").size(), static_cast<std::size_t>(finished) + 1);
    EXPECT_NE(ReadFile(out + "/report.html").find("Incomplete results:</strong> interrupted by " + name),
              std::string::npos);
    EXPECT_FALSE(FileExists(out + "/.tarvok.lock")) << name;
  }
}

// Throws in the given pass, the stand-in for any failure of the library
// mid-run; every other event goes on to next.
class FailInPass : public tarvok::RelayObserver {
 public:
  FailInPass(int pass, tarvok::AnalysisObserver& next) : RelayObserver(next), pass_(pass) {}
  void PassStarted(int i) override {
    if (i == pass_) throw tarvok::Error("failure injected in pass " + std::to_string(i) + "\n");
    RelayObserver::PassStarted(i);
  }

 private:
  int pass_;
};

TEST(Failure, AnalysisThatFailsAfterSomeClustersStillPresentsThem) {
  TempDir dir;
  dir.Write("t.tsv", SyntheticTable(200, 10, true, true));
  RunOptions options;
  options.table = dir.File("t.tsv");
  options.analysis.clusters = 4;
  options.analysis.permutations = 3;
  options.out = dir.File("out");
  options.quiet = true;
  options.runner = [](const AnalysisJob& job, tarvok::AnalysisObserver& observer) {
    FailInPass third(3, observer);
    return AnalyzeInThisProcess(job, AnalysisOptionsOf(job), third);
  };
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int status = RunCommand(options);
  const std::string out = testing::internal::GetCapturedStdout(), err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(err, "tarvok: analysis failed: failure injected in pass 3\n") << err;
  const std::string json = ReadFile(options.out + "/summary.json");
  EXPECT_NE(json.find("\"incomplete_reason\": \"the analysis failed: failure injected in pass 3\""),
            std::string::npos)
      << json;
  EXPECT_EQ(FileLines(options.out + "/summary.tsv").size(), 3u);
  EXPECT_EQ(SummaryRows(out).size(), 2u);
  EXPECT_NE(json.find("\"clusters_done\": 2,"), std::string::npos);
  EXPECT_NE(ReadFile(options.out + "/report.html").find("Incomplete results:"), std::string::npos);
  EXPECT_FALSE(FileExists(options.out + "/.tarvok.lock"));
}

TEST(Interrupt, ReaderThatGoesAwayLosesNoResults) {
  // "| head -c 1" closes the pipe after the first byte of progress; the run
  // must still finish and present its results in the output directory.
  TempDir dir;
  dir.Write("t.tsv", SyntheticTable(200, 10, true, true));
  const std::string out = dir.File("piped");
  const std::string command = "bash -c '\"$0\" run \"$1\" --clusters 2 --permutations 10 --out \"$2\" 2>&1 |"
                              " head -c 1 >/dev/null; exit ${PIPESTATUS[0]}' " +
                              std::string(TARVOK_BINARY) + " " + dir.File("t.tsv") + " " + out;
  int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (const char* file : {"cluster00002.txt", "summary.tsv", "summary.json", "report.html"}) {
    EXPECT_TRUE(FileExists(out + "/" + file)) << file;
  }
}

TEST(SetUp, TheExampleInstallsOnlyWhatTarvokNeeds) {
  const std::string setup = std::string(TARVOK_DATA_DIR) + "/../../scripts/setup.sh";
  ProgramResult example = RunProgram("/bin/bash", {setup, "--list", "--example"});
  ProgramResult everything = RunProgram("/bin/bash", {setup, "--list"});
  ASSERT_EQ(example.exitStatus, 0) << example.err;
  ASSERT_EQ(everything.exitStatus, 0) << everything.err;
  std::vector<std::string> few, all;
  std::istringstream a(example.out), b(everything.out);
  for (std::string p; a >> p;) few.push_back(p);
  for (std::string p; b >> p;) all.push_back(p);
  auto has = [](const std::vector<std::string>& list, const std::string& p) {
    return std::find(list.begin(), list.end(), p) != list.end();
  };
  for (const char* needed : {"g++", "cmake", "libcairo2-dev", "libcli11-dev", "libfmt-dev", "fonts-noto-cjk"}) {
    EXPECT_TRUE(has(few, needed)) << needed;
    EXPECT_TRUE(has(all, needed)) << needed;
  }
  for (const char* testOnly : {"wine", "wine64", "g++-mingw-w64-x86-64-posix", "clang", "chromium", "libgtest-dev"}) {
    EXPECT_FALSE(has(few, testOnly)) << testOnly;
    EXPECT_TRUE(has(all, testOnly)) << testOnly;
  }
}

TEST(Embedding, TheCExampleRunsTheLibrary) {
  TempDir dir;
  ProgramResult r = RunProgram(TARVOK_EMBED_BINARY, {dir.path()});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(FileLines(dir.File("clusterlengths.txt")).size(), 2u);
  EXPECT_NE(r.out.find("ZR_MONITOR_EXTRACT_CLUSTER 1\n"), std::string::npos);
  EXPECT_NE(r.out.find("2 clusters written to " + dir.path()), std::string::npos) << r.out;
}

}  // namespace
