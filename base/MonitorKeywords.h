// The monitor channel's keywords: each progress line starts with one. The
// library writes them; hosts that follow a run parse them.
#pragma once

namespace tarvok {

inline constexpr const char* kMonitorExtractCluster = "ZR_MONITOR_EXTRACT_CLUSTER";
inline constexpr const char* kMonitorShaveInitNestedSequence = "ZR_MONITOR_SHAVE_INIT_NESTED_SEQUENCE";
inline constexpr const char* kMonitorEstimateOptClusterSize = "ZR_MONITOR_ESTIMATE_OPT_CLUSTER_SIZE";
inline constexpr const char* kMonitorRandomizeMatrix = "ZR_MONITOR_RANDOMIZE_MATRIX";
inline constexpr const char* kMonitorShaveRandNestedSequence = "ZR_MONITOR_SHAVE_RAND_NESTED_SEQUENCE";
inline constexpr const char* kMonitorOrthogonalizeMatrix = "ZR_MONITOR_ORTHOGONALIZE_MATRIX";
inline constexpr const char* kMonitorNoClustersLeft = "ZR_MONITOR_ERR_NO_CLUSTERS_LEFT";
inline constexpr const char* kMonitorAppTerminated = "ZR_MONITOR_APP_TERMINATED";
inline constexpr const char* kMonitorFatal = "ZR_MONITOR_ERR_FATAL";

}  // namespace tarvok
