#include "shaving/NestedSequence.h"

#include <cmath>
#include <cstddef>
#include <memory>
#include <vector>

#include "base/Error.h"
#include "numeric/VectorClones.h"

#include "numeric/Lanczos.h"
#include "numeric/Svd.h"

namespace {

// A diagonal entry of the downdated cross-product matrix that falls below
// this share of its value at the last full computation has lost too many
// digits to cancellation: the next step rebuilds the matrix.
constexpr double kRebuildFactor = 0.001;

}  // namespace

void TransformRows(const DMatrix& W, const DMatrix& data, int G, int N, const DMatrix& transform,
                   int c) {
  for (int i = 0; i < G; ++i) {
    const double* x = &data[i][0];
    double* w = &W[i][0];
    for (int j = 0; j < c; ++j) {
      double sum = 0.0;
      for (int s = 0; s < N; ++s) sum += x[s] * transform[s][j];
      w[j] = sum;
    }
  }
}

namespace {

// Genes whose rows are added to the cross-product matrix together: 32 rows
// of up to 256 samples stay in the second-level cache. From 256 samples on,
// K no longer fits there and every block reads and writes all of it, so the
// blocks grow to 128 genes, first copied into panels (PackedRows).
constexpr int kGeneBlock = 32;
constexpr int kPackedBlock = 128;
constexpr int kPackFrom = 256;

// A block's genes read where they lie: gene t's entry c at rows[t][c].
struct DirectRows {
  const double* const* rows;
  [[gnu::always_inline]] const double* At(int t, int c) const { return rows[t] + c; }
};

// A block's genes copied into panels of eight columns, gene after gene
// within a panel: gene t's entry c at (c / 8) * kPackedBlock * 8 + t * 8 +
// c % 8 (columns past m are zero). A tile then reads its genes' values
// from one short contiguous stretch instead of a cache line of each row.
struct PackedRows {
  const double* pack;
  [[gnu::always_inline]] const double* At(int t, int c) const {
    return pack + static_cast<std::size_t>(c / 8) * kPackedBlock * 8 + t * 8 + c % 8;
  }
};

inline std::size_t PackedSize(int m) { return static_cast<std::size_t>((m + 7) / 8) * kPackedBlock * 8; }

[[gnu::always_inline]] inline void PackGeneRows(const double* const* rows, int genes, int m, double* pack) {
  for (int p = 0; p * 8 < m; ++p) {
    double* panel = pack + static_cast<std::size_t>(p) * kPackedBlock * 8;
    const int width = m - 8 * p < 8 ? m - 8 * p : 8;
    for (int t = 0; t < genes; ++t) {
      const double* x = rows[t] + 8 * p;
      for (int e = 0; e < width; ++e) panel[t * 8 + e] = x[e];
      for (int e = width; e < 8; ++e) panel[t * 8 + e] = 0.0;
    }
  }
}

// One tile of K, rows r0..r0+3 and columns c0..c0+4*quads-1, held in
// registers while the genes pass: K[r][c] += x[r] * x[c] (or -=). The
// columns of a tile lie within one panel of packed rows.
template <bool subtract, int quads, typename Rows>
[[gnu::always_inline]] inline void AddGeneProductsToTile(const DMatrix& K, int r0, int c0, int genes,
                                                         const Rows& source) {
  Lanes4 acc[4][quads];
  for (int r = 0; r < 4; ++r)
    for (int q = 0; q < quads; ++q) acc[r][q] = LoadLanes(&K[r0 + r][c0 + 4 * q]);
  for (int t = 0; t < genes; ++t) {
    const double* columns = source.At(t, c0);
    const double* rowValues = source.At(t, r0);
    Lanes4 xc[quads];
    for (int q = 0; q < quads; ++q) xc[q] = LoadLanes(columns + 4 * q);
    for (int r = 0; r < 4; ++r) {
      const double xr = rowValues[r];
      for (int q = 0; q < quads; ++q) {
        if (subtract) {
          acc[r][q] -= xr * xc[q];
        } else {
          acc[r][q] += xr * xc[q];
        }
      }
    }
  }
  for (int r = 0; r < 4; ++r)
    for (int q = 0; q < quads; ++q) StoreLanes(&K[r0 + r][c0 + 4 * q], acc[r][q]);
}

// K[r][c] += x[r] * x[c] (or -=, with subtract) over the lower triangle
// c <= r, for the rows x of a block of genes in the order given: each
// entry's sum runs over the genes in that order. Four rows at a time go by
// tiles held in registers; the tile on the diagonal also changes the
// entries above it, which only the mirror image of the lower triangle gives
// their final values. Rows left over go one gene at a time.
template <bool subtract, typename Rows>
[[gnu::always_inline]] inline void AddGeneProducts(const DMatrix& K, int m, int genes, const double* const* rows,
                                                   const Rows& source) {
  int r0 = 0;
  for (; r0 + 4 <= m; r0 += 4) {
    int c0 = 0;
    for (; c0 + 8 <= r0; c0 += 8) AddGeneProductsToTile<subtract, 2>(K, r0, c0, genes, source);
    for (; c0 <= r0; c0 += 4) AddGeneProductsToTile<subtract, 1>(K, r0, c0, genes, source);
  }
  for (int t = 0; t < genes; ++t) {
    const double* x = rows[t];
    for (int r = r0; r < m; ++r) {
      double* k = &K[r][0];
      const double xr = x[r];
      for (int c = 0; c <= r; ++c) {
        if (subtract) {
          k[c] -= xr * x[c];
        } else {
          k[c] += xr * x[c];
        }
      }
    }
  }
}

// The upper triangle from the lower one.
void MirrorLowerTriangle(const DMatrix& K, int m) {
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < i; ++j) K[j][i] = K[i][j];
}

