#include <gtest/gtest.h>

#include <clocale>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "engine/Tarvok.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

struct RunArgs {
  int clusters = 2, shave = 10, permutations = 3, tolerance = 0;
  int genes = 0, samples = 0;
  int monitor = 1, generateLabels = 1, dump = 0, supervise = 0;
  const char* classes = nullptr;
  std::vector<double> data;
};

int Call(RunArgs& a) {
  int done = -7;
  char* classes = const_cast<char*>(a.classes);
  RuzoVavav(&a.clusters, &a.shave, &a.permutations, &a.tolerance, a.data.data(), &a.genes, &a.samples,
            &a.monitor, &a.generateLabels, &a.dump, &a.supervise, &classes, &done);
  return done;
}

// A 60 x 8 matrix: genes 0..11 follow one pattern (with small noise and
// alternating signs), the rest are noise.
RunArgs PlantedBlock() {
  RunArgs a;
  a.genes = 60;
  a.samples = 8;
  const double pattern[8] = {3, 2.5, 2, -1, -1.5, -2, -2.5, 0.5};
  unsigned state = 2024;
  auto noise = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 16777216.0 - 0.5;
  };
  for (int g = 0; g < a.genes; ++g) {
    for (int s = 0; s < a.samples; ++s) {
      double value = g < 12 ? (g % 2 ? -1 : 1) * pattern[s] * (1 + g * 0.05) + 0.1 * noise()
                            : noise();
      a.data.push_back(value + g);  // rows off centre: the run centres them
    }
  }
  return a;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Runs one analysis in a child with TVOUTPUT set to dir.
ChildResult RunIn(const std::string& dir, RunArgs args, int* done = nullptr) {
  std::string doneFile = dir + "/.done";
  ChildResult r = RunInChild([&] {
    setenv("TVOUTPUT", dir.c_str(), 1);
    int d = Call(args);
    FILE* f = std::fopen(doneFile.c_str(), "w");
    std::fprintf(f, "%d", d);
    std::fclose(f);
  });
  if (done != nullptr) *done = std::atoi(ReadFile(doneFile).c_str());
  std::remove(doneFile.c_str());
  return r;
}

std::vector<std::string> DirectoryListing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(RuzoVavav, PlantedBlockIsTheFirstClusterAndEveryFileIsWritten) {
  TempDir out;
  RunArgs args = PlantedBlock();
  std::vector<double> original = args.data;
  args.dump = 1;
  int done = 0;
  ChildResult r = RunIn(out.path(), args, &done);
  ASSERT_EQ(r.exitStatus, 0) << r.out << r.err;
  EXPECT_EQ(done, 2);

  // Monitor lines in their order.
  std::string pass;
  std::string expected;
  for (int i = 1; i <= 2; ++i) {
    expected += "ZR_MONITOR_EXTRACT_CLUSTER " + std::to_string(i) +
                "\nZR_MONITOR_SHAVE_INIT_NESTED_SEQUENCE\nZR_MONITOR_ESTIMATE_OPT_CLUSTER_SIZE " +
                std::to_string(i) + " 2\n";
    for (int b = 1; b <= 3; ++b) {
      expected += "ZR_MONITOR_RANDOMIZE_MATRIX\nZR_MONITOR_SHAVE_RAND_NESTED_SEQUENCE " +
                  std::to_string(b) + " 3\n";
    }
    expected += "ZR_MONITOR_ORTHOGONALIZE_MATRIX " + std::to_string(i) + "\n";
  }
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(r.err, "");

  // The first cluster is exactly the planted block.
  std::vector<std::string> members = Lines(ReadFile(out.File("clabels00001.txt")));
  std::sort(members.begin(), members.end());
  std::vector<std::string> planted;
  for (int g = 1; g <= 12; ++g) planted.push_back("GENE000" + std::string(g < 10 ? "0" : "") + std::to_string(g));
  EXPECT_EQ(members, planted);

  // Shapes of every file.
  const int S = 29;  // 60, 54, 49, 44, 40, 36, 32, 29, 26, 23, 21, 19, 18, ..., 2 at 10%
  std::vector<std::string> lengths = Lines(ReadFile(out.File("clusterlengths.txt")));
  ASSERT_EQ(lengths.size(), 2u);
  int step = 0, size = 0;
  ASSERT_EQ(std::sscanf(lengths[0].c_str(), "%d\t %d", &step, &size), 2);
  EXPECT_EQ(size, 12);
  EXPECT_EQ(Lines(ReadFile(out.File("RowLbls.txt"))).size(), 60u);
  EXPECT_EQ(Lines(ReadFile(out.File("ColLbls.txt"))), (std::vector<std::string>{
      "sample00001", "sample00002", "sample00003", "sample00004", "sample00005", "sample00006",
      "sample00007", "sample00008"}));
  EXPECT_EQ(ReadFile(out.File("clusters.txt")), "cluster00001.txt\ncluster00002.txt\n");
  EXPECT_EQ(ReadFile(out.File("clabels.txt")), "clabels00001.txt\nclabels00002.txt\n");
  EXPECT_EQ(ReadFile(out.File("glabels.txt")), "gap00001.txt\ngap00002.txt\n");
  EXPECT_EQ(ReadFile(out.File("vlabels.txt")), "variance00001.txt\nvariance00002.txt\n");
  EXPECT_EQ(ReadFile(out.File("elabels.txt")), "eigen00001.txt\neigen00002.txt\n");
  EXPECT_EQ(ReadFile(out.File("pclabels.txt")), "pc00001.txt\npc00002.txt\n");
  EXPECT_EQ(Lines(ReadFile(out.File("gap00001.txt"))).size(), static_cast<size_t>(S));
  EXPECT_EQ(Lines(ReadFile(out.File("variance00002.txt"))).size(), static_cast<size_t>(S));
  EXPECT_EQ(Lines(ReadFile(out.File("cluster00001.txt"))).size(), 12u * 8u);
  EXPECT_EQ(Lines(ReadFile(out.File("pc00001.txt"))).size(), 8u);
  EXPECT_EQ(Lines(ReadFile(out.File("eigen00001.txt"))).size(), 1u);
  // origmatrix holds the centred data: every line sums to zero.
  std::vector<std::string> rows = Lines(ReadFile(out.File("origmatrix.txt")));
  ASSERT_EQ(rows.size(), 60u);
  for (const std::string& row : rows) {
    std::istringstream values(row);
    double v = 0, sum = 0;
    int count = 0;
    while (values >> v) {
      sum += v;
      ++count;
    }
    EXPECT_EQ(count, 8);
    EXPECT_NEAR(sum, 0.0, 1e-4);
  }
  EXPECT_EQ(args.data, original);  // the host's matrix is unchanged
}

