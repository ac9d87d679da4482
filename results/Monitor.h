// The monitor lines of a run: standard output carries them (monitor mode on)
// or, for a failure, the bare message (monitor mode off). Every line is
// flushed as it is written so that a host reading the pipe sees progress at
// once.
#pragma once

#include "base/Format.h"
#include "base/MonitorKeywords.h"

using tarvok::FormatMessage;
using tarvok::kMonitorAppTerminated;
using tarvok::kMonitorEstimateOptClusterSize;
using tarvok::kMonitorExtractCluster;
using tarvok::kMonitorFatal;
using tarvok::kMonitorNoClustersLeft;
using tarvok::kMonitorOrthogonalizeMatrix;
using tarvok::kMonitorRandomizeMatrix;
using tarvok::kMonitorShaveInitNestedSequence;
using tarvok::kMonitorShaveRandNestedSequence;

// Sets the process-wide monitor mode: non-zero on, zero off. Off at load.
void SetMonitorMode(int flag);
int MonitorMode();

// MonitorLog: in monitor mode, writes the printf-formatted text and "\n" to
// standard output and flushes it; otherwise does nothing. A line longer than
// 63 characters is written whole.
void MonitorLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// ReportFailure: reports an already formatted failure message. In monitor
// mode the report is the two lines ZR_MONITOR_APP_TERMINATED and
// "ZR_MONITOR_ERR_FATAL <message>"; otherwise the message and "\n".
void ReportFailure(const char* message);
