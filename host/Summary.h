// Text summaries of an analysis: a table for the terminal and two files.
#pragma once

#include <ostream>
#include <string>

#include "ResultFiles.h"

// Prints an aligned table (cluster, genes, chosen step, eigenvalue, R^2, gap,
// first genes) of r to out.
void PrintSummary(const RunResults& r, std::ostream& out);

// Writes "summary.tsv" and "summary.json" into outDir.
//   r      (input) the results read back from outDir
//   info   (input) the run's table and parameters
//   outDir (input) an existing directory
// Throws std::runtime_error naming the file when it cannot be written.
void WriteSummaryFiles(const RunResults& r, const RunInfo& info, const std::string& outDir);