TEST(RuzoVavav, FreshProcessesGiveIdenticalBytesAndASecondRunContinues) {
  TempDir first, second;
  RunArgs args = PlantedBlock();
  ASSERT_EQ(RunIn(first.path(), args).exitStatus, 0);
  ASSERT_EQ(RunIn(second.path(), args).exitStatus, 0);
  std::vector<std::string> names = DirectoryListing(first.path());
  EXPECT_EQ(names, DirectoryListing(second.path()));
  for (const std::string& name : names) {
    EXPECT_EQ(ReadFile(first.File(name)), ReadFile(second.File(name))) << name;
  }
  // A host that takes the user's German locale gets the same bytes: no
  // number goes through the C library's locale.
  TempDir german;
  ChildResult g = RunInChild([&] {
    setenv("TVOUTPUT", german.path().c_str(), 1);
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    if (std::setlocale(LC_ALL, "") == nullptr) std::fprintf(stderr, "no de_DE.UTF-8 locale\n");
    Call(args);
  });
  ASSERT_EQ(g.exitStatus, 0);
  ASSERT_EQ(g.err.find("no de_DE.UTF-8 locale"), std::string::npos) << "localedef -i de_DE -f UTF-8 de_DE.UTF-8";
  for (const std::string& name : names) {
    EXPECT_EQ(ReadFile(german.File(name)), ReadFile(first.File(name))) << name;
  }

  // Two runs in one process: the index lists grow, the permuted copies
  // differ, and the directory stays the first one resolved.
  TempDir twice, moved;
  std::string firstVariance = twice.File("first-variance.txt");
  ChildResult r = RunInChild([&] {
    setenv("TVOUTPUT", twice.path().c_str(), 1);
    RunArgs a = args;
    a.clusters = 1;
    Call(a);
    std::filesystem::copy_file(twice.File("variance00001.txt"), firstVariance);
    setenv("TVOUTPUT", moved.path().c_str(), 1);
    a.monitor = 0;
    Call(a);
  });
  ASSERT_EQ(r.exitStatus, 0);
  EXPECT_EQ(ReadFile(twice.File("glabels.txt")), "gap00001.txt\ngap00001.txt\n");
  EXPECT_EQ(ReadFile(twice.File("clusters.txt")), "cluster00001.txt\n");
  EXPECT_NE(ReadFile(firstVariance), ReadFile(twice.File("variance00001.txt")));
  EXPECT_TRUE(DirectoryListing(moved.path()).empty());
  // Only the first run's monitor lines: the second ran with monitoring off.
  EXPECT_EQ(r.out.find("ZR_MONITOR_EXTRACT_CLUSTER 1"), r.out.rfind("ZR_MONITOR_EXTRACT_CLUSTER 1"));
}

