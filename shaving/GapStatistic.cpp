#include "shaving/GapStatistic.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>
#include "numeric/VectorClones.h"
#include <cstdlib>

#include "engine/Reporting.h"
#include "results/Writers.h"
#include "shaving/NestedSequence.h"
#include "shaving/Random.h"
#include "shaving/Workers.h"

namespace {

// Five times the smallest normalised double: below this the total variance
// is treated as zero and R2 as 0 rather than a quotient of rounding noise.
constexpr double kTotalVarianceFloor = 1.1125369292536007e-307;

}  // namespace

namespace {

// Tables of up to this many samples are permuted on the stack.
constexpr int kShortTable = 64;

// Sorts the pairs by ascending key; equal keys keep ascending sample index
// (a stable sort), the same on every platform.
void SortByKey(RandomPair* pairs, int N) {
  std::stable_sort(pairs, pairs + N, [](const RandomPair& a, const RandomPair& b) {
    return CompareRandomKeys(a, b) < 0;
  });
}

// The same order for a short table without sorting: a key (15 bits) and
// its sample index packed as key * 2^16 + index are all distinct and order
// as (key, index), exactly the stable order, so each sample's place is the
// number of packed values below its own. The counts have no branches to
// mispredict and vectorise.
TARVOK_VECTOR_CLONES void PermuteShortRow(const double* from, double* to, int N, std::uint32_t& state) {
  std::int32_t packed[kShortTable];
  for (int j = 0; j < N; ++j) packed[j] = NextRandom(state) << 16 | j;
  for (int i = 0; i < N; ++i) {
    int place = 0;
    for (int j = 0; j < N; ++j) place += packed[j] < packed[i];
    to[place] = from[i];
  }
}

// Longer rows are placed by two counting passes over the packed values
// key * 2^16 + index (index < 2^16 up to this length), first by the low 8
// bits of the key, then by its high 7 bits. Each pass keeps the order of
// equal digits and the values enter in index order, so equal keys keep
// ascending sample index: the stable sort's order, in linear time.
constexpr int kPackedRow = 1 << 16;

void PermuteLongRow(const double* from, double* to, int N, std::uint32_t& state, std::uint32_t* packed,
                    std::uint32_t* spare) {
  int low[256] = {};
  int high[128] = {};
  for (int j = 0; j < N; ++j) {
    const std::uint32_t key = static_cast<std::uint32_t>(NextRandom(state));
    packed[j] = key << 16 | static_cast<std::uint32_t>(j);
    ++low[key & 255u];
    ++high[key >> 8];
  }
  for (int d = 0, place = 0; d < 256; ++d) {
    const int count = low[d];
    low[d] = place;
    place += count;
  }
  for (int d = 0, place = 0; d < 128; ++d) {
    const int count = high[d];
    high[d] = place;
    place += count;
  }
  for (int j = 0; j < N; ++j) spare[low[(packed[j] >> 16) & 255u]++] = packed[j];
  for (int j = 0; j < N; ++j) packed[high[spare[j] >> 24]++] = spare[j];
  for (int j = 0; j < N; ++j) to[j] = from[packed[j] & 0xFFFFu];
}

}  // namespace

int CompareRandomKeys(const RandomPair& a, const RandomPair& b) {
  if (a.key > b.key) return 1;
  if (a.key < b.key) return -1;
  return 0;
}

void RandomizeMatrixFrom(const DMatrix& source, const DMatrix& destination, int G, int N,
                         std::uint32_t& state) {
  if (N <= kShortTable) {
    for (int g = 0; g < G; ++g) PermuteShortRow(&source[g][0], &destination[g][0], N, state);
    return;
  }
  if (N <= kPackedRow) {
    std::uint32_t* packed =
        static_cast<std::uint32_t*>(ZeroAllocate(2 * static_cast<std::size_t>(N), sizeof(std::uint32_t)));
    if (packed == nullptr) FatalError("allocation failure in calloc()");
    for (int g = 0; g < G; ++g) PermuteLongRow(&source[g][0], &destination[g][0], N, state, packed, packed + N);
    std::free(packed);
    return;
  }
  RandomPair* pairs = static_cast<RandomPair*>(ZeroAllocate(static_cast<std::size_t>(N), sizeof(RandomPair)));
  if (pairs == nullptr) FatalError("allocation failure in calloc()");
  for (int g = 0; g < G; ++g) {
    for (int j = 0; j < N; ++j) pairs[j] = RandomPair{j, NextRandom(state)};
    SortByKey(pairs, N);
    const double* from = &source[g][0];
    double* to = &destination[g][0];
    for (int j = 0; j < N; ++j) to[j] = from[pairs[j].index];
  }
  std::free(pairs);
}

