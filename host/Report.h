// The self-contained HTML report of an analysis.
#pragma once

#include <string>

#include "ResultFiles.h"

// Writes the report page with every figure embedded to path.
//   r    (input) the results read back from the output directory
//   info (input) the run's table, parameters and classes
//   path (input) file to create or overwrite
// Throws std::runtime_error naming the file when it cannot be written.
void WriteReport(const RunResults& r, const RunInfo& info, const std::string& path);
