// The gap statistic: how much more of a nested cluster's variance lies
// between samples on the real data than on row-permuted copies, and the
// choice of cluster size from it.
#pragma once

#include <cstdint>
#include <functional>

#include "numeric/Arrays.h"
#include "shaving/ShaveSequence.h"

// EstimateOptClusterSize: shaves X (G x N, read only) once and B permuted
// copies on the schedule of `sequence`, forms the gap per step, chooses the
// step (largest gap, then the tolerance rule), writes the gap and variance
// files of cluster i and copies the chosen step into the sequence's chosen
// fields. transform/c as for ShaveNestedSequence. K is only reported.
void EstimateOptClusterSize(ShaveSequence* sequence, const DMatrix& X, int G, int N, int B,
                            double tolerance, int i, int K, const DMatrix& transform, int c);

// ShaveRealAndPermutedData: runs shaveRealData (the real data's sequence,
// which must not touch the generator or the schedule), then makes B
// row-permuted copies of X from the calling thread's generator and shaves
// each on the schedule of `sequence`; row b of permutedR2 (B x S) receives
// copy b's R2 per step. All of it runs as tasks on WorkerThreads() threads
// with results, monitor lines and final generator state identical to one
// thread: the calling thread runs realDataShaved once the real data is
// done and before it reports any copy.
void ShaveRealAndPermutedData(const ShaveSequence* sequence, const DMatrix& X, int G, int N, int B,
                              const DMatrix& transform, int c, const DMatrix& permutedR2,
                              const std::function<void()>& shaveRealData,
                              const std::function<void()>& realDataShaved);

// ChooseClusterStep: the step of the largest gap (the last of equal
// largest gaps), then moved to the smallest earlier step whose gap exceeds
// (1 - tolerance/100) times that largest gap.
int ChooseClusterStep(const DVector& stepGap, int S, double tolerance);

// ClusterVariances: for every step k of the sequence, the sign-aligned mean
// gene a of the step's cluster and from it, in percent, R2 = 100 * between /
// total (0 when total is below 5 * 2^-1022 or not a number), with
//   between = mean(a^2) - mean(a)^2,
//   total   = mean of the squared data of the cluster - mean(a)^2,
//   within  = total - between.
// scores is S x G (row k: the step's signed scores by gene).
void ClusterVariances(const ShaveSequence* sequence, const DVector& R2, const DMatrix& data, int G,
                      int N, const DMatrix& scores, const DVector& between, const DVector& total,
                      const DVector& within);

// ClusterMeanGene: mean[j] over the genes order[0..n-1] of data[gene][j],
// each gene added when its score is positive and subtracted otherwise.
void ClusterMeanGene(const DMatrix& data, int N, int n, const DVector& mean, const IVector& order,
                     const DVector& scores);

// RandomizeMatrix: destination row g = source row g in a random order of
// its own, drawn from the calling thread's generator (N draws per gene,
// gene by gene). Pairs of equal keys keep ascending sample order.
void RandomizeMatrix(const DMatrix& source, const DMatrix& destination, int G, int N);

// The same with an explicit generator state, advanced by G * N draws.
void RandomizeMatrixFrom(const DMatrix& source, const DMatrix& destination, int G, int N,
                         std::uint32_t& state);

// A sample index and its random key.
struct RandomPair {
  int index;
  int key;
};

// CompareRandomKeys: 1, -1 or 0 as a's key is greater, smaller or equal.
int CompareRandomKeys(const RandomPair& a, const RandomPair& b);
