// The library call that is made both by the Linux library and by
// Tarvok.dll under Wine, so that their result files can be compared: a
// table probe and a two-cluster analysis of a small matrix with a planted
// cluster, every value exactly representable so that both sides start from
// the same bits.
#pragma once

#include <cstdio>
#include <cstring>
#include <vector>

inline constexpr int kComparedGenes = 30;
inline constexpr int kComparedSamples = 6;

// ComparedMatrix: genes x samples, row-major by gene. Genes 0-9 follow one
// pattern, genes 10-17 its opposite, the rest small integer noise; the
// last one is tiny.
inline std::vector<double> ComparedMatrix() {
  static const int pattern[kComparedSamples] = {3, -2, 4, -3, 1, -1};
  std::vector<double> matrix(kComparedGenes * kComparedSamples);
  for (int g = 0; g < kComparedGenes; ++g) {
    for (int s = 0; s < kComparedSamples; ++s) {
      double noise = ((g * 37 + s * 11 + g * s * 7) % 23 - 11) / 8.0;
      double signal = g < 10 ? pattern[s] : g < 18 ? -pattern[s] : 0;
      matrix[g * kComparedSamples + s] = signal * 1.25 + noise;
      // The last gene varies by tiny powers of two, so that the dumped
      // matrix ("%g") holds exponents.
      if (g == kComparedGenes - 1) matrix[g * kComparedSamples + s] = s / 131072.0;
    }
  }
  return matrix;
}

// RunComparedCall: probes tablePath and runs the analysis, writing to
// standard output the probe's answers, the monitor lines and the cluster
// count. ruzo and probe are the two exports (or pointers to them).
template <typename RuzoFunction, typename ProbeFunction>
void RunComparedCall(RuzoFunction ruzo, ProbeFunction probe, const char* tablePath) {
  std::vector<char> path(tablePath, tablePath + std::strlen(tablePath) + 1);
  char* table = path.data();
  int hasHeader = -1, hasLabels = -1;
  probe(&table, &hasHeader, &hasLabels);
  std::printf("tsvFileFormatTest %d %d\n", hasHeader, hasLabels);
  std::fflush(stdout);

  std::vector<double> matrix = ComparedMatrix();
  const int clusters = 2, shave = 10, permutations = 4, tolerance = 0;
  const int genes = kComparedGenes, samples = kComparedSamples;
  const int monitor = 1, generateLabels = 1, dump = 1, supervision = 0;
  char noClasses[] = "";
  char* classes = noClasses;
  int done = -1;
  ruzo(&clusters, &shave, &permutations, &tolerance, matrix.data(), &genes, &samples, &monitor,
       &generateLabels, &dump, &supervision, &classes, &done);
  std::printf("clustersDone %d\n", done);
  std::fflush(stdout);
}