TEST(RuzoVavav, ZeroClustersAndEarlyStop) {
  TempDir none;
  RunArgs zero = PlantedBlock();
  zero.clusters = 0;
  int done = 0;
  ChildResult r = RunIn(none.path(), zero, &done);
  ASSERT_EQ(r.exitStatus, 0);
  EXPECT_EQ(done, -7);  // not written
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(ReadFile(none.File("clusters.txt")), "");
  EXPECT_EQ(ReadFile(none.File("clusterlengths.txt")), "");
  EXPECT_TRUE(FileExists(none.File("clusterlengths.txt")));
  EXPECT_FALSE(FileExists(none.File("eigen00001.txt")));

  // Two genes have one step: the whole set is chosen, so a run asking for
  // three clusters stops after the first.
  TempDir early;
  RunArgs two;
  two.genes = 2;
  two.samples = 3;
  two.clusters = 3;
  two.data = {1, 2, 4, 3, 1, 0};
  r = RunIn(early.path(), two, &done);
  ASSERT_EQ(r.exitStatus, 0);
  EXPECT_EQ(done, 1);
  EXPECT_EQ(r.err, "No clusters left to extract...\n\tExtracted 1 of requested 3\n");
  EXPECT_NE(r.out.find("ZR_MONITOR_ORTHOGONALIZE_MATRIX 1\nZR_MONITOR_ERR_NO_CLUSTERS_LEFT\n\a"), std::string::npos);
  EXPECT_EQ(ReadFile(early.File("clusterlengths.txt")), "1\t 2\n");
  EXPECT_EQ(Lines(ReadFile(early.File("clusters.txt"))).size(), 3u);
  EXPECT_FALSE(FileExists(early.File("eigen00002.txt")));

  // Data without variance: the run stops before its first pass, through the
  // same early stop, and reports no clusters.
  TempDir flat;
  RunArgs constant = two;
  constant.data = {4, 4, 4, 5, 5, 5};
  r = RunIn(flat.path(), constant, &done);
  ASSERT_EQ(r.exitStatus, 0);
  EXPECT_EQ(done, 0);
  EXPECT_EQ(r.err, "No clusters left to extract...\n\tExtracted 0 of requested 3\n");
  EXPECT_EQ(r.out, "ZR_MONITOR_ERR_NO_CLUSTERS_LEFT\n\a");
  EXPECT_EQ(ReadFile(flat.File("clusterlengths.txt")), "");

  // The same as the last requested cluster: no early-stop messages.
  TempDir last;
  two.clusters = 1;
  two.monitor = 0;
  r = RunIn(last.path(), two, &done);
  EXPECT_EQ(done, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "");
}

TEST(RuzoVavav, RejectedArgumentsWriteNothing) {
  struct Case {
    void (*change)(RunArgs&);
    const char* message;
  };
  const Case cases[] = {
      {[](RunArgs& a) { a.clusters = -1; }, "RuzoVavav: clusterCount is -1; allowed: 0 or more\n"},
      {[](RunArgs& a) { a.shave = 0; }, "RuzoVavav: shavePercent is 0; allowed: 1..97\n"},
      {[](RunArgs& a) { a.shave = 98; }, "RuzoVavav: shavePercent is 98; allowed: 1..97\n"},
      {[](RunArgs& a) { a.permutations = 0; }, "RuzoVavav: permutationCount is 0; allowed: 1 or more\n"},
      {[](RunArgs& a) { a.tolerance = 101; }, "RuzoVavav: gapTolerancePercent is 101; allowed: 0..100\n"},
      {[](RunArgs& a) { a.genes = 1; }, "RuzoVavav: geneCount is 1; allowed: 2 or more\n"},
      {[](RunArgs& a) { a.samples = 1; }, "RuzoVavav: sampleCount is 1; allowed: 2 or more\n"},
      {[](RunArgs& a) { a.supervise = 101; }, "RuzoVavav: supervisionPercent is 101; allowed: 0..100\n"},
      {[](RunArgs& a) { a.supervise = 50; },
       "RuzoVavav: classificationFile is a null pointer; a supervised run needs a classification file\n"},
      {[](RunArgs& a) { a.data[17] = std::nan(""); },
       "RuzoVavav: dataMatrix value of gene 3, sample 2 is not a finite number\n"},
      {[](RunArgs& a) { a.data[9] = 1e308; },
       "RuzoVavav: dataMatrix value of gene 2, sample 2 is 1e+308; allowed: magnitudes up to 1e+140\n"},
  };
  for (const Case& c : cases) {
    TempDir out;
    RunArgs args = PlantedBlock();
    c.change(args);
    ChildResult r = RunIn(out.path(), args);
    EXPECT_EQ(r.exitStatus, 1) << c.message;
    EXPECT_EQ(r.out, std::string("ZR_MONITOR_APP_TERMINATED\nZR_MONITOR_ERR_FATAL ") + c.message + "\n");
    EXPECT_TRUE(DirectoryListing(out.path()).empty()) << c.message;
  }
  ChildResult r = RunInChild([] {
    int k = 1;
    RuzoVavav(&k, &k, &k, &k, nullptr, &k, &k, &k, &k, &k, &k, nullptr, &k);
  });
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "ZR_MONITOR_APP_TERMINATED\nZR_MONITOR_ERR_FATAL RuzoVavav: dataMatrix is a null pointer; a valid pointer is required\n\n");
}

