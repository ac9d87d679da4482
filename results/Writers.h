// The result files of an analysis, all text, all in the output directory.
//
// Whole-run files (cluster data, origmatrix) end the run when they cannot be
// opened. The four per-cluster kinds (gap, variance, eigen, pc) are only
// reported on standard error and skipped: each is written as
// "<stem><i, at least five digits>.txt" and its name is added to an index
// list ("glabels.txt", "vlabels.txt", "elabels.txt", "pclabels.txt"). The
// first write of a list in a process truncates it, later writes append, so
// a list names every file of its kind written since the process started.
// Write errors after a successful open are not checked.
#pragma once

#include <string>

#include "numeric/Arrays.h"

// DataDump: writes one cluster to path (mode "w"): for each sample
// s = 0..N-1, for each j = 0..n-1, a line "%8.6f\n" with matrix[order[j]][s].
// matrix (in) has columns 0..N-1; order (in) has at least n row indices.
// A file that cannot be opened ends the run with "DataDump(\"<path>\"): ...".
void DataDump(const DMatrix& matrix, int N, int n, const int* order, const char* path);

// WriteOrigMatrix: writes "origmatrix.txt": one line per row g = 0..G-1 of
// matrix (in, G x N), each value as " %g", then "\n". A file that cannot be
// opened ends the run with "RuzoVavav(\"<path>\"): ...".
void WriteOrigMatrix(const DMatrix& matrix, int G, int N);

// WriteGapFile: gap file of cluster i (1-based): S lines "%d\t%f\n" of
// sizes[k] and gaps[k], k = 0..S-1 (both in, 0..S-1). Index list "glabels.txt".
void WriteGapFile(int i, int S, const IVector& sizes, const DVector& gaps);

// WriteVarianceFile: variance file of cluster i: S lines
// "%d\t%f\t%f\t%f\t%f\t%f\n" of sizes[k], r2[k], meanPermutedR2[k],
// between[k], total[k], within[k] (all in, 0..S-1). Index list "vlabels.txt".
void WriteVarianceFile(int i, int S, const IVector& sizes, const DVector& r2, const DVector& meanPermutedR2,
                       const DVector& between, const DVector& total, const DVector& within);

// WriteEigenFile: eigen file of cluster i: one line "%f\n" of eigenvalue.
// Index list "elabels.txt".
void WriteEigenFile(int i, double eigenvalue);

// WritePcFile: pc file of cluster i: N lines "%f\n" of component (in,
// 0..N-1) in sample order. Index list "pclabels.txt".
void WritePcFile(int i, int N, const DVector& component);

// ClusterFileName: "%s%05d%s" of stem, i and ".txt" (gap00001.txt); a
// number of six digits or more is kept whole.
std::string ClusterFileName(const char* stem, int i);

// Sets the four index lists back to their state at load (next write
// truncates). Tests only.
void ResetIndexListsForTesting();
