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

// Longer rows are placed by two counting passes over the packed values
// key * 2^16 + index (index < 2^16 up to this length), first by the low 8
// bits of the key, then by its high 7 bits. Each pass keeps the order of
// equal digits and the values enter in index order, so equal keys keep
// ascending sample index: the stable sort's order, in linear time.
constexpr int kPackedRow = 1 << 16;

void PermuteLongRow(const double* from, double* to, int N, std::uint32_t& state, std::uint32_t* packed,
                    std::uint32_t* spare) {
  int low[256] = {};
  int high[128] = {};
  for (int j = 0; j < N; ++j) {
    const std::uint32_t key = static_cast<std::uint32_t>(NextRandom(state));
    packed[j] = key << 16 | static_cast<std::uint32_t>(j);
    ++low[key & 255u];
    ++high[key >> 8];
  }
  for (int d = 0, place = 0; d < 256; ++d) {
    const int count = low[d];
    low[d] = place;
    place += count;
  }
  for (int d = 0, place = 0; d < 128; ++d) {
    const int count = high[d];
    high[d] = place;
    place += count;
  }
  for (int j = 0; j < N; ++j) spare[low[(packed[j] >> 16) & 255u]++] = packed[j];
  for (int j = 0; j < N; ++j) packed[high[spare[j] >> 24]++] = spare[j];
  for (int j = 0; j < N; ++j) to[j] = from[packed[j] & 0xFFFFu];
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
  if (N <= kPackedRow) {
    std::uint32_t* packed =
        static_cast<std::uint32_t*>(ZeroAllocate(2 * static_cast<std::size_t>(N), sizeof(std::uint32_t)));
    if (packed == nullptr) throw tarvok::Error("allocation failure in calloc()");
    for (int g = 0; g < G; ++g) PermuteLongRow(&source[g][0], &destination[g][0], N, state, packed, packed + N);
    std::free(packed);
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

