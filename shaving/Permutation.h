// Row-permuted copies of a matrix: every gene's values in a random order of
// their own, drawn from an explicit generator state.
#pragma once

#include <cstdint>

#include "numeric/Arrays.h"

// A sample index and its random key.
struct RandomPair {
  int index;
  int key;
};

// CompareRandomKeys: 1, -1 or 0 as a's key is greater, smaller or equal.
int CompareRandomKeys(const RandomPair& a, const RandomPair& b);

// RandomizeMatrixFrom: destination row g = source row g (both G x N) in a
// random order of its own. N draws per gene, gene by gene, advance state by
// G * N draws; the samples are ordered by ascending key, and pairs of equal
// keys keep ascending sample order (a stable order, the same everywhere).
// Throws Error ("allocation failure in calloc()") when the key table
// cannot be had.
void RandomizeMatrixFrom(const DMatrix& source, const DMatrix& destination, int G, int N,
                         std::uint32_t& state);

// The same from the calling thread's generator.
void RandomizeMatrix(const DMatrix& source, const DMatrix& destination, int G, int N);
