#include "shaving/Permutation.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

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
// number of packed values below its own. The counts run for 8 * chunks
// samples side by side (a vector of counts, held in registers), one packed
// value after another; padding above every packed value counts nothing.
template <int chunks>
[[gnu::always_inline]] inline void PlaceShortRow(const double* from, double* to, int N,
                                                 const std::int32_t* packed) {
  std::int32_t place[8 * chunks] = {};
  for (int j = 0; j < N; ++j) {
    const std::int32_t value = packed[j];
    for (int i = 0; i < 8 * chunks; ++i) place[i] += value < packed[i];
  }
  for (int i = 0; i < N; ++i) to[place[i]] = from[i];
}

TARVOK_VECTOR_CLONES void PermuteShortRow(const double* from, double* to, int N, std::uint32_t& state) {
  std::int32_t packed[kShortTable];
  for (int j = 0; j < N; ++j) packed[j] = NextRandom(state) << 16 | j;
  for (int j = N; j < kShortTable; ++j) packed[j] = std::numeric_limits<std::int32_t>::max();
  switch ((N + 7) / 8) {
    case 0:
    case 1: PlaceShortRow<1>(from, to, N, packed); break;
    case 2: PlaceShortRow<2>(from, to, N, packed); break;
    case 3: PlaceShortRow<3>(from, to, N, packed); break;
    case 4: PlaceShortRow<4>(from, to, N, packed); break;
    case 5: PlaceShortRow<5>(from, to, N, packed); break;
    case 6: PlaceShortRow<6>(from, to, N, packed); break;
    case 7: PlaceShortRow<7>(from, to, N, packed); break;
    default: PlaceShortRow<8>(from, to, N, packed); break;
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

