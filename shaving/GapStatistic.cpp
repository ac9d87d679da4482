#include "shaving/GapStatistic.h"

#include <cstddef>
#include <memory>
#include <vector>

#include "numeric/VectorClones.h"
#include "shaving/ParallelFor.h"
#include "shaving/Permutation.h"
#include "shaving/Random.h"

namespace {

// Five times the smallest normalised double: below this the total variance
// is treated as zero and R2 as 0 rather than a quotient of rounding noise.
constexpr double kTotalVarianceFloor = 1.1125369292536007e-307;

}  // namespace

namespace {

// running[j] += x[j] for the rows x of genes[0..count-1] marked positive,
// -= x[j] for the others, one gene after another.
TARVOK_VECTOR_CLONES void AddSignedRows(const DMatrix& data, int N, const int* genes, int count,
                                        const std::uint8_t* positive, double* running) {
  for (int t = 0; t < count; ++t) {
    int gene = genes[t];
    const double* x = &data[gene][0];
    if (positive[gene] != 0) {
      for (int j = 0; j < N; ++j) running[j] += x[j];
    } else {
      for (int j = 0; j < N; ++j) running[j] -= x[j];
    }
  }
}

// The squared data of every step's cluster, summed gene by gene in order
// position. The clusters are prefixes of one order, so one running sum
// passes through each step's total exactly as a sum of its own would.
Vector ClusterDataSquares(const ShaveSequence* sequence, const DMatrix& data, int N) {
  const int S = sequence->stepCount;
  const IVector& order = sequence->order;
  Vector dataSquares(S);
  double running = 0.0;
  for (int t = 0, k = S - 1; k >= 0; ++t) {
    const double* x = &data[order[t]][0];
    for (int j = 0; j < N; ++j) running += x[j] * x[j];
    if (sequence->sizes[k] == t + 1) dataSquares[k--] = running;
  }
  return dataSquares;
}

}  // namespace

void ClusterMeanGene(const DMatrix& data, int N, int n, const DVector& mean, const IVector& order,
                     const std::uint8_t* positive) {
  double* a = &mean[0];
  for (int j = 0; j < N; ++j) a[j] = 0.0;
  AddSignedRows(data, N, &order[0], n, positive, a);
  for (int j = 0; j < N; ++j) a[j] /= n;
}

