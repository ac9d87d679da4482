// Monitor-line parsing and the progress display, driven by scripted line
// sequences and a fake clock.
#include <gtest/gtest.h>

#include <sstream>

#include "run/Progress.h"

namespace {

TEST(MonitorLines, EveryKeywordWithItsNumbers) {
  struct Case {
    const char* line;
    MonitorEvent::Kind kind;
    int a, b;
  };
  const Case cases[] = {
      {"ZR_MONITOR_EXTRACT_CLUSTER 3", MonitorEvent::ExtractCluster, 3, 0},
      {"ZR_MONITOR_SHAVE_INIT_NESTED_SEQUENCE", MonitorEvent::ShaveInit, 0, 0},
      {"ZR_MONITOR_ESTIMATE_OPT_CLUSTER_SIZE 2 5", MonitorEvent::EstimateSize, 2, 5},
      {"ZR_MONITOR_RANDOMIZE_MATRIX", MonitorEvent::RandomizeMatrix, 0, 0},
      {"ZR_MONITOR_SHAVE_RAND_NESTED_SEQUENCE 17 100", MonitorEvent::ShaveRandom, 17, 100},
      {"ZR_MONITOR_ORTHOGONALIZE_MATRIX 4", MonitorEvent::Orthogonalize, 4, 0},
      {"ZR_MONITOR_ERR_NO_CLUSTERS_LEFT", MonitorEvent::NoClustersLeft, 0, 0},
      {"ZR_MONITOR_APP_TERMINATED", MonitorEvent::Terminated, 0, 0},
      // Bells from the library's warnings and a CR are stripped anywhere.
      {"\aZR_MONITOR_ERR_NO_CLUSTERS_LEFT\r", MonitorEvent::NoClustersLeft, 0, 0},
      {"ZR_MONITOR_EXTRACT_CLUSTER 1\a", MonitorEvent::ExtractCluster, 1, 0},
  };
  for (const Case& c : cases) {
    MonitorEvent event = ParseMonitorLine(c.line);
    EXPECT_EQ(event.kind, c.kind) << c.line;
    EXPECT_EQ(event.a, c.a) << c.line;
    EXPECT_EQ(event.b, c.b) << c.line;
  }
}

TEST(MonitorLines, FatalMessagesAndForeignLines) {
  MonitorEvent fatal = ParseMonitorLine("ZR_MONITOR_ERR_FATAL RuzoVavav(\"/x y/c.txt\"): not a regular file");
  EXPECT_EQ(fatal.kind, MonitorEvent::Fatal);
  EXPECT_EQ(fatal.text, "RuzoVavav(\"/x y/c.txt\"): not a regular file");
  EXPECT_EQ(ParseMonitorLine("ZR_MONITOR_ERR_FATAL").kind, MonitorEvent::Fatal);

  for (const char* line :
       {"ZR_MONITOR_EXTRACT_CLUSTER", "ZR_MONITOR_EXTRACT_CLUSTER x", "ZR_MONITOR_EXTRACT_CLUSTER 1 2",
        "ZR_MONITOR_EXTRACT_CLUSTERS 1", "ZR_MONITOR_SHAVE_RAND_NESTED_SEQUENCE 1",
        "ZR_MONITOR_RANDOMIZE_MATRIX 5", "ZR_MONITOR_ERR_FATALITY", "hello", ""}) {
    MonitorEvent event = ParseMonitorLine(line);
    EXPECT_EQ(event.kind, MonitorEvent::Other) << line;
    EXPECT_EQ(event.text, line);
  }
}

TEST(Durations, MinutesAndHours) {
  EXPECT_EQ(FormatDuration(0), "0:00");
  EXPECT_EQ(FormatDuration(-3), "0:00");
  EXPECT_EQ(FormatDuration(59.6), "1:00");
  EXPECT_EQ(FormatDuration(605), "10:05");
  EXPECT_EQ(FormatDuration(3600), "1:00:00");
  EXPECT_EQ(FormatDuration(3725), "1:02:05");
}

// Feeds lines at the given times to a progress display.
struct Script {
  double now = 0.0;
  std::ostringstream out;
  Progress progress;
  Script(bool terminal, bool quiet, int clusters, int permutations)
      : progress(out, terminal, quiet, clusters, permutations, [this] { return now; }) {}
  void At(double time, const std::string& line) {
    now = time;
    progress.Handle(ParseMonitorLine(line));
  }
};

TEST(ProgressDisplay, PlainLinesAtQuartersOfTheCopies) {
  Script s(false, false, 1, 8);
  s.At(0, "ZR_MONITOR_EXTRACT_CLUSTER 1");
  s.At(1, "ZR_MONITOR_SHAVE_INIT_NESTED_SEQUENCE");
  s.At(9, "ZR_MONITOR_ESTIMATE_OPT_CLUSTER_SIZE 1 1");
  for (int b = 1; b <= 8; ++b) {
    s.At(9.0 * b - 1, "ZR_MONITOR_RANDOMIZE_MATRIX");
    s.At(9.0 * b, "ZR_MONITOR_SHAVE_RAND_NESTED_SEQUENCE " + std::to_string(b) + " 8");
  }
  s.At(81, "ZR_MONITOR_ORTHOGONALIZE_MATRIX 1");
  EXPECT_EQ(s.out.str(),
            "cluster 1 of 1: shaving the data (0%, 0:00 elapsed)\n"
            "cluster 1 of 1: permuted copy 2 of 8 (22%, 0:18 elapsed, about 1:03 left)\n"
            "cluster 1 of 1: permuted copy 4 of 8 (44%, 0:36 elapsed, about 0:45 left)\n"
            "cluster 1 of 1: permuted copy 6 of 8 (66%, 0:54 elapsed, about 0:27 left)\n"
            "cluster 1 of 1: permuted copy 8 of 8 (88%, 1:12 elapsed, about 0:09 left)\n"
            "cluster 1 of 1: chosen (100%, 1:21 elapsed)\n");
  EXPECT_DOUBLE_EQ(s.progress.Fraction(), 1.0);
}

TEST(ProgressDisplay, ClustersAndEarlyStop) {
  Script s(false, false, 3, 1);
  s.At(0, "ZR_MONITOR_EXTRACT_CLUSTER 1");
  s.At(2, "ZR_MONITOR_SHAVE_RAND_NESTED_SEQUENCE 1 1");
  s.At(4, "ZR_MONITOR_ORTHOGONALIZE_MATRIX 1");
  EXPECT_EQ(s.progress.ClustersStarted(), 1);
  s.At(4, "ZR_MONITOR_EXTRACT_CLUSTER 2");
  EXPECT_NEAR(s.progress.Fraction(), 1.0 / 3.0, 1e-12);
  s.At(6, "ZR_MONITOR_ORTHOGONALIZE_MATRIX 2");
  s.At(6, "ZR_MONITOR_ERR_NO_CLUSTERS_LEFT");
  EXPECT_TRUE(s.progress.StoppedEarly());
  EXPECT_EQ(s.progress.ClustersStarted(), 2);
  // The library's own two lines on standard error become the one line that says so.
  s.progress.Message("No clusters left to extract...");
  s.progress.Message("\tExtracted 2 of requested 3");
  EXPECT_TRUE(s.progress.Messages().empty());
  EXPECT_EQ(s.out.str(),
            "cluster 1 of 3: shaving the data (0%, 0:00 elapsed)\n"
            "cluster 1 of 3: permuted copy 1 of 1 (16%, 0:02 elapsed, about 0:10 left)\n"
            "cluster 1 of 3: chosen (33%, 0:04 elapsed, about 0:08 left)\n"
            "cluster 2 of 3: shaving the data (33%, 0:04 elapsed, about 0:08 left)\n"
            "cluster 2 of 3: chosen (66%, 0:06 elapsed, about 0:03 left)\n"
            "No clusters left to extract: extracted 2 of requested 3\n");
}

TEST(ProgressDisplay, LiveBarOnATerminal) {
  Script s(true, false, 2, 4);
  s.At(0, "ZR_MONITOR_EXTRACT_CLUSTER 1");
  EXPECT_EQ(s.out.str(), "\r\x1b[K[....................] cluster 1/2, shaving the data, 0%, 0:00 elapsed");
  s.out.str("");
  // No redraw that changes nothing, and none within 0.1 s; the next tick catches up.
  s.At(0, "ZR_MONITOR_SHAVE_INIT_NESTED_SEQUENCE");
  s.At(0.05, "ZR_MONITOR_ESTIMATE_OPT_CLUSTER_SIZE 1 2");
  EXPECT_EQ(s.out.str(), "");
  s.now = 0.2;
  s.progress.Tick();
  EXPECT_EQ(s.out.str(),
            "\r\x1b[K[##..................] cluster 1/2, shaving the data, 10%, 0:00 elapsed, about 0:02 left");
  s.out.str("");
  s.At(10, "ZR_MONITOR_SHAVE_RAND_NESTED_SEQUENCE 4 4");  // 4 of 10 units
  EXPECT_EQ(s.out.str(),
            "\r\x1b[K[########............] cluster 1/2, copy 4/4, 40%, 0:10 elapsed, about 0:15 left");
  s.out.str("");
  s.now = 12;
  s.progress.Tick();
  EXPECT_EQ(s.out.str(),
            "\r\x1b[K[########............] cluster 1/2, copy 4/4, 40%, 0:12 elapsed, about 0:18 left");
  s.out.str("");
  // Other text clears the bar, stands on its own line, and the bar returns.
  s.progress.Message("Warning: a gene is constant");
  EXPECT_EQ(s.out.str(),
            "\r\x1b[KWarning: a gene is constant\n"
            "\r\x1b[K[########............] cluster 1/2, copy 4/4, 40%, 0:12 elapsed, about 0:18 left");
  s.out.str("");
  s.progress.Finish();
  EXPECT_EQ(s.out.str(), "\r\x1b[K");
}

TEST(ProgressDisplay, QuietShowsOnlyMessages) {
  for (bool terminal : {false, true}) {
    Script s(terminal, true, 2, 4);
    s.At(0, "ZR_MONITOR_EXTRACT_CLUSTER 1");
    s.At(1, "ZR_MONITOR_SHAVE_RAND_NESTED_SEQUENCE 4 4");
    s.At(2, "ZR_MONITOR_ORTHOGONALIZE_MATRIX 1");
    s.progress.Tick();
    s.progress.Finish();
    EXPECT_EQ(s.out.str(), "");
    s.progress.Message("No clusters left to extract...");
    s.progress.Message("\tExtracted 1 of requested 2");
    EXPECT_EQ(s.out.str(), "");
    s.progress.Message("warning\n");
    EXPECT_EQ(s.out.str(), "warning\n");
    EXPECT_EQ(s.progress.Messages(), std::vector<std::string>{"warning\n"});
  }
}

}  // namespace
