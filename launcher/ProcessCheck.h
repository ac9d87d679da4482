// The running-process check of the Windows launcher: is a process of a
// given image name running? The 95 family is asked through the toolhelp
// snapshot, the NT family through the registry's performance data. Windows
// only; the byte-level work lives in ProcessList.h.
#pragma once

#include <cstddef>

#include "launcher/ProcessList.h"

// IsProcessRunning: scans the processes into the process-wide task table,
// echoing each record examined to the debugger output, and compares image
// names with A-Z case folding.
// imageName (input) NUL-terminated name looked for, e.g. "Splus.exe"
// Returns 1 when a listed process has that name; 0 otherwise, also on a
// platform of neither family and when listing fails.
int IsProcessRunning(const char* imageName);

// CollectProcessesToolhelp: lists processes through CreateToolhelp32Snapshot
// and Process32First/Next, looked up in KERNEL32 at run time.
// table    (output) TaskRecord[capacity], filled from the first
// capacity (input)  most records to fill
// Returns the number filled, 0 on any failure.
std::size_t CollectProcessesToolhelp(TaskRecord* table, std::size_t capacity);

// CollectProcessesPerfData: lists the instances of the Process object of
// the performance data, at most capacity - 1 of them.
// table    (output) TaskRecord[capacity], filled from the first
// capacity (input)  table size
// Returns the number filled, 0 on any failure.
std::size_t CollectProcessesPerfData(TaskRecord* table, std::size_t capacity);

// AcquireDebugPrivilege: enables SeDebugPrivilege in the launcher's own
// token (left open). Failures are written to standard output.
// Returns 1 when enabled, 0 otherwise.
int AcquireDebugPrivilege();
