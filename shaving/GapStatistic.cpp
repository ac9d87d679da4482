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

// The real data's figures per step: what its sequence leaves (eigenvalues,
// components, axes) and its variances.
struct DataSteps {
  DataSteps(int S, int dimension)
      : eigenvalues(S), components(S), axes(S, dimension), r2(S), between(S), total(S), within(S) {
    components.count = S;
  }
  StepVariances Variances() const { return StepVariances{r2, between, total, within}; }
  Vector eigenvalues;
  StepComponents components;
  Matrix axes;  // S x the dimension shaved
  Vector r2, between, total, within;
};

// Which sequences this process shaves and how the tasks take them.
// Sequence 0 is the real data, sequence i >= 1 the i-th own copy. Task u
// shaves sequences u * perTask onwards, two at a time when paired, so that
// the real data too goes with a copy.
struct CopyPlan {
  int copies = 1;  // B, over all processes
  // With a distribution this process shaves only its own copies, b = rank,
  // rank + ranks, ...; its sequence i >= 1 is the i-th of them.
  int rank = 0, ranks = 1;
  int ownCopies = 0;
  int perTask = 1;  // 2 when paired

  int CopyOf(int sequence) const { return rank + (sequence - 1) * ranks; }
  int FirstSequence(int task) const { return task * perTask; }
  int LastSequence(int task) const {
    const int last = task * perTask + perTask - 1;
    return last < ownCopies ? last : ownCopies;
  }
  int Tasks() const { return (ownCopies + perTask) / perTask; }
};

// The plan of a pass over `workers` workers. Pairs make fewer, longer
// tasks: with several workers they are used only when the busiest worker's
// share comes out shorter for them (with two workers, for 21 sequences but
// not for 6).
CopyPlan PlanCopies(const ShavingInput& input, const GapOptions& options, int workers) {
  CopyPlan plan;
  const int B = options.permutations;
  plan.copies = B;
  if (options.distribution != nullptr) {
    plan.rank = options.distribution->Rank();
    plan.ranks = options.distribution->Ranks();
  }
  plan.ownCopies = plan.rank < B ? (B - plan.rank + plan.ranks - 1) / plan.ranks : 0;
  const int sequences = plan.ownCopies + 1;
  const bool paired = input.solver == tarvok::Solver::Exact && ShavedDimension(input) <= kPairedDimension &&
                      static_cast<long>(input.genes) * input.samples <= kPairedCopyEntries &&
                      BusiestWorker(sequences, workers, true) < BusiestWorker(sequences, workers, false);
  plan.perTask = paired ? 2 : 1;
  return plan;
}

// The generator's state `copies` copies on from start: copy b's generator
// starts b * G * N draws after the pass's start, where drawing the copies
// one after another would leave it.
std::uint32_t CopyState(std::uint32_t start, const ShavingInput& input, int copies) {
  const std::uint64_t drawsPerCopy =
      static_cast<std::uint64_t>(input.genes) * static_cast<std::uint64_t>(input.samples);
  return JumpRandomState(start, drawsPerCopy * static_cast<std::uint64_t>(copies));
}

// What the tasks of one pass share. Each task writes only its own
// sequences' results: the real data's into data and dataSigns, a copy's R2
// into its row of permutedR2.
struct PassTasks {
  ShaveSequence* sequence;  // the real data's; the copies follow its schedule
  const ShavingInput& input;
  const CopyPlan& plan;
  std::uint32_t start;  // the generator's state at the pass's start
  DataSteps& data;
  const SignTable& dataSigns;  // S x G
  const Matrix& permutedR2;    // B x S
};

// The sequences of one task, ready to shave.
struct TaskSequences {
  int first = 0;  // the task's first sequence
  int count = 0;  // 1, or 2 when paired
  ShaveSequence* sequences[2] = {};
  ShavingInput inputs[2];
  StepOutputs outputs[2];
  SequenceScratch* work[2] = {};
};

