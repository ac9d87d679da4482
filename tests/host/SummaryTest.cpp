// The terminal table, summary.tsv and summary.json: exact text, and the same
// numbers as the result files they were read from.
#include "host/present/Summary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

#include "host/present/PreciseValues.h"
#include "host/present/ResultFiles.h"
#include "tests/host/SyntheticResults.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

using namespace tarvok;  // the host's code

namespace {

RunInfo Info() {
  RunInfo info;
  info.table = "expr.tsv";
  info.genes = 14;
  info.samples = 5;
  info.clusters = 3;
  info.shave = 10;
  info.permutations = 20;
  info.tolerance = 5;
  return info;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, separator);) parts.push_back(part);
  return parts;
}

}  // namespace

TEST(PrintSummary, AlignsNumbersAndListsTheFirstGenes) {
  std::ostringstream out;
  PrintSummary(MakeResults(5, 2), out);
  EXPECT_EQ(out.str(),
            "cluster  genes  step  eigenvalue  R^2 %  gap  first genes\n"
            "      1      8     3    12.34568     21    1  "
            "G1_0 G1_1 G1_2 G1_3 G1_4 (+3 more)\n"
            "      2      9     3    24.69136     21    2  "
            "G2_0 G2_1 G2_2 G2_3 G2_4 (+4 more)\n");

  // Small and large values keep their significant digits.
  RunResults tiny = MakeResults(5, 1);
  tiny.clusters[0].eigenvalue = 7e-9;
  tiny.clusters[0].gap = -0.000123456789;
  tiny.clusters[0].r2 = 99.97;
  std::ostringstream small;
  PrintSummary(tiny, small);
  EXPECT_EQ(small.str(),
            "cluster  genes  step  eigenvalue  R^2 %            gap  first genes\n"
            "      1      8     3       7e-09  99.97  -0.0001234568  G1_0 G1_1 G1_2 G1_3 G1_4 (+3 more)\n");

  std::ostringstream none;
  PrintSummary(MakeResults(5, 0), none);
  EXPECT_EQ(none.str(), "No clusters were extracted.\n");
}

TEST(WriteSummaryFiles, WritesExactTsvAndMatchingJson) {
  TempDir dir;
  RunResults r = MakeResults(5, 2);
  r.clusters[1].geneLabels[0] = "bad\xFFlabel";  // not UTF-8: must not stop the JSON
  WriteSummaryFiles(r, Info(), dir.path());
  EXPECT_EQ(ReadFile(dir.File("summary.tsv")),
            "cluster\tgenes\tstep\teigenvalue\tr2_percent\tgap\tgene_labels\n"
            "1\t8\t3\t12.34568\t21\t1\tG1_0 G1_1 G1_2 G1_3 G1_4 G1_5 G1_6 G1_7\n"
            "2\t9\t3\t24.69136\t21\t2\t"
            "bad\xEF\xBF\xBDlabel G2_1 G2_2 G2_3 G2_4 G2_5 G2_6 G2_7 G2_8\n");

  nlohmann::json doc = nlohmann::json::parse(ReadFile(dir.File("summary.json")));
  EXPECT_EQ(doc["table"], "expr.tsv");
  EXPECT_EQ(doc["genes"], 14);
  EXPECT_EQ(doc["parameters"]["clusters"], 3);
  EXPECT_EQ(doc["parameters"]["permutations"], 20);
  EXPECT_TRUE(doc["parameters"]["classes_file"].is_null());
  EXPECT_EQ(doc["clusters_done"], 2);
  ASSERT_EQ(doc["clusters"].size(), 2u);
  const nlohmann::json& second = doc["clusters"][1];
  EXPECT_EQ(second["cluster"], 2);
  EXPECT_EQ(second["genes"], 9);
  EXPECT_EQ(second["step"], 3);
  EXPECT_EQ(second["eigenvalue"].get<double>(), 24.691356);
  EXPECT_EQ(second["gap"].get<double>(), 2.0);
  EXPECT_EQ(second["gene_labels"][0], "bad\xEF\xBF\xBDlabel");
  EXPECT_EQ(second["gene_labels"][8], "G2_8");
}

