#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "base/ResultNames.h"
#include "results/Labels.h"
#include "results/OutputDirectory.h"
#include "results/Writers.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

namespace {

const std::string kWarning =
    "Environment variable \"TVOUTPUT\" does not refer to                         a directory. "
    "Using default path <output/> instead.";

// Runs body in a child with TVOUTPUT set to dir (unset when null) and the
// directory and index lists as at load.
ChildResult WithOutput(const char* dir, const std::function<void()>& body) {
  return RunInChild([&] {
    if (dir != nullptr) setenv("TVOUTPUT", dir, 1);
    else unsetenv("TVOUTPUT");
    ResetOutputDirectoryForTesting();
    ResetIndexListsForTesting();
    body();
  });
}

// A pass record with only the per-step figures the writers read.
tarvok::ClusterRecord Steps(std::vector<int> sizes, std::vector<double> gap, std::vector<double> r2 = {},
                            std::vector<double> permuted = {}, std::vector<double> between = {},
                            std::vector<double> total = {}, std::vector<double> within = {}) {
  tarvok::ClusterRecord record;
  record.sizes = sizes;
  record.gap = gap;
  record.r2 = r2;
  record.meanPermutedR2 = permuted;
  record.between = between;
  record.total = total;
  record.within = within;
  return record;
}

MatrixRows RowsOf(const DMatrix& m) {
  return [m](int gene) { return &m[gene][0]; };
}

}  // namespace

TEST(OutputDirectory, UnsetUsesDefaultSilently) {
  ChildResult r = WithOutput(nullptr, [] { std::printf("%s", OutputPath("clusters.txt").c_str()); });
  EXPECT_EQ(r.out, "output//clusters.txt");
  EXPECT_EQ(r.err, "");
}

TEST(OutputDirectory, RegularFileWarnsOnceWithBellAndUsesDefault) {
  TempDir dir;
  dir.Write("plain", "x");
  EXPECT_EQ(IsRegularFile(dir.File("plain").c_str()), 1);
  EXPECT_EQ(IsDirectory(dir.File("plain").c_str()), 0);
  EXPECT_EQ(IsRegularFile(dir.File("absent").c_str()), 0);
  ChildResult r = WithOutput(dir.File("plain").c_str(), [] {
    OutputDirectory();
    std::printf("%s", OutputDirectory());
  });
  EXPECT_EQ(r.err, kWarning);
  EXPECT_EQ(r.out, "\aoutput/");
}

TEST(OutputDirectory, ChangeAfterFirstUseHasNoEffect) {
  TempDir first, second;
  ChildResult r = WithOutput(first.path().c_str(), [&] {
    OutputDirectory();
    setenv("TVOUTPUT", second.path().c_str(), 1);
    WriteEigenFile(OutputDirectory(), 1, 2.5);
  });
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(ReadFile(first.File("eigen00001.txt")), "2.500000\n");
  EXPECT_FALSE(FileExists(second.File("eigen00001.txt")));
}

TEST(Labels, GenerateNumbersFromOneAndCutsAt79) {
  CVector labels = cvector(3);
  GenerateLabels(labels, 3, "GENE", "");
  EXPECT_STREQ(labels[0], "GENE00001");
  EXPECT_STREQ(labels[2], "GENE00003");
  std::string stem(100, 's');
  GenerateLabels(labels, 1, stem.c_str(), ".txt");
  EXPECT_EQ(std::string(labels[0]), std::string(79, 's'));
  EXPECT_EQ(tarvok::ClusterFileName("gap", 123456), "gap123456.txt");
  ReleaseCvector(labels, 3);
}

TEST(Labels, StoreWithAndWithoutIndices) {
  TempDir dir;
  CVector labels = cvector(3);
  GenerateLabels(labels, 3, "clabels", ".txt");
  StoreLabels(labels, 3, nullptr, dir.File("all.txt").c_str());
  int order[] = {2, 0};
  StoreLabels(labels, 2, order, dir.File("some.txt").c_str());
  EXPECT_EQ(ReadFile(dir.File("all.txt")), "clabels00001.txt\nclabels00002.txt\nclabels00003.txt\n");
  EXPECT_EQ(ReadFile(dir.File("some.txt")), "clabels00003.txt\nclabels00001.txt\n");
  EXPECT_EQ(ErrorMessage([&] { StoreLabels(labels, 3, nullptr, dir.File("no/such.txt").c_str()); }),
            "StoreLabels(\"" + dir.File("no/such.txt") + "\"): No such file or directory\n");
  ReleaseCvector(labels, 3);
}