// AddGeneProducts for the genes genes[0..count-1], a block at a time; pack
// holds PackedSize(m) entries when m >= kPackFrom.
template <bool subtract>
[[gnu::always_inline]] inline void AddGeneRows(const DMatrix& K, const DMatrix& W, int m, int count,
                                               const int* genes, double* pack) {
  const double* rows[kPackedBlock];
  const bool packed = m >= kPackFrom;
  const int blockSize = packed ? kPackedBlock : kGeneBlock;
  for (int t0 = 0; t0 < count; t0 += blockSize) {
    const int block = count - t0 < blockSize ? count - t0 : blockSize;
    for (int t = 0; t < block; ++t) rows[t] = &W[genes[t0 + t]][0];
    if (packed) {
      PackGeneRows(rows, block, m, pack);
      AddGeneProducts<subtract>(K, m, block, rows, PackedRows{pack});
    } else {
      AddGeneProducts<subtract>(K, m, block, rows, DirectRows{rows});
    }
  }
}

TARVOK_VECTOR_CLONES void BuildCrossProduct(const DMatrix& K, const DMatrix& W, int m, int g, const int* genes,
                                            double* pack) {
  // Gene by gene in order position, each entry's sum starting from 0.0.
  for (int i = 0; i < m; ++i)
    for (int j = 0; j <= i; ++j) K[i][j] = 0.0;
  AddGeneRows<false>(K, W, m, g, genes, pack);
  MirrorLowerTriangle(K, m);
}

TARVOK_VECTOR_CLONES void DowndateCrossProductBy(const DMatrix& K, const DMatrix& W, int m, int count,
                                                 const int* genes, double* pack) {
  // K is exactly symmetric and both triangles lose the same products, so
  // the lower triangle is downdated, gene by gene, and mirrored at the end.
  AddGeneRows<true>(K, W, m, count, genes, pack);
  MirrorLowerTriangle(K, m);
}

// The packing scratch of this thread: PackedSize(m) entries when the
// blocks are packed, else none.
double* PackScratch(int m) {
  if (m < kPackFrom) return nullptr;
  thread_local std::vector<double> scratch;
  if (scratch.size() < PackedSize(m)) scratch.resize(PackedSize(m));
  return scratch.data();
}

}  // namespace

void CrossProductMatrix(const DMatrix& K, const DMatrix& W, int m, int g, const IVector& order) {
  BuildCrossProduct(K, W, m, g, &order[0], PackScratch(m));
}

TARVOK_VECTOR_CLONES void GeneScores(const IVector& order, const DMatrix& rows, int g, int length,
                                     const DVector& axis, const DVector& scoreRow, const DVector& A,
                                     std::uint8_t* signRow) {
  // Sixteen genes' sums side by side, each over the samples in order.
  const double* u = &axis[0];
  const double* x[16];
  double s[16];
  for (int p0 = 0; p0 < g; p0 += 16) {
    const int count = g - p0 < 16 ? g - p0 : 16;
    for (int t = 0; t < count; ++t) x[t] = &rows[order[p0 + t]][0];
    RowDots(x, count, u, 0, length, s);
    for (int t = 0; t < count; ++t) {
      if (scoreRow.data != nullptr) scoreRow[order[p0 + t]] = s[t];
      if (signRow != nullptr) signRow[order[p0 + t]] = ScoreSign(s[t]);
      A[p0 + t] = std::fabs(s[t]);
    }
  }
}

