// The exports of a run end to end: written by "tarvok run", left out with
// --exports none, written again by "tarvok export" with the same bytes,
// and bad input to "tarvok export" refused with status 2 before any file
// is written.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <set>

#include "HostTestSupport.h"
#include "host/run/DirectoryLock.h"
#include "tests/host/SyntheticResults.h"
#include "tests/support/ChildProcess.h"
#include "tables/Table.h"
#include "tests/support/TempDir.h"

using namespace tarvok;  // the host's code

namespace {

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
    fields.push_back(line.substr(start, tab - start));
  }
  fields.push_back(line.substr(start));
  return fields;
}

// The CDT takes the table's name (t.tsv).
const char* const kExports[] = {"clusters.gmt", "clusters.kgg", "t.cdt", "clusters.gct"};

TEST(Exports, RunWritesThemAndExportWritesTheSameAgain) {
  TempDir dir;
  // Gene names sharing a prefix longer than the library's 79-byte labels:
  // every file keeps them whole and apart.
  const std::string prefix(90, 'p');
  std::string table = SyntheticTable(60, 6, true, true);
  for (std::size_t at = table.find("\ng"); at != std::string::npos; at = table.find("\ng", at + 1)) {
    table.insert(at + 1, prefix);
  }
  dir.Write("t.tsv", table);
  dir.Write("classes.txt", "tumour\ntumour\ntumour\nnormal\nnormal\nnormal\n");
  const std::string out = dir.File("run");
  ProgramResult r = RunTarvok({"run", dir.File("t.tsv"), "--clusters", "2", "--permutations", "2",
                               "--classes", dir.File("classes.txt"), "--figures", "png", "--out", out, "-q"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const int clusters = static_cast<int>(FileLines(out + "/clusterlengths.txt").size());
  ASSERT_GE(clusters, 1);
  std::map<std::string, std::string> first;
  for (const char* name : kExports) first[name] = ReadFile(out + "/" + name);
  const std::set<std::string> figures = DirectoryEntries(out + "/figures");
  EXPECT_EQ(figures.size(), 8u * clusters);
  EXPECT_EQ(figures.count("cluster1_heatmap.png"), 1u);
  EXPECT_EQ(figures.count("cluster1_heatmap.tsv"), 1u);
  // Class names, not numbers, reach Morpheus and the figures' data.
  EXPECT_NE(
      first["clusters.gct"].find("\nclass\tna\tna\tna\ttumour\ttumour\ttumour\tnormal\tnormal\tnormal\n"),
      std::string::npos);
  EXPECT_EQ(FileLines(out + "/figures/cluster1_component.tsv")[1].rfind("S1\ttumour\t", 0), 0u);
  const std::string report = ReadFile(out + "/report.html");
  for (const char* name : kExports) {
    EXPECT_NE(report.find("<a href=\"" + std::string(name) + "\" download>"), std::string::npos) << name;
  }
  // The CDT holds every gene of the table once it has no repeated clusters.
  EXPECT_GE(FileLines(out + "/t.cdt").size(), 62u);
  // What was run is recorded: the classes by name with their counts, and a
  // guide to the folder naming the CDT and every column of the variance files.
  const nlohmann::json summary = nlohmann::json::parse(ReadFile(out + "/summary.json"));
  EXPECT_EQ(summary["classes"]["names"], nlohmann::json({"tumour", "normal"}));
  EXPECT_EQ(summary["classes"]["counts"], nlohmann::json({3, 3}));
  EXPECT_EQ(summary["parameters"]["classes_file"], dir.File("classes.txt"));
  EXPECT_NE(report.find("<th>Classes</th><td>tumour (3), normal (3) from "), std::string::npos);
  EXPECT_NE(report.find("<th>Missing values</th><td>error: none found</td>"), std::string::npos);
  const std::string guide = ReadFile(out + "/README.txt");
  for (const char* line : {"\n  t.cdt              the centred data", "\n  varianceNNNNN.txt  per step: size, R^2 (%)"}) {
    EXPECT_NE(guide.find(line), std::string::npos) << line;
  }
  // The first gene set names as many distinct, whole genes as it counts.
  const std::vector<std::string> set = Fields(FileLines(out + "/clusters.gmt")[0]);
  const std::set<std::string> genes(set.begin() + 2, set.end());
  EXPECT_NE(set[1].find(": " + std::to_string(genes.size()) + " genes, "), std::string::npos) << set[1];
  EXPECT_EQ(genes.size(), set.size() - 2);
  for (const std::string& gene : genes) EXPECT_EQ(gene.rfind(prefix + "g", 0), 0u) << gene;
  const std::vector<std::string> labels = FileLines(out + "/clabels00001.txt");
  EXPECT_EQ(labels.size(), genes.size());
  EXPECT_EQ(std::set<std::string>(labels.begin(), labels.end()), genes);
  // The GCT reads back as a table: the clustered genes, the classes as a
  // column metadata row.
  ReadOptions gct;
  gct.classesFrom = "class";
  const Table back = ReadTable(out + "/clusters.gct", gct);
  EXPECT_EQ(back.format, TableFormat::Gct);
  EXPECT_EQ(back.genes, static_cast<int>(FileLines(out + "/clusters.kgg").size() - 1));
  EXPECT_EQ(back.sampleClasses, FileLines(dir.File("classes.txt")));
  EXPECT_EQ(std::set<std::string>(back.geneLabels.begin(), back.geneLabels.begin() + static_cast<long>(genes.size())),
            genes);

  // Again from the files alone, with PDF figures and the class names
  // summary.json recorded. The gene sets are the
  // same, byte for byte, and so are the scores (summary.json keeps them);
  // the values are the result files' six decimals, and the CDT's unclustered
  // rows have none (the run kept no origmatrix.txt).
  ASSERT_EQ(unlink((out + "/clusters.gmt").c_str()), 0);
  ProgramResult e = RunTarvok({"export", out, "--figures", "pdf"});
  ASSERT_EQ(e.exitStatus, 0) << e.err;
  EXPECT_EQ(e.out, "Exports of " + std::to_string(clusters) + " clusters written to " + out +
                       "\nReport: " + out + "/report.html\n");
  for (const char* name : {"clusters.gmt", "clusters.kgg"}) {
    EXPECT_EQ(ReadFile(out + "/" + name), first[name]) << name;
  }
  dir.Write("run.gct", first["clusters.gct"]);
  const std::vector<std::string> gctRun = FileLines(dir.File("run.gct")), gctExport = FileLines(out + "/clusters.gct");
  ASSERT_EQ(gctRun.size(), gctExport.size());
  for (size_t k = 0; k < gctRun.size(); ++k) {
    std::vector<std::string> run = Fields(gctRun[k]), again = Fields(gctExport[k]);
    ASSERT_EQ(run.size(), again.size()) << k;
    for (size_t f = 0; f < run.size(); ++f) {
      if (k < 4 || f < 4) {
        EXPECT_EQ(again[f], run[f]) << k << ":" << f;
      } else {
        EXPECT_NEAR(std::stod(again[f]), std::stod(run[f]), 5e-7) << k << ":" << f;
      }
    }
  }
  dir.Write("run.cdt", first["t.cdt"]);
  std::vector<std::string> cdtRun = FileLines(dir.File("run.cdt")), cdtExport = FileLines(out + "/t.cdt");
  ASSERT_EQ(cdtRun.size(), cdtExport.size());
  const size_t clustered = FileLines(out + "/clusters.kgg").size() - 1;
  for (size_t k = 0; k < cdtRun.size(); ++k) {
    const std::string lead = cdtRun[k].substr(0, cdtRun[k].find("\t1\t") + 2);
    if (k < 2) {
      EXPECT_EQ(cdtExport[k], cdtRun[k]) << k;
    } else if (k >= 2 + clustered) {
      EXPECT_EQ(cdtExport[k], lead + std::string(6, '\t')) << k;
    } else {
      EXPECT_EQ(cdtExport[k].substr(0, lead.size()), lead) << k;
    }
  }
  EXPECT_EQ(DirectoryEntries(out + "/figures").count("cluster1_heatmap.pdf"), 1u);
  EXPECT_EQ(ReadFile(out + "/figures/cluster1_heatmap.pdf").rfind("%PDF-", 0), 0u);
}

TEST(Exports, NoneLeavesThemOutButKeepsFiguresAndReport) {
  TempDir dir;
  dir.Write("t.tsv", SyntheticTable(40, 5, true, true));
  const std::string out = dir.File("run");
  // What an earlier run left goes; a figures folder holding a file of the
  // user's is the user's, and the directory is refused.
  ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
  ASSERT_EQ(mkdir((out + "/figures").c_str(), 0700), 0);
  for (const char* name :
       {"clusters.gmt", "figures/cluster7_gap.pdf", "figures/cluster7_gap.tsv", "figures/notes.txt"}) {
    dir.Write(std::string("run/") + name, "old");
  }
  const std::vector<std::string> args = {"run", dir.File("t.tsv"), "--clusters", "1",     "--permutations",
                                         "2",   "--exports",       "none",       "--out", out,
                                         "-q"};
  ProgramResult refused = RunTarvok(args);
  EXPECT_EQ(refused.exitStatus, 2);
  EXPECT_NE(refused.err.find("(such as \"figures\")"), std::string::npos) << refused.err;
  EXPECT_TRUE(FileExists(out + "/figures/cluster7_gap.pdf"));
  ASSERT_EQ(unlink((out + "/figures/notes.txt").c_str()), 0);
  ProgramResult r = RunTarvok(args);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  for (const char* name : kExports) EXPECT_FALSE(FileExists(out + "/" + name)) << name;
  EXPECT_TRUE(FileExists(out + "/figures/cluster1_gap.svg"));
  EXPECT_TRUE(FileExists(out + "/figures/cluster1_gap.tsv"));
  EXPECT_FALSE(FileExists(out + "/figures/cluster7_gap.pdf"));
  EXPECT_FALSE(FileExists(out + "/figures/cluster7_gap.tsv"));
  EXPECT_EQ(ReadFile(out + "/report.html").find("Downloads"), std::string::npos);
}

TEST(Exports, BadInputToExportIsStatusTwoAndWritesNothing) {
  TempDir dir;
  auto refused = [&](const std::string& outDir, const std::string& message,
                     const std::vector<std::string>& more = {}) {
    std::set<std::string> before = DirectoryEntries(outDir);
    std::vector<std::string> args = {"export", outDir};
    args.insert(args.end(), more.begin(), more.end());
    ProgramResult r = RunTarvok(args);
    EXPECT_EQ(r.exitStatus, 2) << message;
    EXPECT_EQ(r.err, "tarvok: " + message + "\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(DirectoryEntries(outDir), before) << message;
  };
  refused(dir.File("nowhere"), dir.File("nowhere") + " is not a directory");
  refused(dir.path(), dir.path() + " is not the output directory of a run: ColLbls.txt is missing");

  // A run that stopped before its first cluster.
  TempDir empty;
  WriteResults(empty, MakeResults(4, 0), 2);
  empty.Write("RowLbls.txt", "a\nb\nc\n");
  refused(empty.path(), "the run in " + empty.path() + " extracted no clusters: nothing to export");

  // Two finished clusters, one of whose files is gone or cut off.
  TempDir run;
  const tarvok::RunResults made = MakeResults(4, 2);
  WriteResults(run, made, 2);
  // The table's genes: the clusters' (each label once) and two more.
  std::string genes = "A\nB\n";
  for (const tarvok::ClusterResult& c : made.clusters) {
    for (const std::string& label : c.geneLabels) genes += label + "\n";
  }
  run.Write("RowLbls.txt", genes);
  ASSERT_EQ(unlink(run.File("pc00002.txt").c_str()), 0);
  refused(run.path(), run.File("pc00002.txt") + ": cannot open for reading: No such file or directory");
  run.Write("pc00002.txt", "1.0\n2.0\n3.0\n4");
  refused(run.path(), run.File("pc00002.txt") + ": ends in an incomplete line");
  run.Write("pc00002.txt", "1.0\n2.0\n3.0\n4.0\n");
  run.Write("bad.classes", "x\ny\n");
  refused(run.path(), run.File("bad.classes") + " holds 2 classes, but the run has 4 samples",
          {"--classes", run.File("bad.classes")});

  // A class file where the export would write is one of its inputs.
  run.Write("clusters.gmt", "a\nb\na\nb\n");
  refused(run.path(),
          "the class file (" + run.File("clusters.gmt") + ") is " + run.File("clusters.gmt") +
              ", which tarvok would replace with its own; move it out of " + run.path() +
              " or choose another output directory",
          {"--classes", run.File("clusters.gmt")});
  ASSERT_EQ(unlink(run.File("clusters.gmt").c_str()), 0);

  // A damaged summary is refused, never replaced by the result files' six decimals.
  const std::string damaged = "is damaged (not the JSON object tarvok writes); restore it, or remove it to export "
                              "from the result files alone";
  const std::pair<const char*, std::string> summaries[] = {
      {"", damaged},
      {"{\"table\": \"t.tsv\", \"parameters\": {", damaged},
      {"{\"table\": NaN}", damaged},
      {"[1, 2]", damaged},
      {"{\"table\": 7, \"parameters\": {\"clusters\": \"x\"}}", "is damaged: "},
  };
  for (const auto& [text, message] : summaries) {
    run.Write("summary.json", text);
    ProgramResult r = RunTarvok({"export", run.path()});
    EXPECT_EQ(r.exitStatus, 2) << text;
    EXPECT_EQ(r.err.rfind("tarvok: " + run.File("summary.json") + " " + message, 0), 0u) << text << r.err;
  }

  // Without a summary the export says what it does not know: the run asked
  // for 3 clusters (clusters.txt), not as many as it finished.
  ASSERT_EQ(unlink(run.File("summary.json").c_str()), 0);
  WriteResults(run, MakeResults(4, 2), 3);
  ProgramResult r = RunTarvok({"export", run.path()});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  // Without the table's name the CDT takes the program's.
  for (const char* name : {"clusters.gmt", "clusters.kgg", "tarvok.cdt", "clusters.gct", "README.txt"}) {
    EXPECT_TRUE(FileExists(run.File(name))) << name;
  }
  EXPECT_TRUE(FileExists(run.File("figures/cluster2_component.svg")));
  const std::string report = ReadFile(run.File("report.html"));
  EXPECT_NE(report.find("2 extracted of 3 requested"), std::string::npos);
  EXPECT_NE(report.find("<tr><th>Permutations</th><td>not recorded</td></tr>"), std::string::npos);
  EXPECT_NE(report.find("Why is not recorded"), std::string::npos);
  EXPECT_FALSE(FileExists(run.File(kLockFileName)));

  // A run that holds its directory is not exported under it.
  {
    DirectoryLock live(run.path());
    refused(run.path(), run.path() + " is in use by a tarvok run (process " + std::to_string(getpid()) +
                            "); export it once that run has ended");
  }
}

}  // namespace
