#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "shaving/Extraction.h"
#include "shaving/GapStatistic.h"
#include "shaving/Permutation.h"
#include "shaving/Random.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Fingerprint.h"

namespace {

int Choose(const std::vector<double>& gaps, double tolerance) {
  int S = static_cast<int>(gaps.size());
  DVector v = dvector(0, S - 1);
  for (int k = 0; k < S; ++k) v[k] = gaps[k];
  int chosen = ChooseClusterStep(v, S, tolerance);
  ReleaseDvector(v, 0, S - 1);
  return chosen;
}

}  // namespace

TEST(ChooseClusterStep, LargestGapThenTolerance) {
  // Equal largest gaps at steps 3 and 7: the smaller cluster wins.
  std::vector<double> ties = {1, 2, 3, 9, 4, 5, 6, 9, 1};
  EXPECT_EQ(Choose(ties, 0), 7);
  EXPECT_EQ(Choose({5.0, 9.5, 8.0, 10.0}, 10), 1);  // threshold 9: step 1 qualifies
  EXPECT_EQ(Choose({9.6, 8.0, 10.0}, 10), 0);       // skips step 1 below the threshold
  EXPECT_EQ(Choose({5.0, 9.5, 8.0, 10.0}, 0), 3);
  EXPECT_EQ(Choose({-3, -1, -2}, 50), 1);           // negative best: nothing earlier qualifies
  EXPECT_EQ(Choose({0, 0, 0}, 100), 2);
  EXPECT_EQ(Choose({7}, 10), 0);
}

TEST(ClusterVariances, TwoGenesWithOppositeOrEqualSigns) {
  DMatrix data = dmatrix(0, 1, 0, 1);
  data[0][0] = 1; data[0][1] = -1;
  data[1][0] = -1; data[1][1] = 1;
  ShaveSequence* s = NewShaveSequence(2, 2, 0.1);  // one step: both genes
  s->order[0] = 0;
  s->order[1] = 1;
  SignTable signs(1, 2);
  std::uint8_t* positive = signs.Row(0);
  DVector r2 = dvector(0, 0), between = dvector(0, 0), total = dvector(0, 0), within = dvector(0, 0);

  positive[0] = 1; positive[1] = 0;
  ClusterVariances(s, data, 2, signs, {r2, between, total, within});
  EXPECT_EQ(between[0], 1.0);
  EXPECT_EQ(total[0], 1.0);
  EXPECT_EQ(within[0], 0.0);
  EXPECT_EQ(r2[0], 100.0);

  positive[0] = 1; positive[1] = 1;
  ClusterVariances(s, data, 2, signs, {r2, between, total, within});
  EXPECT_EQ(between[0], 0.0);
  EXPECT_EQ(total[0], 1.0);
  EXPECT_EQ(within[0], 1.0);
  EXPECT_EQ(r2[0], 0.0);

  // Both negative cancels like both positive.
  positive[0] = 0; positive[1] = 0;
  ClusterVariances(s, data, 2, signs, {r2, between, total, within});
  EXPECT_EQ(r2[0], 0.0);

  // All-zero data: total 0 gives R2 0, not a division by zero.
  data[0][0] = data[0][1] = data[1][0] = data[1][1] = 0;
  ClusterVariances(s, data, 2, signs, {r2, between, total, within});
  EXPECT_EQ(r2[0], 0.0);
  EXPECT_FALSE(std::isnan(r2[0]));

  for (DVector* v : {&r2, &between, &total, &within}) ReleaseDvector(*v, 0, 0);
  ReleaseDmatrix(data, 0, 1, 0, 1);
  FreeShaveSequence(s, 2, 2);
}

