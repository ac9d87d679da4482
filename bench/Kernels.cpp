// Kernel benchmarks: the leading axis of one shaving step, the other
// kernels of a step, whole nested shaving sequences, and the arithmetic
// peak of one core, on reproducible random data.
//
// LeadingAxis reports GFLOP/s counting the decomposition's work as 10 m^3:
// 8/3 m^3 for the bidiagonalisation, 4/3 m^3 for forming U and 6 m^3 for
// the QR sweeps (about m^2 rotations of 6 m flops each: 1.0 to 1.25 m^2
// were counted on these matrices). BM_Peak measures what one core does at best with the
// same separate multiplies and adds (no fused multiply-add, as in the
// library), four independent vector chains of each.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "numeric/Arrays.h"
#include "numeric/Svd.h"
#include "numeric/VectorClones.h"
#include "shaving/Extraction.h"
#include "shaving/Permutation.h"
#include "shaving/NestedSequence.h"
#include "shaving/ShaveSequence.h"

namespace {

double Uniform(std::uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return static_cast<double>(state >> 8) / 16777216.0 - 0.5;
}

// Centred G x N noise.
DMatrix RandomRows(int G, int N) {
  DMatrix m = dmatrix(0, G - 1, 0, N - 1);
  std::uint32_t state = 7;
  for (int g = 0; g < G; ++g)
    for (int s = 0; s < N; ++s) m[g][s] = Uniform(state);
  CenterRows(m, G, N);
  return m;
}

// LeadingAxes of range(1) matrices at once (1 or 2): a pair's QR chases
// overlap. The second is the first with its diagonal raised by one. They
// are the cross products of range(2) genes, 3 m when 0: 3 m as in a
// sequence's first steps; 20 as late in one, where K has rank 20, the QR
// sweeps end soon and the two reductions take nearly all the time. GFLOPs
// counts 10 m^3 a matrix whatever the rank.
void BM_LeadingAxis(benchmark::State& state) {
  const int m = static_cast<int>(state.range(0));
  const int count = static_cast<int>(state.range(1));
  const int genes = state.range(2) > 0 ? static_cast<int>(state.range(2)) : 3 * m;
  DMatrix rows = RandomRows(genes, m);
  Matrix K[2] = {Matrix(m, m), Matrix(m, m)};
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) {
      double sum = 0.0;
      for (int g = 0; g < genes; ++g) sum += rows[g][i] * rows[g][j];
      K[0][i][j] = sum;
      K[1][i][j] = sum + (i == j ? 1.0 : 0.0);
    }
  Matrix axes(2, m);
  const DMatrix matrices[2] = {K[0], K[1]};
  const DVector axis[2] = {axes[0], axes[1]};
  AxisScratch scratch[2];
  AxisScratch* const work[2] = {&scratch[0], &scratch[1]};
  double eigenvalues[2] = {0.0, 0.0};
  for (auto _ : state) {
    LeadingAxes(matrices, count, m, axis, eigenvalues, work);
    benchmark::DoNotOptimize(eigenvalues[0]);
  }
  state.counters["GFLOPs"] = benchmark::Counter(
      10.0 * count * m * m * m * 1e-9 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  ReleaseDmatrix(rows, 0, genes - 1, 0, m - 1);
}
BENCHMARK(BM_LeadingAxis)
    ->ArgsProduct({{38, 63, 100, 128, 189, 256, 500}, {1, 2}, {0}})
    ->ArgsProduct({{63, 128, 189}, {1, 2}, {20}})
    ->Unit(benchmark::kMicrosecond);

// Multiplies and adds on independent vector chains, six of each (enough to
// cover their latency): the core's peak for the library's kind of
// arithmetic. Returns the flops done.
TARVOK_VECTOR_CLONES double PeakLoop(double* values, long rounds) {
  Lanes4 m[6], a[6];
  for (int c = 0; c < 6; ++c) m[c] = a[c] = LoadLanes(values + 4 * (c % 4));
  const double f = 0.999999999, g = 1e-9;
  for (long r = 0; r < rounds; ++r) {
    for (int c = 0; c < 6; ++c) {
      m[c] = m[c] * f;
      a[c] = a[c] + g;
    }
  }
  Lanes4 sum = ZeroLanes();
  for (int c = 0; c < 6; ++c) sum = sum + m[c] + a[c];
  StoreLanes(values, sum);
  return static_cast<double>(rounds) * 12 * 4;
}

void BM_Peak(benchmark::State& state) {
  std::vector<double> values(16, 1.0);
  double flops = 0.0;
  for (auto _ : state) {
    flops += PeakLoop(values.data(), 1 << 20);
    benchmark::DoNotOptimize(values.data());
  }
  state.counters["GFLOPs"] = benchmark::Counter(flops * 1e-9, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Peak)->Unit(benchmark::kMicrosecond);

// The kernels of one shaving step on a cluster of G genes over m samples.
struct StepData {
  int G, m;
  DMatrix rows, K;
  IVector order;
  DVector axis, scores, A;
  StepData(int genes, int samples) : G(genes), m(samples) {
    rows = RandomRows(G, m);
    K = dmatrix(0, m - 1, 0, m - 1);
    order = ivector(0, G - 1);
    for (int g = 0; g < G; ++g) order[g] = (g * 7919) % G;
    axis = dvector(0, m - 1);
    for (int j = 0; j < m; ++j) axis[j] = 1.0 / (j + 1);
    scores = dvector(0, G - 1);
    A = dvector(0, G - 1);
  }
  ~StepData() {
    ReleaseDmatrix(rows, 0, G - 1, 0, m - 1);
    ReleaseDmatrix(K, 0, m - 1, 0, m - 1);
    ReleaseIvector(order, 0, G - 1);
    ReleaseDvector(axis, 0, m - 1);
    ReleaseDvector(scores, 0, G - 1);
    ReleaseDvector(A, 0, G - 1);
  }
};

void BM_CrossProductMatrix(benchmark::State& state) {
  StepData d(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    CrossProductMatrix(d.K, d.rows, d.m, d.G, d.order);
    benchmark::DoNotOptimize(d.K[0][0]);
  }
}
BENCHMARK(BM_CrossProductMatrix)->Args({3051, 38})->Args({3000, 128})->Unit(benchmark::kMicrosecond);

void BM_DowndateCrossProduct(benchmark::State& state) {
  StepData d(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    DowndateCrossProduct(d.K, d.rows, d.m, d.G / 10, &d.order[0]);
    benchmark::DoNotOptimize(d.K[0][0]);
  }
}
BENCHMARK(BM_DowndateCrossProduct)->Args({3051, 38})->Args({3000, 128})->Unit(benchmark::kMicrosecond);

void BM_GeneScores(benchmark::State& state) {
  StepData d(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    GeneScores(d.order, d.rows, d.G, d.m, d.axis, d.scores, d.A);
    benchmark::DoNotOptimize(d.A[0]);
  }
}
BENCHMARK(BM_GeneScores)->Args({3051, 38})->Args({3000, 128})->Unit(benchmark::kMicrosecond);

void BM_OrthogonalizeMatrix(benchmark::State& state) {
  StepData d(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    OrthogonalizeMatrix(d.rows, d.axis, d.G, d.m);
    benchmark::DoNotOptimize(d.rows[0][0]);
  }
}
BENCHMARK(BM_OrthogonalizeMatrix)->Args({3051, 38})->Args({3000, 128})->Unit(benchmark::kMicrosecond);

void BM_RandomizeMatrix(benchmark::State& state) {
  StepData d(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  DMatrix copy = dmatrix(0, d.G - 1, 0, d.m - 1);
  std::uint32_t generator = 1;
  for (auto _ : state) {
    RandomizeMatrixFrom(d.rows, copy, d.G, d.m, generator);
    benchmark::DoNotOptimize(copy[0][0]);
  }
  ReleaseDmatrix(copy, 0, d.G - 1, 0, d.m - 1);
}
BENCHMARK(BM_RandomizeMatrix)->Args({3051, 38})->Args({3000, 128})->Unit(benchmark::kMicrosecond);

void BM_ShaveNestedSequence(benchmark::State& state) {
  const int G = static_cast<int>(state.range(0));
  const int N = static_cast<int>(state.range(1));
  DMatrix data = RandomRows(G, N);
  ShaveSequence* sequence = NewShaveSequence(G, N, 0.1);
  const int S = sequence->stepCount;
  SignTable signs(S, G);
  SequenceScratch scratch;
  for (auto _ : state) {
    ShaveNestedSequence(sequence, ShavingInput{data, G, N}, StepOutputs::SignsOnly(signs), nullptr, &scratch);
    benchmark::DoNotOptimize(sequence->order.data[0]);
  }
  state.counters["steps"] = S;
  FreeShaveSequence(sequence, G, N);
  ReleaseDmatrix(data, 0, G - 1, 0, N - 1);
}
BENCHMARK(BM_ShaveNestedSequence)
    ->Args({3051, 38})
    ->Args({20000, 100})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
