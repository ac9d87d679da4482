// Times whole analyses: reads a tab-separated table (header row, label
// column), runs RuzoVavav into a scratch directory and reports wall time,
// CPU time, time per nested sequence and peak memory on standard output.
//
// Usage: bench_whole_run TABLE CLUSTERS SHAVE PERMUTATIONS [SUPERVISE CLASSES]
// TABLE "random:G:N" makes a G x N matrix of uniform noise with a planted
// block of co-expressed genes instead of reading a file.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Tarvok.h"

namespace {

bool ReadTable(const char* path, std::vector<double>& values, int& genes, int& samples) {
  std::ifstream in(path);
  std::string line;
  if (!std::getline(in, line)) return false;
  genes = 0;
  samples = -1;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string label, cell;
    std::getline(fields, label, '\t');
    int count = 0;
    while (std::getline(fields, cell, '\t')) {
      values.push_back(std::strtod(cell.c_str(), nullptr));
      ++count;
    }
    if (samples < 0) samples = count;
    if (count != samples) return false;
    ++genes;
  }
  return genes > 0;
}

// A reproducible G x N matrix: noise, with the first G/50 genes following
// one pattern.
void RandomTable(int G, int N, std::vector<double>& values) {
  std::uint32_t state = 12345u;
  auto uniform = [&state] {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 16777216.0 - 0.5;
  };
  std::vector<double> pattern(static_cast<size_t>(N));
  for (double& p : pattern) p = 2 * uniform();
  values.resize(static_cast<size_t>(G) * N);
  for (int g = 0; g < G; ++g)
    for (int s = 0; s < N; ++s)
      values[static_cast<size_t>(g) * N + s] = (g < G / 50 ? pattern[s] : 0.0) + uniform();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 7) {
    std::fprintf(stderr, "usage: %s TABLE CLUSTERS SHAVE PERMUTATIONS [SUPERVISE CLASSES]\n", argv[0]);
    return 2;
  }
  std::vector<double> data;
  int G = 0, N = 0;
  if (std::sscanf(argv[1], "random:%d:%d", &G, &N) == 2) {
    RandomTable(G, N, data);
  } else if (!ReadTable(argv[1], data, G, N)) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 2;
  }
  int K = std::atoi(argv[2]), shave = std::atoi(argv[3]), B = std::atoi(argv[4]);
  int supervise = argc == 7 ? std::atoi(argv[5]) : 0;
  char* classes = argc == 7 ? argv[6] : nullptr;
  int tolerance = 0, monitor = 0, generate = 1, dump = 0, done = 0;

  // BENCH_OUTPUT names a directory to keep the result files in (to compare
  // them between builds); otherwise a scratch directory is used and removed.
  const char* keep = std::getenv("BENCH_OUTPUT");
  char scratch[] = "/tmp/tarvok-bench-XXXXXX";
  if (keep == nullptr && mkdtemp(scratch) == nullptr) return 2;
  setenv("TVOUTPUT", keep != nullptr ? keep : scratch, 1);

  auto wallStart = std::chrono::steady_clock::now();
  std::clock_t cpuStart = std::clock();
  RuzoVavav(&K, &shave, &B, &tolerance, data.data(), &G, &N, &monitor, &generate, &dump, &supervise,
            &classes, &done);
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
  double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  int sequences = done * (B + 1);
  std::printf("genes %d samples %d clusters %d/%d shave %d%% permutations %d supervise %d%%\n", G, N, done, K,
              shave, B, supervise);
  std::printf("wall %.3f s  cpu %.3f s  per nested sequence %.2f ms  peak RSS %.1f MiB\n", wall, cpu,
              sequences > 0 ? 1000.0 * wall / sequences : 0.0, usage.ru_maxrss / 1024.0);
  if (keep != nullptr) return 0;
  std::string cleanup = std::string("rm -rf ") + scratch;
  return std::system(cleanup.c_str()) == 0 ? 0 : 1;
}
