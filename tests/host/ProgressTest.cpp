// Monitor-line parsing and the progress display, driven by scripted line
// sequences and a fake clock.
#include <gtest/gtest.h>

#include <sstream>

#include "run/Progress.h"

using namespace tarvok;  // the host's code

namespace {

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
  // The run's events at the given times.
  void Pass(double time, int i) { At(time), progress.PassStarted(i); }
  void DataShaved(double time, int i, int K) { At(time), progress.DataShaved(i, K); }
  void Copy(double time, int b, int B) { At(time), progress.CopyShaved(b, B); }
  void Chosen(double time, int i) { At(time), progress.Orthogonalizing(i); }
  void At(double time) { now = time; }
};

TEST(ProgressDisplay, PlainLinesAtQuartersOfTheCopies) {
  Script s(false, false, 1, 8);
  s.Pass(0, 1);
  s.At(1);
  s.DataShaved(9, 1, 1);
  for (int b = 1; b <= 8; ++b) {
    s.Copy(9.0 * b, b, 8);
  }
  s.Chosen(81, 1);
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
  s.Pass(0, 1);
  s.Copy(2, 1, 1);
  s.Chosen(4, 1);
  EXPECT_EQ(s.progress.ClustersStarted(), 1);
  s.Pass(4, 2);
  EXPECT_NEAR(s.progress.Fraction(), 1.0 / 3.0, 1e-12);
  s.Chosen(6, 2);
  s.progress.StoppedEarly(2, 3);
  EXPECT_EQ(s.progress.ClustersStarted(), 2);
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
  s.Pass(0, 1);
  EXPECT_EQ(s.out.str(), "\r\x1b[K[....................] cluster 1/2, shaving the data, 0%, 0:00 elapsed");
  s.out.str("");
  // No redraw that changes nothing, and none within 0.1 s; the next tick catches up.
  s.At(0);
  s.DataShaved(0.05, 1, 2);
  EXPECT_EQ(s.out.str(), "");
  s.now = 0.2;
  s.progress.Tick();
  EXPECT_EQ(s.out.str(),
            "\r\x1b[K[##..................] cluster 1/2, shaving the data, 10%, 0:00 elapsed, about 0:02 left");
  s.out.str("");
  s.Copy(10, 4, 4);  // 4 of 10 units
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

// Quiet hides the progress, never the messages nor an early stop.
TEST(ProgressDisplay, QuietShowsOnlyMessagesAndTheEarlyStop) {
  for (bool terminal : {false, true}) {
    Script s(terminal, true, 2, 4);
    s.Pass(0, 1);
    s.Copy(1, 4, 4);
    s.Chosen(2, 1);
    s.progress.Tick();
    s.progress.Finish();
    EXPECT_EQ(s.out.str(), "");
    s.progress.Message("warning\n");
    EXPECT_EQ(s.out.str(), "warning\n");
    s.progress.StoppedEarly(1, 2);
    EXPECT_EQ(s.out.str(), "warning\nNo clusters left to extract: extracted 1 of requested 2\n");
    EXPECT_EQ(s.progress.Messages(), std::vector<std::string>{"warning\n"});
  }
}

}  // namespace
