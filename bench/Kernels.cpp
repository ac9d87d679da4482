// Kernel benchmarks: the leading axis of one shaving step and whole nested
// shaving sequences, on reproducible random data.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "numeric/Arrays.h"
#include "numeric/Svd.h"
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

void BM_LeadingAxis(benchmark::State& state) {
  const int m = static_cast<int>(state.range(0));
  // A cross-product matrix of 3m genes, as a shaving step sees it.
  DMatrix rows = RandomRows(3 * m, m);
  DMatrix K = dmatrix(0, m - 1, 0, m - 1);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) {
      double sum = 0.0;
      for (int g = 0; g < 3 * m; ++g) sum += rows[g][i] * rows[g][j];
      K[i][j] = sum;
    }
  DVector axis = dvector(0, m - 1);
  double eigenvalue = 0.0;
  for (auto _ : state) {
    LeadingAxis(K, m, axis, &eigenvalue);
    benchmark::DoNotOptimize(eigenvalue);
  }
  ReleaseDvector(axis, 0, m - 1);
  ReleaseDmatrix(K, 0, m - 1, 0, m - 1);
  ReleaseDmatrix(rows, 0, 3 * m - 1, 0, m - 1);
}
BENCHMARK(BM_LeadingAxis)->Arg(38)->Arg(100)->Arg(200)->Unit(benchmark::kMicrosecond);

void BM_ShaveNestedSequence(benchmark::State& state) {
  const int G = static_cast<int>(state.range(0));
  const int N = static_cast<int>(state.range(1));
  DMatrix data = RandomRows(G, N);
  ShaveSequence* sequence = NewShaveSequence(G, N, 0.1);
  const int S = sequence->stepCount;
  DMatrix scores = dmatrix(0, S - 1, 0, G - 1);
  for (auto _ : state) {
    ShaveNestedSequence(sequence, ShavingInput{data, G, N}, StepOutputs::ScoresOnly(scores));
    benchmark::DoNotOptimize(sequence->order.data[0]);
  }
  state.counters["steps"] = S;
  ReleaseDmatrix(scores, 0, S - 1, 0, G - 1);
  FreeShaveSequence(sequence, G, N);
  ReleaseDmatrix(data, 0, G - 1, 0, N - 1);
}
BENCHMARK(BM_ShaveNestedSequence)
    ->Args({3051, 38})
    ->Args({20000, 100})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