namespace {

// Exchanges positions p and t in the scores and in the gene order.
void SwapPositions(const DVector& A, const IVector& order, int p, int t) {
  double a = A[p];
  A[p] = A[t];
  A[t] = a;
  int gene = order[p];
  order[p] = order[t];
  order[t] = gene;
}

// The selection by linear scans: for each tail position the first minimum
// of the positions before it, when strictly lower than the tail's value.
void MoveLowestToEndByScan(const DVector& A, const IVector& order, int g, int h) {
  for (int t = g - 1; t >= h; --t) {
    int p = t;
    double v = A[t];
    // Strictly lower only: the tail value stays when it is itself minimal,
    // and otherwise the first (lowest-indexed) minimum is taken.
    for (int i = 0; i < t; ++i) {
      if (A[i] < v) {
        p = i;
        v = A[i];
      }
    }
    if (p != t) {
      SwapPositions(A, order, p, t);
    }
  }
}

// The same selection with a tournament tree over positions 0..g-1: each
// node holds the position of the lowest value below it, the left (lower)
// position on ties, so the root is exactly the first minimum the scan
// would find. Positions from the tail on are removed (-1) as the tail
// moves down. O(g + (g - h) log g) instead of O(g (g - h)).
void MoveLowestToEndByTree(const DVector& A, const IVector& order, int g, int h, int* tree,
                           int leaves) {
  auto better = [&A](int left, int right) {
    if (left < 0) return right;
    if (right < 0) return left;
    return A[right] < A[left] ? right : left;
  };
  for (int i = 0; i < leaves; ++i) tree[leaves + i] = i < g ? i : -1;
  for (int node = leaves - 1; node >= 1; --node) tree[node] = better(tree[2 * node], tree[2 * node + 1]);
  auto update = [&](int position, int value) {
    int node = leaves + position;
    tree[node] = value;
    for (node /= 2; node >= 1; node /= 2) tree[node] = better(tree[2 * node], tree[2 * node + 1]);
  };
  for (int t = g - 1; t >= h; --t) {
    update(t, -1);
    int p = tree[1];
    if (p >= 0 && A[p] < A[t]) {
      SwapPositions(A, order, p, t);
      update(p, p);
    }
  }
}

}  // namespace

int SelectionTreeSize(int G) {
  int leaves = 1;
  while (leaves < G) leaves *= 2;
  return 2 * leaves;
}

void MoveLowestToEnd(const DVector& A, const IVector& order, int g, int h, const IVector& tree) {
  // The tree pays off when several genes go; it is exact only without
  // values that are not numbers, which the scan treats its own way.
  bool useTree = tree.data != nullptr && g - h > 4;
  for (int i = 0; useTree && i < g; ++i) useTree = !std::isnan(A[i]);
  if (!useTree) {
    MoveLowestToEndByScan(A, order, g, h);
    return;
  }
  MoveLowestToEndByTree(A, order, g, h, tree.data, SelectionTreeSize(g) / 2);
}

void MoveLowestToEnd(const DVector& A, const IVector& order, int g, int h) {
  MoveLowestToEndByScan(A, order, g, h);
}

void DowndateCrossProduct(const DMatrix& K, const DMatrix& W, int m, int count, const int* genes) {
  DowndateCrossProductBy(K, W, m, count, genes, PackScratch(m));
}

SignTable::SignTable(int steps, int genes) : steps_(steps), genes_(genes) {
  const std::size_t count = static_cast<std::size_t>(steps > 0 ? steps : 1) * static_cast<std::size_t>(genes > 0 ? genes : 1);
  cells_.reset(static_cast<std::uint8_t*>(ZeroAllocate(count, 1)));
  if (cells_ == nullptr) NumericalError("allocation failure in sign table");
}

namespace {

bool Supervised(const ShavingInput& input) {
  return input.supervision != nullptr && input.supervision->Present();
}

// The rows a supervised sequence shaves: input's rows times the transform,
// re-centred, into W (G x columns).
void SupervisedRows(const ShavingInput& input, const DMatrix& W) {
  const int columns = input.supervision->columns;
  TransformRows(W, input.data, input.genes, input.samples, input.supervision->transform, columns);
  CenterRows(W, input.genes, columns);
}

}  // namespace