// Readies task `index`'s sequences in a worker's scratch: the real data
// with all its outputs, or a copy drawn into the scratch from its own place
// in the generator's stream, keeping only its signs.
TaskSequences PrepareTask(const PassTasks& pass, WorkerScratch& mine, int index) {
  const ShavingInput& input = pass.input;
  const int G = input.genes;
  const int N = input.samples;
  TaskSequences task;
  task.first = pass.plan.FirstSequence(index);
  task.count = pass.plan.LastSequence(index) - task.first + 1;
  for (int t = 0; t < task.count; ++t) {
    CopyScratch& copy = mine.copies[t];
    task.work[t] = &copy.work;
    if (task.first + t == 0) {
      const DataSteps& data = pass.data;
      task.sequences[t] = pass.sequence;
      task.inputs[t] = input;
      task.outputs[t] = StepOutputs{data.components.table, DMatrix{}, data.eigenvalues, &pass.dataSigns, data.axes};
      continue;
    }
    PrepareCopyScratch(copy, pass.sequence, G, N);
    std::uint32_t state = CopyState(pass.start, input, pass.plan.CopyOf(task.first + t));
    RandomizeMatrixFrom(input.data, copy.A, G, N, state);
    task.sequences[t] = copy.sequence.get();
    task.inputs[t] = ShavingInput{copy.A, G, N, input.supervision, input.solver};
    task.outputs[t] = StepOutputs::SignsOnly(copy.signs);
  }
  return task;
}

// Task `index` on a worker: shaves its sequences, two at once when paired,
// then each one's variances per step.
void ShaveTask(const PassTasks& pass, WorkerScratch& mine, int index, const std::atomic<bool>& stop) {
  const TaskSequences task = PrepareTask(pass, mine, index);
  if (task.count == 2) {
    ShaveNestedSequencePair(task.sequences, task.inputs, task.outputs, &stop, task.work);
  } else {
    ShaveNestedSequence(task.sequences[0], task.inputs[0], task.outputs[0], &stop, task.work[0]);
  }
  const int N = pass.input.samples;
  for (int t = 0; t < task.count; ++t) {
    if (task.first + t == 0) {
      ClusterVariances(pass.sequence, pass.input.data, N, pass.dataSigns, pass.data.Variances());
      continue;
    }
    CopyScratch& copy = mine.copies[t];
    const DVector& r2 = pass.permutedR2[pass.plan.CopyOf(task.first + t)];
    ClusterVariances(copy.sequence.get(), copy.A, N, copy.signs,
                     StepVariances{r2, copy.between, copy.total, copy.within});
  }
}

// Shaves the real data and this process's copies as the tasks of one
// parallel-for, each worker in scratch of its own (made on its first task);
// the events come in sequence order whatever the thread count. Then every
// process's copies' R2 are gathered into permutedR2.
void ShaveSequences(const PassTasks& pass, const GapOptions& options,
                    std::vector<std::unique_ptr<WorkerScratch>>& scratch, PassEvents& events) {
  const CopyPlan& plan = pass.plan;
  auto task = [&](int worker, int index, const std::atomic<bool>& stop) {
    std::unique_ptr<WorkerScratch>& mine = scratch[static_cast<size_t>(worker)];
    if (!mine) mine = std::make_unique<WorkerScratch>();
    ShaveTask(pass, *mine, index, stop);
  };
  auto done = [&](int index) {
    for (int i = plan.FirstSequence(index); i <= plan.LastSequence(index); ++i) {
      if (i == 0) {
        events.DataShaved();
      } else {
        events.CopyShaved(plan.CopyOf(i) + 1, plan.copies);
      }
    }
  };
  events.ShavingData();
  tarvok::ParallelFor(options.threads, plan.Tasks(), task, done, [&] { return events.CancelRequested(); });
  if (options.distribution != nullptr) {
    options.distribution->Exchange(&pass.permutedR2[0][0], plan.copies, pass.sequence->stepCount);
  }
}

