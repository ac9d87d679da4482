// The result files of an analysis, all text, all in the output directory
// dir that each writer is given. Numbers are formatted without the C
// library's locale (base/Numbers.h), in printf's "C" layouts.
//
// Whole-run files (cluster data, origmatrix) throw Error when they cannot be
// opened (the run then ends). The four per-cluster kinds (gap, variance, eigen, pc) are only
// reported on standard error and skipped: each is written as
// "<stem><i, at least five digits>.txt" and its name is added to an index
// list ("glabels.txt", "vlabels.txt", "elabels.txt", "pclabels.txt"). The
// first write of a list in a process truncates it, later writes append, so
// a list names every file of its kind written since the process started.
// Write errors after a successful open are not checked. That is the Classic
// rule of the C face; under WriteChecks::Every (results/ResultStream.h)
// every failure throws instead and no file is skipped.
#pragma once

#include <functional>
#include <string>

#include <vector>

#include "core/ClusterRecord.h"
#include "results/ResultStream.h"

// The rows of a genes x samples matrix: row(g) points at gene g's values.
using MatrixRows = std::function<const double*(int gene)>;

// DataDump: writes one cluster to path (mode "w"): for each sample
// s = 0..N-1, for each j = 0..n-1, a line "%8.6f\n" with row(order[j])[s].
// order (in) has at least n row indices.
// A file that cannot be opened throws Error "DataDump(\"<path>\"): ...".
void DataDump(const MatrixRows& row, int N, int n, const int* order, const char* path,
              WriteChecks checks = WriteChecks::Classic);

// WriteOrigMatrix: writes "origmatrix.txt": one line per row g = 0..G-1 of
// the matrix (G x N), each value as " %g", then "\n". A file that cannot be
// opened throws Error "RuzoVavav(\"<path>\"): ...".
void WriteOrigMatrix(const std::string& dir, const MatrixRows& row, int G, int N,
                     WriteChecks checks = WriteChecks::Classic);

// WriteGapFile: gap file of cluster i (1-based): one line "%d\t%f\n" of
// sizes[k] and gap[k] per step k of the record. Index list "glabels.txt".
void WriteGapFile(const std::string& dir, int i, const tarvok::ClusterRecord& record,
                  WriteChecks checks = WriteChecks::Classic);

// WriteVarianceFile: variance file of cluster i: one line
// "%d\t%f\t%f\t%f\t%f\t%f\n" of sizes[k], r2[k], meanPermutedR2[k],
// between[k], total[k], within[k] per step k. Index list "vlabels.txt".
void WriteVarianceFile(const std::string& dir, int i, const tarvok::ClusterRecord& record,
                       WriteChecks checks = WriteChecks::Classic);

// WriteEigenFile: eigen file of cluster i: one line "%f\n" of eigenvalue.
// Index list "elabels.txt".
void WriteEigenFile(const std::string& dir, int i, double eigenvalue, WriteChecks checks = WriteChecks::Classic);

// WritePcFile: pc file of cluster i: one line "%f\n" per entry of the
// component, in sample order. Index list "pclabels.txt".
void WritePcFile(const std::string& dir, int i, const std::vector<double>& component,
                 WriteChecks checks = WriteChecks::Classic);

// Sets the four index lists back to their state at load (next write
// truncates). Tests only.
void ResetIndexListsForTesting();
