// Text summaries of an analysis: a table for the terminal and two files.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "present/ResultFiles.h"

namespace tarvok {

// Gene labels shown per cluster in the terminal table and the report.
inline constexpr size_t kSummaryFirstGenes = 5;

// value with seven significant digits ("%.7g"): small values keep their
// digits (7e-09, never 0.000000) and large ones need no fixed width.
std::string SignificantDigits(double value);

// The first count gene labels of c, blank-separated, then "(+m more)" when
// the cluster has more. Labels never hold blanks (the library reads them as
// blank-separated tokens).
std::string FirstGenes(const ClusterResult& c, size_t count);

// The run's classes in class-number order, each with its name (the class
// word, or the number when the classes were numbers) and its sample count;
// empty when the run had no classes.
std::vector<std::pair<std::string, int>> ClassCounts(const RunInfo& info);

// One sentence on the missing values: the policy, what was found and what
// the policy did ("drop: 12 missing cells; 3 genes left out").
std::string MissingValuesText(const RunInfo& info);

// Prints an aligned table of r to out: cluster, genes, chosen step,
// eigenvalue, R^2 (percent), gap and the first few gene labels. Numbers carry
// seven significant digits.
void PrintSummary(const RunResults& r, std::ostream& out);

// Writes "summary.tsv" (one row per cluster with every gene label) and
// "summary.json" (run parameters, classes, missing-value handling, warnings,
// completeness and per-cluster figures at full precision) into outDir, each
// by an atomic write. Labels that are not valid UTF-8 get U+FFFD in both.
//   r      (input) the results read back from outDir
//   info   (input) the run's table and parameters
//   outDir (input) an existing directory
// Throws std::runtime_error naming the file and the system's reason when it
// cannot be written.
void WriteSummaryFiles(const RunResults& r, const RunInfo& info, const std::string& outDir);

}  // namespace tarvok
