// The self-contained HTML report of an analysis.
#pragma once

#include <string>

#include "ResultFiles.h"

// Writes the report page to path: a header with the table, the parameters and
// the date, the summary table and, per cluster, four figures embedded as PNG
// data URIs (gap curve, real against permuted R^2, heatmap, component).
//   r    (input) the results read back from the output directory
//   info (input) the run's table, parameters and sample classes
//   path (input) file to create or overwrite
// Written atomically; throws std::runtime_error naming the file and the
// system's reason when it cannot be written.
void WriteReport(const RunResults& r, const RunInfo& info, const std::string& path);

// Escapes text for HTML element content and attribute values (& < > " '),
// with U+FFFD for bytes that are not valid UTF-8.
std::string HtmlEscape(const std::string& text);