void ClusterVariances(const ShaveSequence* sequence, const DMatrix& data, int N, const SignTable& signs,
                      const StepVariances& out) {
  const int S = sequence->stepCount;
  const IVector& order = sequence->order;
  const Vector dataSquares = ClusterDataSquares(sequence, data, N);

  // Step k's variances from the signed sum of its cluster's rows (negated
  // first when `negate`).
  Vector a(N);
  auto variances = [&](int k, const double* signedSum, bool negate) {
    const int n = sequence->sizes[k];
    for (int j = 0; j < N; ++j) a[j] = (negate ? -signedSum[j] : signedSum[j]) / n;
    double sum = 0.0;
    for (int j = 0; j < N; ++j) sum += a[j];
    double abar = sum / N;
    double squares = 0.0;
    for (int j = 0; j < N; ++j) squares += a[j] * a[j];
    double b = squares / N - abar * abar;
    double tot = dataSquares[k] / (static_cast<double>(n) * N) - abar * abar;
    // The comparison is false for a total that is not a number, too.
    out.R2[k] = tot >= kTotalVarianceFloor ? (100 * b) / tot : 0.0;
    out.between[k] = b;
    out.total[k] = tot;
    out.within[k] = tot - b;
  };

  // The signed sums. When a step's signs over its own cluster are all those
  // of the step before, or all their opposites, its sum is the earlier
  // step's running sum where that reaches the smaller cluster's last gene,
  // negated when opposite: rounding to nearest is symmetric in sign, so
  // only the sign of an exact zero may differ, which neither the mean's sum
  // nor its squares can show. A run of such steps is served by one sweep,
  // its first step's; a step whose signs differ starts a new sweep. Most
  // genes kept to the next step score far from zero and keep their sign.
  auto positive = [&](int k, int t) { return signs.Row(k)[order[t]] != 0; };
  std::vector<char> negate(static_cast<std::size_t>(S));
  Vector signedSum(N);
  for (int head = 0; head < S;) {
    int end = head + 1;
    negate[head] = 0;
    for (; end < S; ++end) {
      const int n = sequence->sizes[end];
      const bool same = positive(end, 0) == positive(end - 1, 0);
      int t = 1;
      while (t < n && (positive(end, t) == positive(end - 1, t)) == same) ++t;
      if (t < n) break;
      negate[end] = static_cast<char>(negate[end - 1] ^ (same ? 0 : 1));
    }
    for (int j = 0; j < N; ++j) signedSum[j] = 0.0;
    int done = 0;
    for (int k = end - 1; k >= head; --k) {
      AddSignedRows(data, N, &order[done], sequence->sizes[k] - done, signs.Row(head), &signedSum[0]);
      done = sequence->sizes[k];
      variances(k, &signedSum[0], negate[k] != 0);
    }
    head = end;
  }
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

// One permuted copy's arrays: the copy (allocated when a worker takes its
// first copy), its step signs and schedule, and the work arrays of its
// sequence.
struct CopyScratch {
  Matrix A;                        // the permuted copy, G x N
  SignTable signs;                 // S x G
  Vector between, total, within;   // never read
  OwnedShaveSequence sequence;     // the real data's schedule
  SequenceScratch work;
};

// Scratch of one worker: room for the two sequences it may shave together.
// The real data's sequence, always first in its pair, uses only the first
// one's work arrays.
struct WorkerScratch {
  CopyScratch copies[2];
};

GapWorkspace::GapWorkspace() = default;
GapWorkspace::~GapWorkspace() = default;

const Matrix& GapWorkspace::SquareScratch(int n) {
  for (const std::unique_ptr<WorkerScratch>& worker : workers) {
    if (worker == nullptr) continue;
    for (const CopyScratch& copy : worker->copies) {
      if (copy.work.K.Rows() == n && copy.work.K.Cols() == n) return copy.work.K;
    }
  }
  if (square.Rows() != n || square.Cols() != n) square = Matrix(n, n);
  return square;
}

namespace {

// The exact solver shaves sequences two at a time (ShaveNestedSequencePair)
// when they are shaved in at most kPairedDimension dimensions: a QR chase
// is a chain of dependent divisions and square roots that leaves the core
// mostly idle, and the two sequences' chases overlap (a pair's decompositions
// of full-rank matrices took 0.72 to 0.97 of the time of one after the other
// here, from 38 to 189 dimensions; of rank-20 ones, about the same time, their
// chases being short). Only copies of at most kPairedCopyEntries entries
// are paired, so the second copy a worker holds costs at most 8 MiB.
constexpr int kPairedDimension = 200;
constexpr long kPairedCopyEntries = 1L << 20;

// What a pair costs against its two sequences one after the other, as the
// worker schedule below reckons it.
constexpr double kPairCost = 1.8;

// The time the busiest of `workers` needs when `sequences` are handed out in
// order, each to the worker free first: one at a time, or two at a time
// (the last alone when their number is odd), a pair costing kPairCost.
double BusiestWorker(int sequences, int workers, bool paired) {
  std::vector<double> load(static_cast<std::size_t>(workers), 0.0);
  for (int first = 0; first < sequences; first += paired ? 2 : 1) {
    std::size_t freeFirst = 0;
    for (std::size_t w = 1; w < load.size(); ++w)
      if (load[w] < load[freeFirst]) freeFirst = w;
    load[freeFirst] += paired && first + 1 < sequences ? kPairCost : 1.0;
  }
  double busiest = 0.0;
  for (double l : load) busiest = l > busiest ? l : busiest;
  return busiest;
}

// Readies a copy's scratch for G x N copies on the schedule of real.
void PrepareCopyScratch(CopyScratch& mine, const ShaveSequence* real, int G, int N) {
  const int S = real->stepCount;
  if (mine.sequence != nullptr && mine.A.Rows() == G && mine.A.Cols() == N && mine.signs.Steps() == S &&
      mine.signs.Genes() == G) {
    return;
  }
  mine.A = Matrix(G, N);
  mine.signs = SignTable(S, G);
  mine.between = Vector(S);
  mine.total = Vector(S);
  mine.within = Vector(S);
  mine.sequence.reset(CopyShaveSequence(G, N, real));
}

// The per-step components of the real data's sequence, released whatever
// happens.
struct StepComponents {
  explicit StepComponents(int S) : table(pvector(S)) {}
  ~StepComponents() {
    for (int k = 0; k < count; ++k) ReleaseDvector(table[k], 0, 0);
    ReleasePvector(table);
  }
  PVector table;
  int count = 0;  // entries filled so far are released; a null entry is harmless
};

}  // namespace

tarvok::ClusterRecord EstimateOptClusterSize(ShaveSequence* sequence, const ShavingInput& input,
                                             const GapOptions& options, PassEvents& events) {
  const int S = sequence->stepCount;
  const int G = input.genes;
  const int N = input.samples;
  const int B = options.permutations;
  Vector stepEigenvalues(S);
  StepComponents stepComponents(S);
  stepComponents.count = S;
  GapWorkspace ownWorkspace;
  GapWorkspace& workspace = options.workspace != nullptr ? *options.workspace : ownWorkspace;
  if (workspace.stepSigns.Steps() != S || workspace.stepSigns.Genes() != G) workspace.stepSigns = SignTable(S, G);
  Matrix stepAxes(S, ShavedDimension(input));
  Vector stepR2(S), stepBetween(S), stepTotal(S), stepWithin(S);
  Matrix permutedR2(B, S);

  // Copy b's generator starts b * G * N draws after the pass's start, where
  // drawing the copies one after another would leave it. Each task writes
  // only its own sequences' results.
  const std::uint32_t start = *options.generator;
  const std::uint64_t drawsPerCopy = static_cast<std::uint64_t>(G) * static_cast<std::uint64_t>(N);
  std::vector<std::unique_ptr<WorkerScratch>>& scratch = workspace.workers;
  const size_t workers = static_cast<size_t>(options.threads > 1 ? options.threads : 1);
  if (scratch.size() < workers) scratch.resize(workers);
  // With a distribution this process shaves only its own copies, b = rank,
  // rank + R, ...; its sequence i >= 1 is the i-th of them.
  const int rank = options.distribution != nullptr ? options.distribution->Rank() : 0;
  const int ranks = options.distribution != nullptr ? options.distribution->Ranks() : 1;
  const int ownCopies = rank < B ? (B - rank + ranks - 1) / ranks : 0;
  auto copyOf = [&](int index) { return rank + (index - 1) * ranks; };
  // Pairs make fewer, longer tasks: with several workers they are used only
  // when the busiest worker's share comes out shorter for them (with two
  // workers, for 21 sequences but not for 6).
  const bool paired = input.solver == tarvok::Solver::Exact && ShavedDimension(input) <= kPairedDimension &&
                      static_cast<long>(G) * N <= kPairedCopyEntries &&
                      BusiestWorker(ownCopies + 1, static_cast<int>(workers), true) <
                          BusiestWorker(ownCopies + 1, static_cast<int>(workers), false);
  // Sequence 0 is the real data, sequence i >= 1 the i-th own copy. Task u
  // shaves sequences u * perTask onwards, two at a time when paired, so that
  // the real data too goes with a copy.
  const int perTask = paired ? 2 : 1;
  auto firstSequence = [&](int task) { return task * perTask; };
  auto lastSequence = [&](int task) {
    const int last = task * perTask + perTask - 1;
    return last < ownCopies ? last : ownCopies;
  };
  const StepOutputs realOutputs{stepComponents.table, DMatrix{}, stepEigenvalues, &workspace.stepSigns, stepAxes};
  auto task = [&](int worker, int index, const std::atomic<bool>& stop) {
    std::unique_ptr<WorkerScratch>& mine = scratch[static_cast<size_t>(worker)];
    if (!mine) mine = std::make_unique<WorkerScratch>();
    const int first = firstSequence(index);
    const int count = lastSequence(index) - first + 1;
    ShaveSequence* sequences[2] = {};
    ShavingInput inputs[2];
    StepOutputs outputs[2];
    SequenceScratch* work[2] = {};
    for (int t = 0; t < count; ++t) {
      CopyScratch& copy = mine->copies[t];
      work[t] = &copy.work;
      if (first + t == 0) {
        sequences[t] = sequence;
        inputs[t] = input;
        outputs[t] = realOutputs;
        continue;
      }
      PrepareCopyScratch(copy, sequence, G, N);
      const int b = copyOf(first + t);
      std::uint32_t state = JumpRandomState(start, drawsPerCopy * static_cast<std::uint64_t>(b));
      RandomizeMatrixFrom(input.data, copy.A, G, N, state);
      sequences[t] = copy.sequence.get();
      inputs[t] = ShavingInput{copy.A, G, N, input.supervision, input.solver};
      outputs[t] = StepOutputs::SignsOnly(copy.signs);
    }
    if (count == 2) {
      ShaveNestedSequencePair(sequences, inputs, outputs, &stop, work);
    } else {
      ShaveNestedSequence(sequences[0], inputs[0], outputs[0], &stop, work[0]);
    }
    for (int t = 0; t < count; ++t) {
      if (first + t == 0) {
        ClusterVariances(sequence, input.data, N, workspace.stepSigns,
                         StepVariances{stepR2, stepBetween, stepTotal, stepWithin});
        continue;
      }
      CopyScratch& copy = mine->copies[t];
      ClusterVariances(copy.sequence.get(), copy.A, N, copy.signs,
                       StepVariances{permutedR2[copyOf(first + t)], copy.between, copy.total, copy.within});
    }
  };
  auto done = [&](int index) {
    for (int i = firstSequence(index); i <= lastSequence(index); ++i) {
      if (i == 0) {
        events.DataShaved();
      } else {
        events.CopyShaved(copyOf(i) + 1, B);
      }
    }
  };
  events.ShavingData();
  const int tasks = (ownCopies + perTask) / perTask;
  tarvok::ParallelFor(options.threads, tasks, task, done, [&] { return events.CancelRequested(); });
  if (options.distribution != nullptr) options.distribution->Exchange(&permutedR2[0][0], B, S);
  *options.generator = JumpRandomState(start, drawsPerCopy * static_cast<std::uint64_t>(B));

  Vector meanPermutedR2(S), stepGap(S);
  for (int k = 0; k < S; ++k) {
    double sum = 0.0;
    for (int b = 0; b < B; ++b) sum += permutedR2[b][k];
    meanPermutedR2[k] = sum / B;
    stepGap[k] = stepR2[k] - meanPermutedR2[k];
  }
  const int chosen = ChooseClusterStep(stepGap, S, options.tolerance);
  sequence->chosen = chosen;
  sequence->chosenEigenvalue = stepEigenvalues[chosen];
  for (int s = 0; s < N; ++s) sequence->chosenComponent[s] = stepComponents.table[chosen][s];
  StepScores(input, sequence->order, sequence->sizes[chosen], stepAxes[chosen], sequence->chosenScores);

  tarvok::ClusterRecord record;
  record.chosenStep = chosen;
  record.size = sequence->sizes[chosen];
  for (int t = 0; t < record.size; ++t) {
    const int gene = sequence->order[t];
    record.genes.push_back(gene);
    record.scores.push_back(sequence->chosenScores[gene]);
  }
  record.eigenvalue = sequence->chosenEigenvalue;
  record.component.assign(&sequence->chosenComponent[0], &sequence->chosenComponent[0] + N);
  for (int k = 0; k < S; ++k) {
    record.sizes.push_back(sequence->sizes[k]);
    record.gap.push_back(stepGap[k]);
    record.r2.push_back(stepR2[k]);
    record.meanPermutedR2.push_back(meanPermutedR2[k]);
    record.between.push_back(stepBetween[k]);
    record.total.push_back(stepTotal[k]);
    record.within.push_back(stepWithin[k]);
  }
  return record;
}
