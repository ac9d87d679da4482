// Reading a result directory back: exact values, and every malformed file
// refused with its name in the message.
#include "host/present/ResultFiles.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "tests/host/SyntheticResults.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

using namespace tarvok;  // the host's code

namespace {

void ExpectSameCluster(const ClusterResult& want, const ClusterResult& got) {
  EXPECT_EQ(want.number, got.number);
  EXPECT_EQ(want.chosenStep, got.chosenStep);
  EXPECT_EQ(want.size, got.size);
  EXPECT_EQ(want.eigenvalue, got.eigenvalue);
  EXPECT_EQ(want.r2, got.r2);
  EXPECT_EQ(want.gap, got.gap);
  EXPECT_EQ(want.component, got.component);
  EXPECT_EQ(want.sizes, got.sizes);
  EXPECT_EQ(want.gapCurve, got.gapCurve);
  EXPECT_EQ(want.r2Curve, got.r2Curve);
  EXPECT_EQ(want.meanPermutedR2, got.meanPermutedR2);
  EXPECT_EQ(want.between, got.between);
  EXPECT_EQ(want.total, got.total);
  EXPECT_EQ(want.within, got.within);
  EXPECT_EQ(want.geneLabels, got.geneLabels);
  EXPECT_EQ(want.data, got.data);
}

}  // namespace

TEST(ReadRunResults, ReadsEveryFileOfEveryClusterExactly) {
  TempDir dir;
  RunResults want = MakeResults(5, 2);
  WriteResults(dir, want, 2);
  RunResults got = ReadRunResults(dir.path(), 2);
  EXPECT_EQ(got.samples, 5);
  EXPECT_EQ(got.sampleLabels, want.sampleLabels);
  ASSERT_EQ(got.clusters.size(), 2u);
  ExpectSameCluster(want.clusters[0], got.clusters[0]);
  ExpectSameCluster(want.clusters[1], got.clusters[1]);
  // The data file is sample-major: its second line is gene 1 of sample 0.
  EXPECT_EQ(got.clusters[0].data[1][0], -1.0);
  EXPECT_EQ(got.clusters[0].r2, 21.0);  // variance line 3, column 2
  EXPECT_EQ(got.clusters[1].gap, 2.0);  // gap line 3 of cluster 2
}

TEST(ReadRunResults, ZeroClustersNeedOnlyTheSampleLabels) {
  TempDir dir;
  dir.Write("ColLbls.txt", "a\nb\n");
  RunResults got = ReadRunResults(dir.path(), 0);
  EXPECT_TRUE(got.clusters.empty());
  EXPECT_EQ(got.samples, 2);
}

TEST(ReadRunResults, AnInterruptedRunIsReadUpToItsLastFinishedCluster) {
  TempDir dir;
  RunResults want = MakeResults(4, 3);
  WriteResults(dir, want, 5);
  RunResults got = ReadRunResults(dir.path(), 2);
  ASSERT_EQ(got.clusters.size(), 2u);
  ExpectSameCluster(want.clusters[1], got.clusters[1]);
}

struct Corruption {
  const char* what;
  const char* file;  // expected in the message
  std::function<void(const TempDir&)> apply;
};

