#include "engine/Reporting.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/ChildProcess.h"

TEST(FatalError, MonitorModeWritesTwoKeywordLinesAndExitsWithOne) {
  ChildResult r = RunInChild([] {
    SetMonitorMode(1);
    FatalError("DataDump(\"x/y.txt\"): No such file or directory\n");
  });
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out,
            "ZR_MONITOR_APP_TERMINATED\n"
            "ZR_MONITOR_ERR_FATAL DataDump(\"x/y.txt\"): No such file or directory\n\n");
  EXPECT_EQ(r.err, "");
}

TEST(FatalError, BareModeWritesMessageAndNewline) {
  ChildResult r = RunInChild([] {
    SetMonitorMode(0);
    FatalError("choldc failed");
  });
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "choldc failed\n");
  EXPECT_EQ(r.err, "");
}

TEST(MonitorLog, WritesOnlyInMonitorModeAndKeepsLongLinesWhole) {
  std::string path(300, 'p');
  ChildResult r = RunInChild([&] {
    SetMonitorMode(0);
    MonitorLog("%s %d", kMonitorExtractCluster, 1);
    SetMonitorMode(7);  // any non-zero value turns it on
    MonitorLog("%s %d %d", kMonitorShaveRandNestedSequence, 12, 20);
    MonitorLog("%s %s", kMonitorFatal, path.c_str());
  });
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_EQ(r.out, "ZR_MONITOR_SHAVE_RAND_NESTED_SEQUENCE 12 20\n"
                   "ZR_MONITOR_ERR_FATAL " + path + "\n");
}

TEST(FatalError, LongMessageIsReportedWhole) {
  std::string path(5000, 'd');
  ChildResult r = RunInChild([&] {
    SetMonitorMode(1);
    errno = ENOENT;
    FatalError(tarvok::FileErrorMessage("StoreLabels", path.c_str()).c_str());
  });
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "ZR_MONITOR_APP_TERMINATED\nZR_MONITOR_ERR_FATAL StoreLabels(\"" + path +
                       "\"): No such file or directory\n\n");
}