void RandomizeMatrix(const DMatrix& source, const DMatrix& destination, int G, int N) {
  RandomizeMatrixFrom(source, destination, G, N, RandomStateOfThisThread());
}

TARVOK_VECTOR_CLONES void ClusterMeanGene(const DMatrix& data, int N, int n, const DVector& mean, const IVector& order,
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
  const int S = sequence->stepCount;
  // The squared data of every step's cluster, summed gene by gene in order
  // position. The clusters are prefixes of one order, so one running sum
  // passes through each step's total exactly as a sum of its own would.
  DVector dataSquares = dvector(0, S - 1);
  double running = 0.0;
  for (int t = 0, k = S - 1; k >= 0; ++t) {
    const double* x = &data[sequence->order[t]][0];
    for (int j = 0; j < N; ++j) running += x[j] * x[j];
    if (sequence->sizes[k] == t + 1) dataSquares[k--] = running;
  }
  DVector a = dvector(0, N - 1);
  for (int k = 0; k < S; ++k) {
    const int n = sequence->sizes[k];
    ClusterMeanGene(data, N, n, a, sequence->order, scores[k]);
    double sum = 0.0;
    for (int j = 0; j < N; ++j) sum += a[j];
    double abar = sum / N;
    double squares = 0.0;
    for (int j = 0; j < N; ++j) squares += a[j] * a[j];
    double b = squares / N - abar * abar;
    double tot = dataSquares[k] / (static_cast<double>(n) * N) - abar * abar;
    // The comparison is false for a total that is not a number, too.
    R2[k] = tot >= kTotalVarianceFloor ? (100 * b) / tot : 0.0;
    between[k] = b;
    total[k] = tot;
    within[k] = tot - b;
  }
  ReleaseDvector(a, 0, N - 1);
  ReleaseDvector(dataSquares, 0, S - 1);
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

namespace {

// Scratch of one thread that makes and shaves permuted copies: allocated
// once and reused for every copy it takes.
struct PermutationScratch {
  DMatrix A;               // the permuted copy, G x N
  DMatrix scores;          // S x G
  DVector between, total, within;  // 0..S-1, never read
  ShaveSequence* sequence;  // the real data's schedule
};

PermutationScratch NewPermutationScratch(const ShaveSequence* sequence, int G, int N) {
  const int S = sequence->stepCount;
  return PermutationScratch{dmatrix(0, G - 1, 0, N - 1), dmatrix(0, S - 1, 0, G - 1), dvector(0, S - 1),
                            dvector(0, S - 1), dvector(0, S - 1), CopyShaveSequence(G, N, sequence)};
}

void FreePermutationScratch(PermutationScratch& scratch, int S, int G, int N) {
  FreeShaveSequence(scratch.sequence, G, N);
  ReleaseDmatrix(scratch.A, 0, G - 1, 0, N - 1);
  ReleaseDmatrix(scratch.scores, 0, S - 1, 0, G - 1);
  ReleaseDvector(scratch.between, 0, S - 1);
  ReleaseDvector(scratch.total, 0, S - 1);
  ReleaseDvector(scratch.within, 0, S - 1);
}

// Shaves the copy already in scratch.A; its R2 per step goes to r2.
void ShaveCopy(PermutationScratch& scratch, int G, int N, const DMatrix& transform, int c,
               const DVector& r2) {
  ShaveNestedSequence(scratch.sequence, scratch.A, transform, N, c, PVector{}, scratch.scores, DVector{});
  ClusterVariances(scratch.sequence, r2, scratch.A, G, N, scratch.scores, scratch.between,
                   scratch.total, scratch.within);
}

void ShaveCopiesInOrder(const ShaveSequence* sequence, const DMatrix& X, int G, int N, int B,
                        const DMatrix& transform, int c, const DMatrix& permutedR2) {
  PermutationScratch scratch = NewPermutationScratch(sequence, G, N);
  for (int b = 0; b < B; ++b) {
    MonitorLog("%s", kMonitorRandomizeMatrix);
    RandomizeMatrix(X, scratch.A, G, N);
    MonitorLog("%s %d %d", kMonitorShaveRandNestedSequence, b + 1, B);
    ShaveCopy(scratch, G, N, transform, c, permutedR2[b]);
  }
  FreePermutationScratch(scratch, sequence->stepCount, G, N);
}

// The real data's sequence and the copies on worker threads, as tasks
// 0 (the real data) and 1..B (copy b = task - 1). Copy b draws exactly the
// values it would draw in sequence: its generator starts b * G * N draws
// after the state at the start of the pass. Each task writes only its own
// results. The calling thread reports the tasks in order as they complete
// and leaves the generator where the sequential order would.
bool ShaveInParallel(const ShaveSequence* sequence, const DMatrix& X, int G, int N, int B,
                     const DMatrix& transform, int c, const DMatrix& permutedR2, int threads,
                     const std::function<void()>& shaveRealData,
                     const std::function<void()>& realDataShaved) {
  std::uint32_t& generator = RandomStateOfThisThread();
  const std::uint32_t start = generator;
  const std::uint64_t drawsPerCopy = static_cast<std::uint64_t>(G) * static_cast<std::uint64_t>(N);

  std::mutex lock;
  std::condition_variable taskDone;
  std::vector<char> done(static_cast<size_t>(B) + 1, 0);
  std::atomic<int> next{0};

  auto work = [&] {
    // Scratch for copies only, made when this thread takes its first copy:
    // a thread that only shaves the real data never holds a copy.
    PermutationScratch scratch{};
    bool haveScratch = false;
    for (int task = next++; task <= B; task = next++) {
      if (task == 0) {
        shaveRealData();
      } else {
        if (!haveScratch) {
          scratch = NewPermutationScratch(sequence, G, N);
          haveScratch = true;
        }
        const int b = task - 1;
        std::uint32_t state = JumpRandomState(start, drawsPerCopy * static_cast<std::uint64_t>(b));
        RandomizeMatrixFrom(X, scratch.A, G, N, state);
        ShaveCopy(scratch, G, N, transform, c, permutedR2[b]);
      }
      std::lock_guard<std::mutex> guard(lock);
      done[static_cast<size_t>(task)] = 1;
      taskDone.notify_one();
    }
    if (haveScratch) FreePermutationScratch(scratch, sequence->stepCount, G, N);
  };

  std::vector<std::thread> workers;
  try {
    for (int t = 0; t < threads; ++t) workers.emplace_back(work);
  } catch (const std::system_error&) {
    // Fewer threads than asked for: those started take every task.
  }
  if (workers.empty()) return false;
  auto waitFor = [&](int task) {
    std::unique_lock<std::mutex> wait(lock);
    taskDone.wait(wait, [&] { return done[static_cast<size_t>(task)] != 0; });
  };
  waitFor(0);
  realDataShaved();
  for (int b = 0; b < B; ++b) {
    waitFor(b + 1);
    MonitorLog("%s", kMonitorRandomizeMatrix);
    MonitorLog("%s %d %d", kMonitorShaveRandNestedSequence, b + 1, B);
  }
  for (std::thread& worker : workers) worker.join();
  generator = JumpRandomState(start, drawsPerCopy * static_cast<std::uint64_t>(B));
  return true;
}

}  // namespace

void ShaveRealAndPermutedData(const ShaveSequence* sequence, const DMatrix& X, int G, int N, int B,
                              const DMatrix& transform, int c, const DMatrix& permutedR2,
                              const std::function<void()>& shaveRealData,
                              const std::function<void()>& realDataShaved) {
  int threads = WorkerThreads();
  if (threads > B + 1) threads = B + 1;
  if (threads > 1 && ShaveInParallel(sequence, X, G, N, B, transform, c, permutedR2, threads,
                                     shaveRealData, realDataShaved)) {
    return;
  }
  shaveRealData();
  realDataShaved();
  ShaveCopiesInOrder(sequence, X, G, N, B, transform, c, permutedR2);
}

void EstimateOptClusterSize(ShaveSequence* sequence, const DMatrix& X, int G, int N, int B,
                            double tolerance, int i, int K, const DMatrix& transform, int c) {
  const int S = sequence->stepCount;
  DVector stepEigenvalues = dvector(0, S - 1);
  PVector stepComponents = pvector(S);
  DMatrix stepScores = dmatrix(0, S - 1, 0, G - 1);

  DVector stepR2 = dvector(0, S - 1);
  DVector stepBetween = dvector(0, S - 1);
  DVector stepTotal = dvector(0, S - 1);
  DVector stepWithin = dvector(0, S - 1);
  DMatrix permutedR2 = dmatrix(0, B - 1, 0, S - 1);

  MonitorLog("%s", kMonitorShaveInitNestedSequence);
  ShaveRealAndPermutedData(
      sequence, X, G, N, B, transform, c, permutedR2,
      [&] {
        ShaveNestedSequence(sequence, X, transform, N, c, stepComponents, stepScores, stepEigenvalues);
        ClusterVariances(sequence, stepR2, X, G, N, stepScores, stepBetween, stepTotal, stepWithin);
      },
      [&] { MonitorLog("%s %d %d", kMonitorEstimateOptClusterSize, i, K); });

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