TEST(ReadRunResults, RefusesMalformedFilesNamingThem) {
  const std::vector<Corruption> cases = {
      {"missing gap file", "gap00002.txt",
       [](const TempDir& d) { std::remove(d.File("gap00002.txt").c_str()); }},
      {"missing sample labels", "ColLbls.txt",
       [](const TempDir& d) { std::remove(d.File("ColLbls.txt").c_str()); }},
      {"variance file one step short", "variance00001.txt",
       [](const TempDir& d) { d.Write("variance00001.txt", "13\t1\t2\t3\t4\t5\n"); }},
      {"five fields", "variance00002.txt",
       [](const TempDir& d) {
         std::string text = ReadFile(d.File("variance00002.txt"));
         d.Write("variance00002.txt", "14\t1\t2\t3\t4" + text.substr(text.find('\n')));
       }},
      {"variance size differs from gap size", "variance00001.txt",
       [](const TempDir& d) {
         std::string text = ReadFile(d.File("variance00001.txt"));
         d.Write("variance00001.txt", "14" + text.substr(2));
       }},
      {"one data line short", "cluster00001.txt",
       [](const TempDir& d) {
         std::string text = ReadFile(d.File("cluster00001.txt"));
         d.Write("cluster00001.txt", text.substr(0, text.rfind('\n', text.size() - 2) + 1));
       }},
      {"cut-off last line", "cluster00002.txt",
       [](const TempDir& d) {
         std::string text = ReadFile(d.File("cluster00002.txt"));
         d.Write("cluster00002.txt", text.substr(0, text.size() - 3));
       }},
      {"extra gene label", "clabels00001.txt",
       [](const TempDir& d) { d.Write("clabels00001.txt", ReadFile(d.File("clabels00001.txt")) + "X\n"); }},
      {"eigenvalue not a number", "eigen00001.txt",
       [](const TempDir& d) { d.Write("eigen00001.txt", "abc\n"); }},
      {"eigenvalue with trailing text", "eigen00002.txt",
       [](const TempDir& d) { d.Write("eigen00002.txt", "1.5x\n"); }},
      {"component value not finite", "pc00001.txt",
       [](const TempDir& d) { d.Write("pc00001.txt", "nan\n1\n2\n3\n4\n"); }},
      {"component one sample short", "pc00002.txt",
       [](const TempDir& d) { d.Write("pc00002.txt", "1\n2\n3\n4\n"); }},
      {"CRLF line end", "gap00001.txt",
       [](const TempDir& d) { d.Write("gap00001.txt", "13\t0.5\r\n"); }},
      {"chosen step beyond the sequence", "clusterlengths.txt",
       [](const TempDir& d) { d.Write("clusterlengths.txt", "30\t 8\n3\t 9\n"); }},
      {"size differs from the step's size", "clusterlengths.txt",
       [](const TempDir& d) { d.Write("clusterlengths.txt", "3\t 7\n3\t 9\n"); }},
      {"fewer lines than clusters done", "clusterlengths.txt",
       [](const TempDir& d) { d.Write("clusterlengths.txt", "3\t 8\n"); }},
      {"name list leaves the directory", "clusters.txt",
       [](const TempDir& d) { d.Write("clusters.txt", "../cluster00001.txt\ncluster00002.txt\n"); }},
  };
  for (const Corruption& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    WriteResults(dir, MakeResults(5, 2), 2);
    c.apply(dir);
    try {
      ReadRunResults(dir.path(), 2);
      ADD_FAILURE() << "accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(dir.File(c.file)), std::string::npos) << e.what();
    }
  }
}

TEST(ReadRunResults, MessageShowsTheLineAndHiddenCharacters) {
  TempDir dir;
  WriteResults(dir, MakeResults(5, 1), 1);
  dir.Write("gap00001.txt", "13\t0.5\r\n");
  try {
    ReadRunResults(dir.path(), 1);
    ADD_FAILURE() << "accepted";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), dir.File("gap00001.txt") + ": line 1: \"0.5\\r\" is not a number");
  }
}

TEST(GeneSigns, FollowTheDotProductWithTheComponent) {
  ClusterResult c;
  c.component = {1.0, -2.0, 0.5};
  c.data = {{2.0, -1.0, 0.0},   // dot 4: follows
            {-1.0, 1.0, 0.0},   // dot -3: opposes
            {2.0, 1.0, 0.0},    // dot 0: taken as opposing, as the library does
            {0.0, 0.0, 0.5}};   // dot 0.25
  EXPECT_EQ(GeneSigns(c), (std::vector<int>{1, -1, -1, 1}));
  EXPECT_EQ(GeneSigns(MakeCluster(1, 4, 10, 2)), (std::vector<int>{1, -1, 1, -1, 1, -1, 1, -1}));
}
