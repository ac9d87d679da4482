// Progress reporting and the one way the library ends a process.
//
// Standard output carries monitor lines (monitor mode on) or the bare fatal
// message (monitor mode off); standard error carries warnings. Every monitor
// line is flushed as it is written so that a host reading the pipe sees
// progress at once.
#pragma once

#include <string>

// Monitor keywords: each line starts with one of these.
inline constexpr const char* kMonitorExtractCluster = "ZR_MONITOR_EXTRACT_CLUSTER";
inline constexpr const char* kMonitorShaveInitNestedSequence = "ZR_MONITOR_SHAVE_INIT_NESTED_SEQUENCE";
inline constexpr const char* kMonitorEstimateOptClusterSize = "ZR_MONITOR_ESTIMATE_OPT_CLUSTER_SIZE";
inline constexpr const char* kMonitorRandomizeMatrix = "ZR_MONITOR_RANDOMIZE_MATRIX";
inline constexpr const char* kMonitorShaveRandNestedSequence = "ZR_MONITOR_SHAVE_RAND_NESTED_SEQUENCE";
inline constexpr const char* kMonitorOrthogonalizeMatrix = "ZR_MONITOR_ORTHOGONALIZE_MATRIX";
inline constexpr const char* kMonitorNoClustersLeft = "ZR_MONITOR_ERR_NO_CLUSTERS_LEFT";
inline constexpr const char* kMonitorAppTerminated = "ZR_MONITOR_APP_TERMINATED";
inline constexpr const char* kMonitorFatal = "ZR_MONITOR_ERR_FATAL";

// Sets the process-wide monitor mode: non-zero on, zero off. Off at load.
void SetMonitorMode(int flag);
int MonitorMode();

// MonitorLog: in monitor mode, writes the printf-formatted text and "\n" to
// standard output and flushes it; otherwise does nothing. A line longer than
// 63 characters is written whole.
void MonitorLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// FatalError: reports an already formatted message and ends the process
// with status 1 (exit handlers run, streams are flushed). In monitor mode
// the report is the two lines ZR_MONITOR_APP_TERMINATED and
// "ZR_MONITOR_ERR_FATAL <message>"; otherwise the message and "\n".
[[noreturn]] void FatalError(const char* message);

// printf into a std::string of whatever length the text needs; the callers
// of FatalError use it so that long paths are never cut or overrun.
std::string FormatMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// "Operation(\"path\"): <strerror(errno)>\n" ends the run; the common form of
// the library's file errors. Reads errno itself, so call it right after the
// failing operation.
[[noreturn]] void FatalFileError(const char* operation, const char* path);
