#include "shaving/GapStatistic.h"

#include <algorithm>
#include <cstdlib>

#include "engine/Reporting.h"
#include "results/Writers.h"
#include "shaving/NestedSequence.h"
#include "shaving/Random.h"

namespace {

// Five times the smallest normalised double: below this the total variance
// is treated as zero and R2 as 0 rather than a quotient of rounding noise.
constexpr double kTotalVarianceFloor = 1.1125369292536007e-307;

}  // namespace

int CompareRandomKeys(const RandomPair& a, const RandomPair& b) {
  if (a.key > b.key) return 1;
  if (a.key < b.key) return -1;
  return 0;
}

void RandomizeMatrixFrom(const DMatrix& source, const DMatrix& destination, int G, int N,
                         std::uint32_t& state) {
  RandomPair* pairs = static_cast<RandomPair*>(ZeroAllocate(static_cast<std::size_t>(N), sizeof(RandomPair)));
  if (pairs == nullptr) FatalError("allocation failure in calloc()");
  for (int g = 0; g < G; ++g) {
    for (int j = 0; j < N; ++j) pairs[j] = RandomPair{j, NextRandom(state)};
    // Stable: equal keys keep ascending sample index, on every platform.
    std::stable_sort(pairs, pairs + N, [](const RandomPair& a, const RandomPair& b) {
      return CompareRandomKeys(a, b) < 0;
    });
    const double* from = &source[g][0];
    double* to = &destination[g][0];
    for (int j = 0; j < N; ++j) to[j] = from[pairs[j].index];
  }
  std::free(pairs);
}

void RandomizeMatrix(const DMatrix& source, const DMatrix& destination, int G, int N) {
  RandomizeMatrixFrom(source, destination, G, N, RandomStateOfThisThread());
}

void ClusterMeanGene(const DMatrix& data, int N, int n, const DVector& mean, const IVector& order,
                     const DVector& scores) {
  double* a = &mean[0];
  for (int j = 0; j < N; ++j) a[j] = 0.0;
  for (int t = 0; t < n; ++t) {
    int gene = order[t];
    const double* x = &data[gene][0];
    // A score of exactly zero counts as negative.
    if (scores[gene] > 0) {
      for (int j = 0; j < N; ++j) a[j] += x[j];
    } else {
      for (int j = 0; j < N; ++j) a[j] -= x[j];
    }
  }
  for (int j = 0; j < N; ++j) a[j] /= n;
}

void ClusterVariances(const ShaveSequence* sequence, const DVector& R2, const DMatrix& data, int,
                      int N, const DMatrix& scores, const DVector& between, const DVector& total,
                      const DVector& within) {
  DVector a = dvector(0, N - 1);
  for (int k = 0; k < sequence->stepCount; ++k) {
    const int n = sequence->sizes[k];
    ClusterMeanGene(data, N, n, a, sequence->order, scores[k]);
    double sum = 0.0;
    for (int j = 0; j < N; ++j) sum += a[j];
    double abar = sum / N;
    double squares = 0.0;
    for (int j = 0; j < N; ++j) squares += a[j] * a[j];
    double b = squares / N - abar * abar;
    double dataSquares = 0.0;
    for (int t = 0; t < n; ++t) {
      const double* x = &data[sequence->order[t]][0];
      for (int j = 0; j < N; ++j) dataSquares += x[j] * x[j];
    }
    double tot = dataSquares / (static_cast<double>(n) * N) - abar * abar;
    // The comparison is false for a total that is not a number, too.
    R2[k] = tot >= kTotalVarianceFloor ? (100 * b) / tot : 0.0;
    between[k] = b;
    total[k] = tot;
    within[k] = tot - b;
  }
  ReleaseDvector(a, 0, N - 1);
}

int ChooseClusterStep(const DVector& stepGap, int S, double tolerance) {
  int chosen = 0;
  double best = stepGap[0];
  // >=: among equal largest gaps the last step, the smallest cluster, wins.
  for (int k = 1; k < S; ++k) {
    if (stepGap[k] >= best) {
      chosen = k;
      best = stepGap[k];
    }
  }
  // The threshold is fixed by the first choice; the scan runs to step 0 so
  // the largest qualifying cluster wins even past steps below it.
  double threshold = (1 - tolerance * 0.01) * stepGap[chosen];
  for (int k = chosen - 1; k >= 0; --k) {
    if (stepGap[k] > threshold) chosen = k;
  }
  return chosen;
}