int ShavedDimension(const ShavingInput& input) {
  return Supervised(input) ? input.supervision->columns : input.samples;
}

void StepScores(const ShavingInput& input, const IVector& order, int n, const DVector& axis,
                const DVector& scoreRow) {
  const int G = input.genes;
  const int N = input.samples;
  const int m = ShavedDimension(input);
  Vector A(n > 0 ? n : 1);
  if (!Supervised(input)) {
    GeneScores(order, input.data, n, N, axis, scoreRow, A);
    return;
  }
  // The supervised rows, formed again as the sequence formed them.
  Matrix W(G, m);
  SupervisedRows(input, W);
  GeneScores(order, W, n, m, axis, scoreRow, A);
}

namespace {

// Makes `matrix` rows x cols unless it is already.
void Ensure(Matrix& matrix, int rows, int cols) {
  if (matrix.Rows() != rows || matrix.Cols() != cols) matrix = Matrix(rows, cols);
}

void Ensure(Vector& vector, int size) {
  if (vector.Size() != size) vector = Vector(size);
}

}  // namespace

namespace {

// One nested sequence under way: what it shaves, where it writes, and its
// state from one step to the next.
struct SequenceRun {
  SequenceRun(ShaveSequence* sequenceIn, const ShavingInput* inputIn, const StepOutputs* outputsIn,
              SequenceScratch* workIn)
      : sequence(sequenceIn), input(inputIn), outputs(outputsIn), work(workIn) {}
  ShaveSequence* sequence;
  const ShavingInput* input;
  const StepOutputs* outputs;
  SequenceScratch* work;
  int m = 0;
  bool supervised = false;
  bool fast = false;
  bool keepComponents = false;
  DMatrix W;               // the rows shaved: the data, or the supervised rows
  bool recompute = true;   // K is formed afresh at the next step
  bool warm = false;       // the fast solver starts from the step before's axis
  DVector axis;            // this step's axis: the component, or u when supervised
  DVector component;       // this step's component
};

// Sizes run's work arrays and readies the start of its sequence.
void BeginSequence(SequenceRun& run) {
  const ShavingInput& input = *run.input;
  SequenceScratch& work = *run.work;
  const int G = run.sequence->sizes[0];
  const int N = input.samples;
  run.supervised = Supervised(input);
  run.m = ShavedDimension(input);
  run.fast = input.solver == tarvok::Solver::Fast;
  run.keepComponents = run.outputs->components.entries != nullptr;
  const int m = run.m;
  Ensure(work.K, m, m);
  Ensure(work.D, m);
  Ensure(work.A, G);
  const int treeSize = SelectionTreeSize(G);
  if (work.tree.Size() != treeSize) work.tree = IntVector(0, treeSize - 1);
  if (!run.keepComponents) Ensure(work.component, N);
  if (run.supervised) {
    Ensure(work.transformed, G, input.supervision->columns);
    Ensure(work.u, input.supervision->columns);
  }
  if (run.fast) {
    if (work.lanczos == nullptr || work.lanczos->Order() != m) work.lanczos = std::make_unique<LanczosWorkspace>(m);
    Ensure(work.previousAxis, m);
  }
  run.W = input.data;
  if (run.supervised) {
    run.W = work.transformed;
    SupervisedRows(input, run.W);
  }
  IVector& order = run.sequence->order;
  for (int i = 0; i < G; ++i) order[i] = i;
}

// Step k up to its axis: K of the step's cluster (formed afresh when the
// step before asked for it) and where the axis goes.
void BeforeAxis(SequenceRun& run, int k) {
  SequenceScratch& work = *run.work;
  if (run.recompute) {
    CrossProductMatrix(work.K, run.W, run.m, run.sequence->sizes[k], run.sequence->order);
    for (int j = 0; j < run.m; ++j) work.D[j] = kRebuildFactor * work.K[j][j];
    run.recompute = false;
  }
  run.component = work.component;
  if (run.keepComponents) {
    run.component = dvector(0, run.input->samples - 1);
    run.outputs->components[k] = run.component;
  }
  run.axis = run.supervised ? static_cast<const DVector&>(work.u) : run.component;
}

// The fast solver's axis of step k: from the step before's.
void FastAxis(SequenceRun& run, double* lambda) {
  SequenceScratch& work = *run.work;
  LeadingAxisLanczos(work.K, run.m, run.warm ? static_cast<const DVector&>(work.previousAxis) : DVector{},
                     run.axis, lambda, *work.lanczos);
  for (int j = 0; j < run.m; ++j) work.previousAxis[j] = run.axis[j];
  run.warm = true;
}

// Step k from its axis on: the scores, the step's outputs, the shave, and
// K downdated for the next step.
void AfterAxis(SequenceRun& run, int k, double lambda) {
  const ShavingInput& input = *run.input;
  const StepOutputs& outputs = *run.outputs;
  SequenceScratch& work = *run.work;
  const int g = run.sequence->sizes[k];
  const int h = run.sequence->sizes[k + 1];
  const int m = run.m;
  IVector& order = run.sequence->order;
  const DVector scoreRow = outputs.scores.rows != nullptr ? outputs.scores[k] : DVector{};
  std::uint8_t* signRow = outputs.signs->Row(k);
  if (!run.supervised) {
    GeneScores(order, input.data, g, input.samples, run.axis, scoreRow, work.A, signRow);
  } else {
    GeneScores(order, run.W, g, m, run.axis, scoreRow, work.A, signRow);
    if (run.keepComponents) {
      // Map the axis back to the samples; not rescaled to unit length.
      const DMatrix& transform = input.supervision->transform;
      for (int s = 0; s < input.samples; ++s) {
        double sum = 0.0;
        for (int j = 0; j < m; ++j) sum += transform[s][j] * run.axis[j];
        run.component[s] = sum;
      }
    }
  }
  if (outputs.eigenvalues.data != nullptr) outputs.eigenvalues[k] = lambda;
  if (outputs.axes.rows != nullptr) {
    for (int j = 0; j < m; ++j) outputs.axes[k][j] = run.axis[j];
  }

  MoveLowestToEnd(work.A, order, g, h, work.tree);
  DowndateCrossProduct(work.K, run.W, m, g - h, &order[h]);
  for (int j = 0; j < m; ++j) {
    if (work.K[j][j] < work.D[j]) {  // strictly: an all-zero column never triggers
      run.recompute = true;
      break;
    }
  }
}

// Shaves the given sequences (one or two, each with its own scratch) step
// by step. With the exact solver and two of them, each step finds both
// axes at once.
void ShaveRuns(SequenceRun* runs, int count, const std::atomic<bool>* stop) {
  for (int t = 0; t < count; ++t) BeginSequence(runs[t]);
  const int S = runs[0].sequence->stepCount;
  for (int k = 0; k < S; ++k) {
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) throw tarvok::Cancelled();
    for (int t = 0; t < count; ++t) BeforeAxis(runs[t], k);
    double lambda[2] = {0.0, 0.0};
    if (runs[0].fast) {
      for (int t = 0; t < count; ++t) FastAxis(runs[t], &lambda[t]);
    } else {
      const DMatrix K[2] = {runs[0].work->K, count > 1 ? runs[1].work->K : DMatrix{}};
      const DVector axes[2] = {runs[0].axis, count > 1 ? runs[1].axis : DVector{}};
      AxisScratch* const scratch[2] = {&runs[0].work->axis, count > 1 ? &runs[1].work->axis : nullptr};
      LeadingAxes(K, count, runs[0].m, axes, lambda, scratch);
    }
    for (int t = 0; t < count; ++t) AfterAxis(runs[t], k, lambda[t]);
  }
}

}  // namespace

void ShaveNestedSequence(ShaveSequence* sequence, const ShavingInput& input, const StepOutputs& outputs,
                         const std::atomic<bool>* stop, SequenceScratch* scratch) {
  SequenceScratch own;
  SequenceRun run{sequence, &input, &outputs, scratch != nullptr ? scratch : &own};
  ShaveRuns(&run, 1, stop);
}

void ShaveNestedSequencePair(ShaveSequence* const sequences[2], const ShavingInput inputs[2],
                             const StepOutputs outputs[2], const std::atomic<bool>* stop,
                             SequenceScratch* const scratch[2]) {
  SequenceRun runs[2] = {{sequences[0], &inputs[0], &outputs[0], scratch[0]},
                         {sequences[1], &inputs[1], &outputs[1], scratch[1]}};
  const bool inStep = sequences[0]->stepCount == sequences[1]->stepCount &&
                      ShavedDimension(inputs[0]) == ShavedDimension(inputs[1]) &&
                      inputs[0].solver == inputs[1].solver;
  if (inStep) {
    ShaveRuns(runs, 2, stop);
    return;
  }
  ShaveRuns(&runs[0], 1, stop);
  ShaveRuns(&runs[1], 1, stop);
}