TEST(ClusterVariances, EveryStepsTotalIsItsOwnSumInOrderPosition) {
  // Many steps over a scrambled order: each step's total must carry the
  // bits of a sum over its own cluster, genes in order position, samples
  // in order within a gene. Signs drawn afresh for every step, and signs
  // that runs of steps share (all alike or all flipped, the sums of later
  // steps then taken from an earlier step's sweep) with a gene here and
  // there that breaks a run. Some rows cancel others exactly, so running
  // sums pass through exact zeros.
  const int G = 300, N = 7;
  DMatrix data = dmatrix(0, G - 1, 0, N - 1);
  for (int g = 0; g < G; ++g)
    for (int j = 0; j < N; ++j) data[g][j] = g % 4 == 1 ? -data[g - 1][j] : std::sin(g * 1.7 + j * 0.3) * (1 + g % 5);
  ShaveSequence* s = NewShaveSequence(G, N, 0.1);
  const int S = s->stepCount;
  for (int t = 0; t < G; ++t) s->order[t] = (t * 37) % G;
  SignTable signs(S, G);
  DVector r2 = dvector(0, S - 1), between = dvector(0, S - 1), total = dvector(0, S - 1),
          within = dvector(0, S - 1), mean = dvector(0, N - 1);
  for (bool shared : {false, true}) {
    for (int k = 0; k < S; ++k) {
      for (int g = 0; g < G; ++g) {
        const bool fresh = std::cos(k + g * 0.9) > 0;
        const bool run = (std::cos(g * 0.9) > 0) != (k % 3 == 1);
        signs.Row(k)[g] = (shared ? run : fresh) ? 1 : 0;
      }
      // Breaks: the first gene of step 5's cluster, the last of step 9's.
      if (shared && k == 5) signs.Row(k)[s->order[0]] ^= 1;
      if (shared && k == 9) signs.Row(k)[s->order[s->sizes[k] - 1]] ^= 1;
    }
    ClusterVariances(s, data, N, signs, {r2, between, total, within});
    for (int k = 0; k < S; ++k) {
      const int n = s->sizes[k];
      ClusterMeanGene(data, N, n, mean, s->order, signs.Row(k));
      double sum = 0.0, squares = 0.0, dataSquares = 0.0;
      for (int j = 0; j < N; ++j) sum += mean[j];
      for (int j = 0; j < N; ++j) squares += mean[j] * mean[j];
      for (int t = 0; t < n; ++t)
        for (int j = 0; j < N; ++j) dataSquares += data[s->order[t]][j] * data[s->order[t]][j];
      const double abar = sum / N;
      const double b = squares / N - abar * abar;
      const double tot = dataSquares / (static_cast<double>(n) * N) - abar * abar;
      EXPECT_EQ(between[k], b) << k << (shared ? " shared" : " fresh");
      EXPECT_EQ(total[k], tot) << k << (shared ? " shared" : " fresh");
      EXPECT_EQ(r2[k], (100 * b) / tot) << k << (shared ? " shared" : " fresh");
    }
  }
  for (DVector* v : {&r2, &between, &total, &within}) ReleaseDvector(*v, 0, S - 1);
  ReleaseDvector(mean, 0, N - 1);
  ReleaseDmatrix(data, 0, G - 1, 0, N - 1);
  FreeShaveSequence(s, G, N);
}

TEST(RandomGenerator, StreamStartsAtOneAndJumpsMatchDraws) {
  ChildResult r = RunInChild([] {
    // A fresh thread starts from state 1: 41, 18467, 6334, 26500, ...
    std::uint32_t& state = RandomStateOfThisThread();
    if (state != 1u) std::exit(2);
    int first[4];
    for (int& v : first) v = NextRandom(state);
    if (first[0] != 41 || first[1] != 18467 || first[2] != 6334 || first[3] != 26500) std::exit(3);
  });
  EXPECT_EQ(r.exitStatus, 0);

  for (std::uint64_t draws : {0ull, 1ull, 2ull, 37ull, 1000ull, 123457ull}) {
    std::uint32_t stepped = 12345u;
    for (std::uint64_t d = 0; d < draws; ++d) NextRandom(stepped);
    EXPECT_EQ(JumpRandomState(12345u, draws), stepped) << draws;
  }
}

TEST(RandomizeMatrix, EachRowIsAPermutationOfItself) {
  const int G = 50, N = 7;
  DMatrix source = dmatrix(0, G - 1, 0, N - 1);
  DMatrix shuffled = dmatrix(0, G - 1, 0, N - 1);
  for (int g = 0; g < G; ++g)
    for (int j = 0; j < N; ++j) source[g][j] = g * 100 + j;
  std::uint32_t state = 1;
  RandomizeMatrixFrom(source, shuffled, G, N, state);
  EXPECT_EQ(state, JumpRandomState(1, static_cast<std::uint64_t>(G) * N));
  int moved = 0;
  for (int g = 0; g < G; ++g) {
    std::vector<double> row(&shuffled[g][0], &shuffled[g][0] + N);
    for (int j = 0; j < N; ++j) moved += row[j] != source[g][j];
    std::sort(row.begin(), row.end());
    for (int j = 0; j < N; ++j) EXPECT_EQ(row[j], source[g][j]);
  }
  EXPECT_GT(moved, G * N / 2);
  ReleaseDmatrix(source, 0, G - 1, 0, N - 1);
  ReleaseDmatrix(shuffled, 0, G - 1, 0, N - 1);
}