TEST(WriteSummaryFiles, AgreesWithTheResultFilesItWasReadFrom) {
  TempDir dir;
  WriteResults(dir, MakeResults(4, 3), 3);
  RunResults r = ReadRunResults(dir.path(), 3);
  WriteSummaryFiles(r, Info(), dir.path());
  std::vector<std::string> rows = Split(ReadFile(dir.File("summary.tsv")), '\n');
  std::vector<std::string> lengths = Split(ReadFile(dir.File("clusterlengths.txt")), '\n');
  ASSERT_EQ(rows.size(), 4u);
  for (int i = 1; i <= 3; ++i) {
    SCOPED_TRACE(i);
    std::vector<std::string> row = Split(rows[i], '\t');
    ASSERT_EQ(row.size(), 7u);
    EXPECT_EQ(row[2] + "\t " + row[1], lengths[i - 1]);
    // The files' "%f" text shown with seven significant digits.
    auto shown = [](const std::string& text) { return SignificantDigits(std::stod(text)); };
    EXPECT_EQ(row[3], shown(ReadFile(dir.File(Numbered("eigen", i)))));
    int step = std::stoi(row[2]);
    EXPECT_EQ(shown(Split(Split(ReadFile(dir.File(Numbered("variance", i))), '\n')[step - 1], '\t')[1]),
              row[4]);
    EXPECT_EQ(shown(Split(Split(ReadFile(dir.File(Numbered("gap", i))), '\n')[step - 1], '\t')[1]),
              row[5]);
    std::string labels = ReadFile(dir.File(Numbered("clabels", i)));
    std::replace(labels.begin(), labels.end(), '\n', ' ');
    EXPECT_EQ(row[6] + " ", labels);
  }
}

TEST(WriteSummaryFiles, NamesTheFileItCannotWrite) {
  TempDir dir;
  try {
    WriteSummaryFiles(MakeResults(3, 1), Info(), dir.File("missing"));
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()),
              "cannot write " + dir.File("missing") + "/summary.tsv: No such file or directory");
  }
}

TEST(WriteSummaryFiles, JsonKeepsFullPrecisionAndRecordsHowTheRunWent) {
  TempDir dir;
  RunResults r = MakeResults(5, 2);
  r.clusters[0].eigenvalue = 0.1 + 0.2;  // 0.30000000000000004
  r.clusters[0].gap = r.clusters[0].gapCurve[r.clusters[0].chosenStep - 1] = 7e-9;
  r.clusters[1].r2 = r.clusters[1].r2Curve[r.clusters[1].chosenStep - 1] = 1.0 / 3.0;
  r.clusters[1].within[0] = 2.0 / 3.0;
  RunInfo info = Info();
  info.missingPolicy = "row-mean";
  info.missingCells = 4;
  info.droppedGenes = 1;
  info.imputedCells = 3;
  info.warnings = {"t.tsv: replaced 3 missing values in 2 genes by the gene's mean", "a library warning"};
  info.incomplete = "interrupted by SIGINT during cluster 3 of 3 (2 finished)";
  WriteSummaryFiles(r, info, dir.path());
  nlohmann::json doc = nlohmann::json::parse(ReadFile(dir.File("summary.json")));
  EXPECT_EQ(doc["clusters"][0]["eigenvalue"].get<double>(), 0.1 + 0.2);
  EXPECT_EQ(doc["clusters"][0]["gap"].get<double>(), 7e-9);
  EXPECT_EQ(doc["clusters"][1]["r2_percent"].get<double>(), 1.0 / 3.0);
  // Every cluster's numbers read back whole, and only onto the same cluster.
  std::vector<PreciseCluster> precise(2);
  ASSERT_TRUE(ParsePrecise(doc["clusters"][0], &precise[0]));
  ASSERT_TRUE(ParsePrecise(doc["clusters"][1], &precise[1]));
  EXPECT_EQ(precise[1].within[0], 2.0 / 3.0);
  RunResults six = MakeResults(5, 2);
  precise[0].number = 9;
  TakePreciseValues(six, precise);
  EXPECT_NE(six.clusters[0].eigenvalue, 0.1 + 0.2);
  EXPECT_EQ(six.clusters[1].r2, 1.0 / 3.0);
  EXPECT_EQ(six.clusters[1].within, r.clusters[1].within);
  doc["clusters"][1]["steps"]["gap"].erase(0);
  EXPECT_FALSE(ParsePrecise(doc["clusters"][1], &precise[1]));
  EXPECT_EQ(doc["missing_values"],
            nlohmann::json({{"policy", "row-mean"},
                            {"missing_cells", 4},
                            {"dropped_genes", 1},
                            {"dropped_samples", 0},
                            {"imputed_cells", 3}}));
  EXPECT_EQ(doc["warnings"], nlohmann::json(info.warnings));
  EXPECT_EQ(doc["complete"], false);
  EXPECT_EQ(doc["incomplete_reason"], info.incomplete);
  EXPECT_EQ(doc["stopped_early"], false);
  // The summary shows it too, and no temporary file is left behind.
  EXPECT_NE(ReadFile(dir.File("summary.tsv")).find("\t7e-09\t"), std::string::npos);
  EXPECT_FALSE(FileExists(dir.File(".summary.json.tmp")));
}
