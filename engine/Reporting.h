// The one way the library ends a process.
#pragma once

#include "results/Monitor.h"

// FatalError: reports an already formatted message (ReportFailure) and ends
// the process with status 1 (exit handlers run, streams are flushed). Only
// the exports call it, once they have caught a failure.
[[noreturn]] void FatalError(const char* message);