// Per step, the copies' mean R2 and the gap: the real data's R2 less that
// mean.
struct StepGaps {
  explicit StepGaps(int S) : meanPermutedR2(S), gap(S) {}
  Vector meanPermutedR2, gap;
};

// Each step's mean sums the B copies' R2 in copy order from 0.0.
StepGaps MeasureGaps(const Matrix& permutedR2, int B, const DVector& r2, int S) {
  StepGaps gaps(S);
  for (int k = 0; k < S; ++k) {
    double sum = 0.0;
    for (int b = 0; b < B; ++b) sum += permutedR2[b][k];
    gaps.meanPermutedR2[k] = sum / B;
    gaps.gap[k] = r2[k] - gaps.meanPermutedR2[k];
  }
  return gaps;
}

// Keeps the chosen step in the sequence: its eigenvalue, its component and
// its cluster's scores (recomputed from the step's axis).
void KeepChosenStep(ShaveSequence* sequence, const ShavingInput& input, const DataSteps& data, int chosen) {
  sequence->chosen = chosen;
  sequence->chosenEigenvalue = data.eigenvalues[chosen];
  for (int s = 0; s < input.samples; ++s) sequence->chosenComponent[s] = data.components.table[chosen][s];
  StepScores(input, sequence->order, sequence->sizes[chosen], data.axes[chosen], sequence->chosenScores);
}

// The pass's record: the chosen cluster (its genes in order with their
// scores, eigenvalue and N-entry component) and every step's figures.
tarvok::ClusterRecord GapRecord(const ShaveSequence& sequence, int N, const DataSteps& data,
                                const StepGaps& gaps) {
  tarvok::ClusterRecord record;
  record.chosenStep = sequence.chosen;
  record.size = sequence.sizes[sequence.chosen];
  for (int t = 0; t < record.size; ++t) {
    const int gene = sequence.order[t];
    record.genes.push_back(gene);
    record.scores.push_back(sequence.chosenScores[gene]);
  }
  record.eigenvalue = sequence.chosenEigenvalue;
  record.component.assign(&sequence.chosenComponent[0], &sequence.chosenComponent[0] + N);
  for (int k = 0; k < sequence.stepCount; ++k) {
    record.sizes.push_back(sequence.sizes[k]);
    record.gap.push_back(gaps.gap[k]);
    record.r2.push_back(data.r2[k]);
    record.meanPermutedR2.push_back(gaps.meanPermutedR2[k]);
    record.between.push_back(data.between[k]);
    record.total.push_back(data.total[k]);
    record.within.push_back(data.within[k]);
  }
  return record;
}

}  // namespace

tarvok::ClusterRecord EstimateOptClusterSize(ShaveSequence* sequence, const ShavingInput& input,
                                             const GapOptions& options, PassEvents& events) {
  const int S = sequence->stepCount;
  const int G = input.genes;
  const int B = options.permutations;
  GapWorkspace ownWorkspace;
  GapWorkspace& workspace = options.workspace != nullptr ? *options.workspace : ownWorkspace;
  if (workspace.stepSigns.Steps() != S || workspace.stepSigns.Genes() != G) workspace.stepSigns = SignTable(S, G);
  DataSteps data(S, ShavedDimension(input));
  Matrix permutedR2(B, S);
  const int workers = options.threads > 1 ? options.threads : 1;
  if (workspace.workers.size() < static_cast<size_t>(workers)) workspace.workers.resize(static_cast<size_t>(workers));

  const std::uint32_t start = *options.generator;
  const CopyPlan plan = PlanCopies(input, options, workers);
  const PassTasks pass{sequence, input, plan, start, data, workspace.stepSigns, permutedR2};
  ShaveSequences(pass, options, workspace.workers, events);
  *options.generator = CopyState(start, input, B);

  const StepGaps gaps = MeasureGaps(permutedR2, B, data.r2, S);
  const int chosen = ChooseClusterStep(gaps.gap, S, options.tolerance);
  KeepChosenStep(sequence, input, data, chosen);
  return GapRecord(*sequence, input.samples, data, gaps);
}
