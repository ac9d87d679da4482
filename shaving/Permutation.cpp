#include "shaving/Permutation.h"

#include <algorithm>
#include <cstdlib>

#include "base/Error.h"
#include "numeric/VectorClones.h"
#include "shaving/Random.h"

namespace {

// Tables of up to this many samples are permuted on the stack.
constexpr int kShortTable = 64;

// Sorts the pairs by ascending key; equal keys keep ascending sample index
// (a stable sort), the same on every platform.
void SortByKey(RandomPair* pairs, int N) {
  std::stable_sort(pairs, pairs + N, [](const RandomPair& a, const RandomPair& b) {
    return CompareRandomKeys(a, b) < 0;
  });
}

// The same order for a short table without sorting: a key (15 bits) and
// its sample index packed as key * 2^16 + index are all distinct and order
// as (key, index), exactly the stable order, so each sample's place is the
// number of packed values below its own. The counts have no branches to
// mispredict and vectorise.
TARVOK_VECTOR_CLONES void PermuteShortRow(const double* from, double* to, int N, std::uint32_t& state) {
  std::int32_t packed[kShortTable];
  for (int j = 0; j < N; ++j) packed[j] = NextRandom(state) << 16 | j;
  for (int i = 0; i < N; ++i) {
    int place = 0;
    for (int j = 0; j < N; ++j) place += packed[j] < packed[i];
    to[place] = from[i];
  }
}

}  // namespace

int CompareRandomKeys(const RandomPair& a, const RandomPair& b) {
  if (a.key > b.key) return 1;
  if (a.key < b.key) return -1;
  return 0;
}

void RandomizeMatrixFrom(const DMatrix& source, const DMatrix& destination, int G, int N,
                         std::uint32_t& state) {
  if (N <= kShortTable) {
    for (int g = 0; g < G; ++g) PermuteShortRow(&source[g][0], &destination[g][0], N, state);
    return;
  }
  RandomPair* pairs = static_cast<RandomPair*>(ZeroAllocate(static_cast<std::size_t>(N), sizeof(RandomPair)));
  if (pairs == nullptr) throw tarvok::Error("allocation failure in calloc()");
  for (int g = 0; g < G; ++g) {
    for (int j = 0; j < N; ++j) pairs[j] = RandomPair{j, NextRandom(state)};
    SortByKey(pairs, N);
    const double* from = &source[g][0];
    double* to = &destination[g][0];
    for (int j = 0; j < N; ++j) to[j] = from[pairs[j].index];
  }
  std::free(pairs);
}

void RandomizeMatrix(const DMatrix& source, const DMatrix& destination, int G, int N) {
  RandomizeMatrixFrom(source, destination, G, N, RandomStateOfThisThread());
}