void EstimateOptClusterSize(ShaveSequence* sequence, const DMatrix& X, int G, int N, int B,
                            double tolerance, int i, int K, const DMatrix& transform, int c) {
  const int S = sequence->stepCount;
  DVector stepEigenvalues = dvector(0, S - 1);
  PVector stepComponents = pvector(S);
  DMatrix stepScores = dmatrix(0, S - 1, 0, G - 1);

  MonitorLog("%s", kMonitorShaveInitNestedSequence);
  ShaveNestedSequence(sequence, X, transform, N, c, stepComponents, stepScores, stepEigenvalues);
  MonitorLog("%s %d %d", kMonitorEstimateOptClusterSize, i, K);

  DVector stepR2 = dvector(0, S - 1);
  DVector stepBetween = dvector(0, S - 1);
  DVector stepTotal = dvector(0, S - 1);
  DVector stepWithin = dvector(0, S - 1);
  ClusterVariances(sequence, stepR2, X, G, N, stepScores, stepBetween, stepTotal, stepWithin);

  DMatrix permutedR2 = dmatrix(0, B - 1, 0, S - 1);
  DMatrix A = dmatrix(0, G - 1, 0, N - 1);
  DMatrix scratchScores = dmatrix(0, S - 1, 0, G - 1);
  DVector scratchBetween = dvector(0, S - 1);
  DVector scratchTotal = dvector(0, S - 1);
  DVector scratchWithin = dvector(0, S - 1);
  ShaveSequence* permuted = CopyShaveSequence(G, N, sequence);
  for (int b = 0; b < B; ++b) {
    MonitorLog("%s", kMonitorRandomizeMatrix);
    RandomizeMatrix(X, A, G, N);
    MonitorLog("%s %d %d", kMonitorShaveRandNestedSequence, b + 1, B);
    ShaveNestedSequence(permuted, A, transform, N, c, PVector{}, scratchScores, DVector{});
    ClusterVariances(permuted, permutedR2[b], A, G, N, scratchScores, scratchBetween, scratchTotal,
                     scratchWithin);
  }
  FreeShaveSequence(permuted, G, N);
  ReleaseDmatrix(A, 0, G - 1, 0, N - 1);
  ReleaseDmatrix(scratchScores, 0, S - 1, 0, G - 1);
  ReleaseDvector(scratchBetween, 0, S - 1);
  ReleaseDvector(scratchTotal, 0, S - 1);
  ReleaseDvector(scratchWithin, 0, S - 1);

  DVector meanPermutedR2 = dvector(0, S - 1);
  DVector stepGap = dvector(0, S - 1);
  for (int k = 0; k < S; ++k) {
    double sum = 0.0;
    for (int b = 0; b < B; ++b) sum += permutedR2[b][k];
    meanPermutedR2[k] = sum / B;
    stepGap[k] = stepR2[k] - meanPermutedR2[k];
  }
  sequence->chosen = ChooseClusterStep(stepGap, S, tolerance);

  WriteGapFile(i, S, sequence->sizes, stepGap);
  WriteVarianceFile(i, S, sequence->sizes, stepR2, meanPermutedR2, stepBetween, stepTotal, stepWithin);

  const int chosen = sequence->chosen;
  sequence->chosenEigenvalue = stepEigenvalues[chosen];
  for (int s = 0; s < N; ++s) sequence->chosenComponent[s] = stepComponents[chosen][s];
  for (int g = 0; g < G; ++g) sequence->chosenScores[g] = stepScores[chosen][g];

  for (int k = 0; k < S; ++k) ReleaseDvector(stepComponents[k], 0, N - 1);
  ReleasePvector(stepComponents);
  ReleaseDmatrix(stepScores, 0, S - 1, 0, G - 1);
  ReleaseDvector(stepEigenvalues, 0, S - 1);
  ReleaseDvector(stepR2, 0, S - 1);
  ReleaseDvector(stepBetween, 0, S - 1);
  ReleaseDvector(stepTotal, 0, S - 1);
  ReleaseDvector(stepWithin, 0, S - 1);
  ReleaseDmatrix(permutedR2, 0, B - 1, 0, S - 1);
  ReleaseDvector(meanPermutedR2, 0, S - 1);
  ReleaseDvector(stepGap, 0, S - 1);
}
