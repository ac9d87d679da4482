// The gap statistic: how much more of a nested cluster's variance lies
// between samples on the real data than on row-permuted copies, and the
// choice of cluster size from it.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "numeric/Arrays.h"
#include "core/ClusterRecord.h"
#include "shaving/CopyDistribution.h"
#include "shaving/NestedSequence.h"
#include "shaving/ShaveSequence.h"

struct WorkerScratch;

// The work space of the passes of one analysis: each worker's permuted copy
// and sequence scratch, and the real data's step signs, kept from pass to
// pass so that no large block is allocated and freed per pass (freed blocks
// of that size tend to stay with the allocator rather than go back to the
// system). Sized by the first pass that uses it; never shared between
// analyses running at once.
struct GapWorkspace {
  GapWorkspace();
  ~GapWorkspace();
  // An n x n matrix free between passes: a worker's cross-product matrix
  // when it has that order (unsupervised it does), else one of its own.
  const Matrix& SquareScratch(int n);
  std::vector<std::unique_ptr<WorkerScratch>> workers;
  Matrix square;
  SignTable stepSigns;  // the real data's, S x G
};

// How a pass measures its gaps.
struct GapOptions {
  int permutations = 1;    // B, copies, >= 1
  double tolerance = 0.0;  // percent
  int threads = 1;         // worker threads for the real data and the copies
  // The generator the copies are drawn from; advanced by B * G * N draws,
  // exactly as if the copies had been drawn one after another.
  std::uint32_t* generator = nullptr;
  // Other processes that share the copies (none: this one shaves them all).
  tarvok::CopyDistribution* distribution = nullptr;
  // Kept from pass to pass (none: the pass allocates its own).
  GapWorkspace* workspace = nullptr;
};

// What a pass reports while it runs. Every call comes on the calling
// thread, in the order of the run's monitor lines; any may throw, which
// stops the pass.
class PassEvents {
 public:
  virtual ~PassEvents() = default;
  virtual void ShavingData() {}                   // the data's sequence starts
  virtual void DataShaved() {}                    // ... and is done
  virtual void CopyShaved(int /*copy*/, int /*copies*/) {}  // copy b (from 1) of B is done
  virtual void SizeChosen(const tarvok::ClusterRecord& /*record*/) {}
  virtual void Orthogonalizing() {}               // before the mean pattern is removed
  // Polled at least once per copy and about every 0.1 s; true cancels.
  virtual bool CancelRequested() { return false; }
};

// EstimateOptClusterSize: shaves input.data once and B row-permuted copies
// on the schedule of `sequence`, forms the gap per step, chooses the step
// (largest gap, then the tolerance rule) and returns the pass's record:
// every step's figures and the chosen cluster (its genes in order with
// their scores, eigenvalue and component). The sequence keeps the data's
// order and the chosen fields. The real data and the copies run as tasks of
// one parallel-for; results and events do not depend on the thread count.
tarvok::ClusterRecord EstimateOptClusterSize(ShaveSequence* sequence, const ShavingInput& input,
                                             const GapOptions& options, PassEvents& events);

// ChooseClusterStep: the step of the largest gap (the last of equal
// largest gaps), then moved to the smallest earlier step whose gap exceeds
// (1 - tolerance/100) times that largest gap.
int ChooseClusterStep(const DVector& stepGap, int S, double tolerance);

// A sequence's variance figures per step, each a dvector [0..S-1].
struct StepVariances {
  DVector R2, between, total, within;
};

// ClusterVariances: for every step k of the sequence, the sign-aligned mean
// gene a of the step's cluster and from it, in percent, R2 = 100 * between /
// total (0 when total is below 5 * 2^-1022 or not a number), with
//   between = mean(a^2) - mean(a)^2,
//   total   = mean of the squared data of the cluster - mean(a)^2,
//   within  = total - between,
// into out. data: G x N, the matrix the sequence shaved; signs row k: which
// genes score positive at step k.
void ClusterVariances(const ShaveSequence* sequence, const DMatrix& data, int N, const SignTable& signs,
                      const StepVariances& out);

// ClusterMeanGene: mean[j] over the genes order[0..n-1] of data[gene][j],
// each gene added when positive[gene] is set and subtracted otherwise.
void ClusterMeanGene(const DMatrix& data, int N, int n, const DVector& mean, const IVector& order,
                     const std::uint8_t* positive);
