// Fingerprints of numerical results, to pin their exact bits: the kernels
// may be rewritten for speed only as long as every result keeps its bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "numeric/Arrays.h"

// 64-bit FNV-1a over the bytes added, in order.
struct Fingerprint {
  std::uint64_t hash = 1469598103934665603ull;
  void AddBytes(const void* bytes, std::size_t count) {
    const unsigned char* c = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < count; ++i) hash = (hash ^ c[i]) * 1099511628211ull;
  }
  void Add(const double* values, int count) { AddBytes(values, sizeof(double) * static_cast<std::size_t>(count)); }
  void Add(const int* values, int count) { AddBytes(values, sizeof(int) * static_cast<std::size_t>(count)); }
  void Add(double value) { Add(&value, 1); }
};

// Reproducible noise in [-0.5, 0.5), the same on every platform.
inline double Noise(std::uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return static_cast<double>(state >> 8) / 16777216.0 - 0.5;
}

// A G x N dmatrix of noise.
inline DMatrix NoiseRows(int G, int N, std::uint32_t seed) {
  DMatrix m = dmatrix(0, G - 1, 0, N - 1);
  for (int g = 0; g < G; ++g)
    for (int s = 0; s < N; ++s) m[g][s] = Noise(seed);
  return m;
}