TEST(Labels, ReadSplitsTokensCutsLongOnesAndFillsMissing) {
  TempDir dir;
  std::string longToken(100, 'L');
  dir.Write("RowLbls.txt", "  alpha beta\r\ngamma\t\n" + longToken + "\ndelta\n");
  CVector labels = cvector(7);
  std::string path = dir.File("RowLbls.txt");
  ChildResult r = RunInChild([&] {
    ReadLabels(labels, 7, path.c_str(), "GENE");
    for (int j = 0; j < 7; ++j) std::printf("%s|", labels[j]);
  });
  EXPECT_EQ(r.out, "alpha|beta|gamma|" + std::string(79, 'L') + "|delta|GENE00006|GENE00007|");
  EXPECT_EQ(r.err, path + ": 2 of 7 labels missing; generated labels used for them\n");
  ReadLabels(labels, 2, path.c_str(), "GENE");  // extra tokens: no warning
  EXPECT_STREQ(labels[1], "beta");
  EXPECT_EQ(ErrorMessage([&] { ReadLabels(labels, 1, dir.File("ColLbls.txt").c_str(), "sample"); }),
            "RuzoVavav(\"" + dir.File("ColLbls.txt") + "\"): No such file or directory\n");
  ReleaseCvector(labels, 7);
}

TEST(Writers, DataDumpIsSampleMajorInClusterOrder) {
  TempDir dir;
  DMatrix m = dmatrix(0, 2, 0, 1);
  m[0][0] = 1.5, m[0][1] = -0.25, m[2][0] = 12.0, m[2][1] = 0.0000004;
  int order[] = {2, 0};
  DataDump(RowsOf(m), 2, 2, order, dir.File("cluster00001.txt").c_str());
  EXPECT_EQ(ReadFile(dir.File("cluster00001.txt")), "12.000000\n1.500000\n0.000000\n-0.250000\n");
  EXPECT_EQ(ErrorMessage([&] { DataDump(RowsOf(m), 2, 2, order, dir.path().c_str()); }),
            "DataDump(\"" + dir.path() + "\"): Is a directory\n");
  ReleaseDmatrix(m, 0, 2, 0, 1);
}

TEST(Writers, OrigMatrixAndPerClusterFilesHaveExactBytes) {
  TempDir dir;
  dir.Write("glabels.txt", "stale\n");
  ChildResult r = WithOutput(dir.path().c_str(), [] {
    DMatrix m = dmatrix(0, 1, 0, 2);
    m[0][0] = 0.5, m[0][1] = -1e-7, m[0][2] = 123456789.0, m[1][1] = -0.0;
    WriteOrigMatrix(OutputDirectory(), RowsOf(m), 2, 3);
    WriteGapFile(OutputDirectory(), 1, Steps({10, 9}, {-0.0, 0.1234567}));
    WriteVarianceFile(OutputDirectory(), 1, Steps({10, 9}, {}, {90, 80.5}, {1, 2}, {3, 4}, {5, 6}, {-7, 1e6}));
    WriteEigenFile(OutputDirectory(), 1, 3.14159265);
    WritePcFile(OutputDirectory(), 1, {0.5, -0.5, 1e-9});
    WriteGapFile(OutputDirectory(), 2, Steps({10}, {1}));
    WriteGapFile(OutputDirectory(), 2, Steps({10}, {1}));  // a second run in the same process appends
  });
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(dir.File("origmatrix.txt")), " 0.5 -1e-07 1.23457e+08\n 0 -0 0\n");
  EXPECT_EQ(ReadFile(dir.File("gap00001.txt")), "10\t-0.000000\n9\t0.123457\n");
  EXPECT_EQ(ReadFile(dir.File("variance00001.txt")),
            "10\t90.000000\t1.000000\t3.000000\t5.000000\t-7.000000\n"
            "9\t80.500000\t2.000000\t4.000000\t6.000000\t1000000.000000\n");
  EXPECT_EQ(ReadFile(dir.File("eigen00001.txt")), "3.141593\n");
  EXPECT_EQ(ReadFile(dir.File("pc00001.txt")), "0.500000\n-0.500000\n0.000000\n");
  EXPECT_EQ(ReadFile(dir.File("glabels.txt")), "gap00001.txt\ngap00002.txt\ngap00002.txt\n");
  EXPECT_EQ(ReadFile(dir.File("vlabels.txt")), "variance00001.txt\n");
  EXPECT_EQ(ReadFile(dir.File("elabels.txt")), "eigen00001.txt\n");
  EXPECT_EQ(ReadFile(dir.File("pclabels.txt")), "pc00001.txt\n");
  mkdir(dir.File("blocked").c_str(), 0700);
  mkdir(dir.File("blocked/origmatrix.txt").c_str(), 0700);
  r = WithOutput(dir.File("blocked").c_str(), [] {
    std::printf("%s", ErrorMessage([] { WriteOrigMatrix(OutputDirectory(), RowsOf(DMatrix{}), 0, 0); }).c_str());
  });
  EXPECT_EQ(r.out, "RuzoVavav(\"" + dir.File("blocked") + "/origmatrix.txt\"): Is a directory\n");
}