TEST(OrthogonalizeMatrix, RemovesTheDirectionAndIsAProjector) {
  DMatrix X = dmatrix(0, 1, 0, 1);
  X[0][0] = 2; X[0][1] = 0;
  X[1][0] = 3; X[1][1] = 3;
  DVector v = dvector(0, 1);
  v[0] = 1; v[1] = -1;
  OrthogonalizeMatrix(X, v, 2, 2);
  EXPECT_EQ(X[0][0], 1.0);
  EXPECT_EQ(X[0][1], 1.0);
  EXPECT_EQ(X[1][0], 3.0);
  EXPECT_EQ(X[1][1], 3.0);
  ReleaseDmatrix(X, 0, 1, 0, 1);
  ReleaseDvector(v, 0, 1);

  const int G = 6, N = 4;
  DMatrix Y = dmatrix(0, G - 1, 0, N - 1);
  DVector w = dvector(0, N - 1);
  const double mean[] = {0.5, -1.5, 2.0, -1.0};  // sums to zero
  for (int j = 0; j < N; ++j) w[j] = mean[j];
  for (int g = 0; g < G; ++g) {
    for (int j = 0; j < N; ++j) Y[g][j] = std::sin(g * 3.0 + j);
  }
  CenterRows(Y, G, N);
  OrthogonalizeMatrix(Y, w, G, N);
  std::vector<double> once(&Y[0][0], &Y[0][0] + G * N);
  for (int g = 0; g < G; ++g) {
    double dot = 0, sum = 0;
    for (int j = 0; j < N; ++j) {
      dot += Y[g][j] * w[j];
      sum += Y[g][j];
    }
    EXPECT_NEAR(dot, 0.0, 1e-14);
    EXPECT_NEAR(sum, 0.0, 1e-14);
  }
  OrthogonalizeMatrix(Y, w, G, N);
  for (int e = 0; e < G * N; ++e) EXPECT_NEAR((&Y[0][0])[e], once[e], 1e-14);

  // A mean gene of zero length has no direction: X stays as it is.
  std::vector<double> twice(&Y[0][0], &Y[0][0] + G * N);
  for (int j = 0; j < N; ++j) w[j] = 0.0;
  OrthogonalizeMatrix(Y, w, G, N);
  for (int e = 0; e < G * N; ++e) EXPECT_EQ((&Y[0][0])[e], twice[e]);
  ReleaseDmatrix(Y, 0, G - 1, 0, N - 1);
  ReleaseDvector(w, 0, N - 1);
}

// The exact bits of the projection, as one dot product at a time gave them.
TEST(OrthogonalizeMatrix, ExactBitsOnNoise) {
  auto projectionBits = [](int G, int N) {
    DMatrix X = NoiseRows(G, N, 9u);
    DVector v = dvector(0, N - 1);
    std::uint32_t seed = 4u;
    for (int j = 0; j < N; ++j) v[j] = Noise(seed);
    OrthogonalizeMatrix(X, v, G, N);
    Fingerprint f;
    for (int g = 0; g < G; ++g) f.Add(&X[g][0], N);
    ReleaseDmatrix(X, 0, G - 1, 0, N - 1);
    ReleaseDvector(v, 0, N - 1);
    return f.hash;
  };
  EXPECT_EQ(projectionBits(9, 3), 0xee12b8ed3b1f5b56ull);
  EXPECT_EQ(projectionBits(9, 38), 0x46cae365f3c4897aull);
  EXPECT_EQ(projectionBits(9, 71), 0xf9ebaa56b0e84b25ull);
}

TEST(RandomizeMatrix, EqualKeysKeepSampleOrderForShortAndLongRows) {
  // Recomputes each row's order from the same draws with a plain stable
  // sort. Over 32768 key values, 200 rows of 40 or more samples are sure to
  // hold equal keys, which the test counts to be certain.
  for (int N : {2, 40, 64, 65, 300}) {
    const int G = 200;
    int ties = 0;
    DMatrix source = dmatrix(0, G - 1, 0, N - 1);
    DMatrix shuffled = dmatrix(0, G - 1, 0, N - 1);
    for (int g = 0; g < G; ++g)
      for (int j = 0; j < N; ++j) source[g][j] = j;
    std::uint32_t state = 2024u, reference = 2024u;
    RandomizeMatrixFrom(source, shuffled, G, N, state);
    for (int g = 0; g < G; ++g) {
      std::vector<std::pair<int, int>> keys;
      for (int j = 0; j < N; ++j) keys.push_back({NextRandom(reference), j});
      std::stable_sort(keys.begin(), keys.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      for (int j = 0; j < N; ++j) ASSERT_EQ(shuffled[g][j], keys[static_cast<size_t>(j)].second) << N;
      for (int j = 1; j < N; ++j) ties += keys[static_cast<size_t>(j)].first == keys[static_cast<size_t>(j) - 1].first;
    }
    if (N >= 40) {
      EXPECT_GT(ties, 0) << N;
    }
    ReleaseDmatrix(source, 0, G - 1, 0, N - 1);
    ReleaseDmatrix(shuffled, 0, G - 1, 0, N - 1);
  }
}
