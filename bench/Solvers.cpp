// Times the two axis solvers on random tables with planted blocks.
//
// Usage: bench_solvers sequence G N exact|fast
//          one nested sequence (scores only, as a permuted copy's): wall, CPU
//        bench_solvers step G N exact|fast
//          the leading axis of the G-gene cross-product once (fast: cold)
//        bench_solvers run G N exact|fast CLUSTERS PERMUTATIONS THREADS
//          a whole analysis through the core API: wall, CPU, peak RSS
// The table: uniform noise in [-0.5, 0.5) from a fixed generator, plus
// three blocks of 200 genes that follow one sample pattern each.
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "core/Analysis.h"
#include "numeric/Lanczos.h"
#include "numeric/Svd.h"
#include "shaving/NestedSequence.h"
#include "shaving/ShaveSequence.h"

namespace {

std::vector<double> PlantedTable(int G, int N) {
  std::vector<double> data(static_cast<size_t>(G) * N);
  unsigned state = 12345;
  for (int g = 0; g < G; ++g) {
    const int block = g < 600 ? g / 200 : -1;
    for (int s = 0; s < N; ++s) {
      state = state * 1664525u + 1013904223u;
      double noise = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
      double pattern = block < 0 ? 0.0 : std::sin(1.0 + s * (0.7 + 0.4 * block)) * (g % 2 ? -0.6 : 0.6);
      data[static_cast<size_t>(g) * N + s] = noise + pattern;
    }
  }
  return data;
}

double Seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: bench_solvers sequence|run G N exact|fast [CLUSTERS PERMUTATIONS THREADS]\n");
    return 2;
  }
  const std::string mode = argv[1];
  const int G = std::atoi(argv[2]), N = std::atoi(argv[3]);
  const tarvok::Solver solver = std::string(argv[4]) == "fast" ? tarvok::Solver::Fast : tarvok::Solver::Exact;
  std::vector<double> table = PlantedTable(G, N);
  if (mode == "sequence") {
    Matrix data(G, N);
    for (int g = 0; g < G; ++g)
      for (int s = 0; s < N; ++s) data[g][s] = table[static_cast<size_t>(g) * N + s];
    CenterRows(data, G, N);
    OwnedShaveSequence sequence(NewShaveSequence(G, N, 0.1));
    SignTable signs(sequence->stepCount, G);
    ShavingInput input{data, G, N, nullptr, solver};
    double start = Seconds();
    std::clock_t cpu = std::clock();
    ShaveNestedSequence(sequence.get(), input, StepOutputs::SignsOnly(signs));
    std::printf("%d x %d %s: one nested sequence (%d steps) wall %.3f s, CPU %.3f s\n", G, N, argv[4],
                sequence->stepCount, Seconds() - start, static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
    return 0;
  }
  if (mode == "step") {
    Matrix data(G, N), K(N, N);
    for (int g = 0; g < G; ++g)
      for (int s = 0; s < N; ++s) data[g][s] = table[static_cast<size_t>(g) * N + s];
    CenterRows(data, G, N);
    IntVector order(G);
    for (int g = 0; g < G; ++g) order[g] = g;
    CrossProductMatrix(K, data, N, G, order);
    Vector axis(N);
    LanczosWorkspace workspace(N);
    double lambda = 0.0;
    double start = Seconds();
    std::clock_t cpu = std::clock();
    if (solver == tarvok::Solver::Exact) {
      LeadingAxis(K, N, axis, &lambda);
    } else {
      LeadingAxisLanczos(K, N, DVector{}, axis, &lambda, workspace);
    }
    std::printf("%d x %d %s: one leading axis wall %.3f s, CPU %.3f s\n", G, N, argv[4], Seconds() - start,
                static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC);
    return 0;
  }
  if (argc < 8) return 2;
  tarvok::AnalysisOptions options;
  options.clusters = std::atoi(argv[5]);
  options.permutations = std::atoi(argv[6]);
  options.threads = std::atoi(argv[7]);
  options.solver = solver;
  double start = Seconds();
  std::clock_t cpu = std::clock();
  tarvok::AnalysisResult result = tarvok::Analyze(table.data(), G, N, options);
  double wall = Seconds() - start;
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%d x %d %s K=%d B=%d threads=%d: wall %.1f s, CPU %.1f s, peak RSS %.1f MiB, sizes", G, N, argv[4],
              options.clusters, options.permutations, options.threads, wall,
              static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC, usage.ru_maxrss / 1024.0);
  for (const auto& cluster : result.clusters) std::printf(" %d", cluster.size);
  std::printf("\n");
  return 0;
}