TEST(IndexLists, BlockedFileIsSkippedAndListStaysUntruncatedUntilAWriteSucceeds) {
  TempDir dir;
  dir.Write("glabels.txt", "stale\n");
  mkdir(dir.File("gap00001.txt").c_str(), 0700);
  mkdir(dir.File("elabels.txt").c_str(), 0700);
  ChildResult r = WithOutput(dir.path().c_str(), [&] {
    WriteGapFile(OutputDirectory(), 1, Steps({1}, {1}));
    std::fprintf(stderr, "[glabels: %s]", ReadFile(dir.File("glabels.txt")).c_str());
    WriteGapFile(OutputDirectory(), 2, Steps({1}, {1}));
    WriteEigenFile(OutputDirectory(), 1, 1.0);
    rmdir(dir.File("elabels.txt").c_str());
    dir.Write("elabels.txt", "stale\n");
    WriteEigenFile(OutputDirectory(), 2, 2.0);
  });
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.err, dir.File("gap00001.txt") + ": Is a directory\n[glabels: stale\n]" + dir.File("elabels.txt") +
                       ": Is a directory\n");
  EXPECT_EQ(ReadFile(dir.File("glabels.txt")), "gap00002.txt\n");
  EXPECT_EQ(ReadFile(dir.File("eigen00001.txt")), "1.000000\n");
  // The failed first open of the list did not count: the next write truncates.
  EXPECT_EQ(ReadFile(dir.File("elabels.txt")), "eigen00002.txt\n");
}

// A file size limit stands in for a full disk: writes past it fail. Under
// the Classic rule (the C face) they go unchecked as ever; under Every each
// writer throws with the system's reason and removes its cut-off file, and a
// file that cannot be opened is no longer skipped.
TEST(Writers, EveryFailureIsCheckedUnderEveryAndTheClassicRuleStays) {
  TempDir dir;
  DMatrix m = dmatrix(0, 1, 0, 2);
  CVector labels = cvector(2);
  GenerateLabels(labels, 2, "GENE", "");
  const int order[] = {1, 0};
  struct Case {
    const char* file;
    std::function<void(const std::string& dir, WriteChecks checks)> write;
  };
  const std::vector<Case> cases = {
      {"cluster00001.txt", [&](const std::string& d, WriteChecks c) {
         DataDump(RowsOf(m), 3, 2, order, (d + "/cluster00001.txt").c_str(), c);
       }},
      {"origmatrix.txt", [&](const std::string& d, WriteChecks c) { WriteOrigMatrix(d, RowsOf(m), 2, 3, c); }},
      {"RowLbls.txt", [&](const std::string& d, WriteChecks c) {
         StoreLabels(labels, 2, nullptr, (d + "/RowLbls.txt").c_str(), c);
       }},
      {"gap00001.txt", [](const std::string& d, WriteChecks c) { WriteGapFile(d, 1, Steps({10, 9}, {1, 2}), c); }},
      {"pc00001.txt", [](const std::string& d, WriteChecks c) { WritePcFile(d, 1, {0.5, -0.5, 1}, c); }},
  };
  for (const Case& c : cases) {
    for (WriteChecks checks : {WriteChecks::Classic, WriteChecks::Every}) {
      const std::string sub = dir.File(std::string(checks == WriteChecks::Every ? "every-" : "classic-") + c.file);
      mkdir(sub.c_str(), 0700);
      ChildResult r = WithOutput(sub.c_str(), [&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit saved{}, limit{};
        getrlimit(RLIMIT_FSIZE, &saved);
        limit = {8, saved.rlim_max};
        setrlimit(RLIMIT_FSIZE, &limit);
        const std::string message = ErrorMessage([&] { c.write(sub, checks); });
        setrlimit(RLIMIT_FSIZE, &saved);  // the captured output is a file too
        std::printf("%s", message.c_str());
      });
      const std::string path = sub + "/" + c.file;
      if (checks == WriteChecks::Classic) {
        EXPECT_EQ(r.out, "(no error)") << c.file;
        EXPECT_EQ(ReadFile(path).size(), 8u) << c.file;  // cut off, unchecked, as the C face documents
      } else {
        EXPECT_EQ(r.out, "cannot write " + path + ": File too large") << c.file;
        EXPECT_FALSE(FileExists(path)) << c.file;
      }
    }
  }
  mkdir(dir.File("gap00001.txt").c_str(), 0700);
  ChildResult r = WithOutput(dir.path().c_str(), [&] {
    std::printf("%s", ErrorMessage([&] { WriteGapFile(dir.path(), 1, Steps({1}, {1}), WriteChecks::Every); }).c_str());
  });
  EXPECT_EQ(r.out, "cannot write " + dir.File("gap00001.txt") + ": Is a directory");
  EXPECT_TRUE(FileExists(dir.File("gap00001.txt")));  // not ours to remove
  ReleaseCvector(labels, 2);
  ReleaseDmatrix(m, 0, 1, 0, 2);
}