TEST(RuzoVavav, FileFailures) {
  RunArgs args = PlantedBlock();
  args.monitor = 0;
  args.clusters = 1;

  // No TVOUTPUT and no output/ below the working directory.
  TempDir work;
  ChildResult r = RunInChild([&] {
    unsetenv("TVOUTPUT");
    if (chdir(work.path().c_str()) != 0) std::exit(9);
    RunArgs a = args;
    Call(a);
  });
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "StoreLabels(\"output//RowLbls.txt\"): No such file or directory\n\n");

  // Labels to be read but not there.
  TempDir out;
  args.generateLabels = 0;
  r = RunIn(out.path(), args);
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "RuzoVavav(\"" + out.File("RowLbls.txt") + "\"): No such file or directory\n\n");

  // TVOUTPUT naming a regular file: warning, bell, default directory.
  TempDir cwd;
  std::filesystem::create_directory(cwd.File("output"));
  cwd.Write("plain", "x");
  args.generateLabels = 1;
  r = RunInChild([&] {
    setenv("TVOUTPUT", cwd.File("plain").c_str(), 1);
    if (chdir(cwd.path().c_str()) != 0) std::exit(9);
    RunArgs a = args;
    Call(a);
  });
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err, "Environment variable \"TVOUTPUT\" does not refer to                         a directory. "
                   "Using default path <output/> instead.");
  EXPECT_EQ(r.out, "\a");
  EXPECT_TRUE(FileExists(cwd.File("output/gap00001.txt")));

  // A gap file blocked by a directory of that name: reported and skipped.
  TempDir blocked;
  std::filesystem::create_directory(blocked.File("gap00001.txt"));
  r = RunIn(blocked.path(), args);
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err, blocked.File("gap00001.txt") + ": Is a directory\n");
  EXPECT_FALSE(FileExists(blocked.File("glabels.txt")));
  EXPECT_TRUE(FileExists(blocked.File("variance00001.txt")));
  EXPECT_TRUE(FileExists(blocked.File("pc00001.txt")));
}

TEST(RuzoVavav, ThreadCountNeverChangesABit) {
  TempDir classes;
  classes.Write("classes", "0\n0\n1\n1\n1\n0\n2\n2\n");
  for (int supervise : {0, 60, 100}) {
    RunArgs args = PlantedBlock();
    args.permutations = 7;
    args.clusters = 3;
    args.supervise = supervise;
    std::string classPath = classes.File("classes");
    args.classes = classPath.c_str();
    std::vector<std::string> outputs;
    std::string monitorLines;
    for (const char* threads : {"1", "2", "3", "8"}) {
      TempDir out;
      ChildResult r = RunInChild([&] {
        setenv("TARVOK_THREADS", threads, 1);
        setenv("TVOUTPUT", out.path().c_str(), 1);
        RunArgs a = args;
        Call(a);
        Call(a);  // the second run continues the generator where the first left it
      });
      ASSERT_EQ(r.exitStatus, 0) << r.out;
      if (monitorLines.empty()) monitorLines = r.out;
      EXPECT_EQ(r.out, monitorLines) << threads << " threads";
      std::string all;
      for (const std::string& name : DirectoryListing(out.path())) all += name + "\n" + ReadFile(out.File(name));
      outputs.push_back(all);
    }
    for (size_t t = 1; t < outputs.size(); ++t) {
      EXPECT_TRUE(outputs[t] == outputs[0]) << "supervise " << supervise << ", thread run " << t;
    }
  }
}

TEST(RuzoVavav, InvalidThreadCountIsRejected) {
  for (const char* bad : {"0", "-2", "two", "", "3x", "5000"}) {
    TempDir out;
    ChildResult r = RunInChild([&] {
      setenv("TARVOK_THREADS", bad, 1);
      setenv("TVOUTPUT", out.path().c_str(), 1);
      RunArgs a = PlantedBlock();
      a.monitor = 0;
      Call(a);
    });
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.out, std::string("RuzoVavav: TARVOK_THREADS is \"") + bad +
                         "\"; allowed: a whole number from 1 to 1024\n\n");
    EXPECT_TRUE(DirectoryListing(out.path()).empty());
  }
}
