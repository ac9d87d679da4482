#include <gtest/gtest.h>

#include <cstring>
#include <utility>

#include <vector>

#include "shaving/NestedSequence.h"
#include "tests/support/Fingerprint.h"

namespace {

DMatrix MakeMatrix(const std::vector<std::vector<double>>& rows) {
  DMatrix m = dmatrix(0, static_cast<int>(rows.size()) - 1, 0, static_cast<int>(rows[0].size()) - 1);
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t j = 0; j < rows[i].size(); ++j) m[static_cast<int>(i)][static_cast<int>(j)] = rows[i][j];
  return m;
}

std::vector<int> Order(const ShaveSequence* s, int G) {
  return std::vector<int>(s->order.data, s->order.data + G);
}

}  // namespace

// Six centred genes over three samples, shaved one gene per step.
TEST(ShaveNestedSequence, SixGeneWorkedExample) {
  const int G = 6, N = 3;
  DMatrix data = MakeMatrix({{3, -1, -2}, {1, 2, -3}, {0, 1, -1}, {-2, 1, 1}, {4, -3, -1}, {1, 1, -2}});
  ShaveSequence* s = NewShaveSequence(G, N, 0.1);
  ASSERT_EQ(s->stepCount, 5);
  const int S = s->stepCount;
  PVector components = pvector(S);
  DMatrix scores = dmatrix(0, S - 1, 0, G - 1);
  DVector eigenvalues = dvector(0, S - 1);
  SignTable signs(S, G);
  ShaveNestedSequence(s, ShavingInput{data, G, N}, StepOutputs{components, scores, eigenvalues, &signs, DMatrix{}});

  const double lambda[] = {46.76714533, 46.74772708, 45, 43.95232684, 38.02775638};
  const double component[5][3] = {{0.8122141677, -0.3337806752, -0.4784334924},
                                  {0.8128100447, -0.339286668, -0.4735233766},
                                  {0.8164965809, -0.4082482905, -0.4082482905},
                                  {0.8120779145, -0.4795038846, -0.3325740299},
                                  {0.8104988882, -0.4907986355, -0.3197002527}};
  for (int k = 0; k < S; ++k) {
    EXPECT_NEAR(eigenvalues[k], lambda[k], 1e-8) << "step " << k;
    for (int j = 0; j < N; ++j) EXPECT_NEAR(components[k][j], component[k][j], 1e-9);
  }
  // Signed scores: step 0 for every gene, and the negative gene 3 kept.
  const double step0[] = {3.727290163, 1.579953294, 0.1446528172, -2.436642503, 4.728632189, 1.435300477};
  for (int g = 0; g < G; ++g) EXPECT_NEAR(scores[0][g], step0[g], 1e-8);
  EXPECT_NEAR(scores[2][3], -2.449489743, 1e-8);
  EXPECT_NEAR(scores[4][0], 3.561695806, 1e-8);
  EXPECT_NEAR(scores[4][4], 5.034091712, 1e-8);
  // Genes outside a step's cluster keep a zero score.
  EXPECT_EQ(scores[1][2], 0.0);
  EXPECT_EQ(scores[4][3], 0.0);
  EXPECT_EQ(Order(s, G), (std::vector<int>{4, 0, 3, 1, 5, 2}));

  // Signs follow the scores, a zero score counting as negative.
  for (int k = 0; k < S; ++k)
    for (int p = 0; p < s->sizes[k]; ++p) {
      const int gene = s->order[p];
      EXPECT_EQ(signs.Row(k)[gene], scores[k][gene] > 0 ? 1 : 0) << "step " << k << " gene " << gene;
    }

  // The permuted-copy mode (signs only), twice on one reused scratch and
  // once more on scratch sized for a larger sequence, gives the same order
  // and signs.
  SequenceScratch scratch;
  ShaveSequence* big = NewShaveSequence(3 * G, 2 * N, 0.1);
  DMatrix bigData = NoiseRows(3 * G, 2 * N, 5u);
  SignTable bigSigns(big->stepCount, 3 * G);
  for (int round = 0; round < 3; ++round) {
    if (round == 2) ShaveNestedSequence(big, ShavingInput{bigData, 3 * G, 2 * N}, StepOutputs::SignsOnly(bigSigns), nullptr, &scratch);
    SignTable again(S, G);
    ShaveNestedSequence(s, ShavingInput{data, G, N}, StepOutputs::SignsOnly(again), nullptr, &scratch);
    EXPECT_EQ(Order(s, G), (std::vector<int>{4, 0, 3, 1, 5, 2}));
    for (int k = 0; k < S; ++k)
      for (int p = 0; p < s->sizes[k]; ++p) EXPECT_EQ(again.Row(k)[s->order[p]], signs.Row(k)[s->order[p]]);
  }
  FreeShaveSequence(big, 3 * G, 2 * N);
  ReleaseDmatrix(bigData, 0, 3 * G - 1, 0, 2 * N - 1);

  for (int k = 0; k < S; ++k) ReleaseDvector(components[k], 0, N - 1);
  ReleasePvector(components);
  ReleaseDmatrix(scores, 0, S - 1, 0, G - 1);
  ReleaseDvector(eigenvalues, 0, S - 1);
  ReleaseDmatrix(data, 0, G - 1, 0, N - 1);
  FreeShaveSequence(s, G, N);
}

TEST(MoveLowestToEnd, TiesKeepTheTailOrTakeTheFirstMinimum) {
  struct Case {
    std::vector<double> A;
    int h;
    std::vector<int> order;
  };
  const Case cases[] = {
      {{2, 1, 3, 1}, 3, {0, 1, 2, 3}},        // tail already minimal: stays
      {{1, 2, 1, 3}, 3, {0, 1, 2, 3}},        // first of two minima moves
      {{5, 4, 3, 2, 1}, 2, {0, 1, 2, 3, 4}},  // already sorted descending
      {{1, 2, 3, 4, 5}, 2, {0, 1, 2, 3, 4}},
      {{7, 7}, 1, {0, 1}},                    // equal pair: order stays
      {{3, 1}, 1, {0, 1}},
  };
  const std::vector<int> expected[] = {{0, 1, 2, 3}, {3, 1, 2, 0}, {0, 1, 2, 3, 4},
                                       {4, 3, 2, 1, 0}, {0, 1}, {0, 1}};
  for (size_t c = 0; c < std::size(cases); ++c) {
    const Case& tc = cases[c];
    int g = static_cast<int>(tc.A.size());
    DVector A = dvector(0, g - 1);
    IVector order = ivector(0, g - 1);
    for (int i = 0; i < g; ++i) {
      A[i] = tc.A[i];
      order[i] = tc.order[i];
    }
    MoveLowestToEnd(A, order, g, tc.h);
    EXPECT_EQ(std::vector<int>(order.data, order.data + g), expected[c]) << "case " << c;
    for (int t = tc.h; t < g; ++t)
      for (int i = 0; i < t; ++i) EXPECT_LE(A[t], A[i]) << "case " << c;
    ReleaseDvector(A, 0, g - 1);
    ReleaseIvector(order, 0, g - 1);
  }
}

TEST(ShaveNestedSequence, DowndatedCrossProductTracksTheRebuiltOne) {
  // Each entry is the plain sum over the genes in order position order, to
  // the bit, for few samples and for many (blocks copied into panels, with
  // rows and columns left over); downdating the shaved rows leaves what a
  // full rebuild over the remaining genes gives, to rounding, and K stays
  // exactly symmetric.
  for (const auto& [G, m] : {std::pair<int, int>{40, 5}, std::pair<int, int>{300, 261}}) {
    DMatrix W = dmatrix(0, G - 1, 0, m - 1);
    unsigned state = 7;
    for (int g = 0; g < G; ++g)
      for (int j = 0; j < m; ++j) {
        state = state * 1103515245u + 12345u;
        W[g][j] = static_cast<double>((state >> 8) % 2001) / 1000.0 - 1.0;
      }
    IVector order = ivector(0, G - 1);
    for (int g = 0; g < G; ++g) order[g] = G - 1 - g;
    DMatrix K = dmatrix(0, m - 1, 0, m - 1);
    DMatrix rebuilt = dmatrix(0, m - 1, 0, m - 1);
    const int kept = G * 5 / 8;
    CrossProductMatrix(K, W, m, G, order);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j <= i; j += 7) {
        double sum = 0.0;
        for (int p = 0; p < G; ++p) sum += W[order[p]][i] * W[order[p]][j];
        ASSERT_EQ(K[i][j], sum) << m << ": " << i << ", " << j;
      }
    DowndateCrossProduct(K, W, m, G - kept, &order[kept]);
    CrossProductMatrix(rebuilt, W, m, kept, order);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < m; ++j) {
        ASSERT_NEAR(K[i][j], rebuilt[i][j], 1e-11) << m;
        ASSERT_EQ(K[i][j], K[j][i]) << m;
      }
    ReleaseDmatrix(W, 0, G - 1, 0, m - 1);
    ReleaseDmatrix(K, 0, m - 1, 0, m - 1);
    ReleaseDmatrix(rebuilt, 0, m - 1, 0, m - 1);
    ReleaseIvector(order, 0, G - 1);
  }
}

TEST(ShaveNestedSequence, SupervisedComponentHasOneEntryPerSample) {
  // A transform that keeps the first two of three samples: axes live in
  // two dimensions and map back to three.
  const int G = 4, N = 3, c = 2;
  DMatrix data = MakeMatrix({{1, -1, 0}, {2, -1, -1}, {-1, 0, 1}, {0, 1, -1}});
  SupervisionTransform T;
  T.transform = Matrix(N, c);
  T.transform[0][0] = T.transform[1][1] = 1;
  T.columns = c;
  ShaveSequence* s = NewShaveSequence(G, N, 0.1);
  const int S = s->stepCount;
  PVector components = pvector(S);
  DMatrix scores = dmatrix(0, S - 1, 0, G - 1);
  SignTable signs(S, G);
  Matrix axes(S, c);
  const ShavingInput input{data, G, N, &T};
  ShaveNestedSequence(s, input, StepOutputs{components, scores, DVector{}, &signs, axes});
  for (int k = 0; k < S; ++k) {
    EXPECT_EQ(components[k][2], 0.0);  // the dropped sample carries nothing
    double norm = components[k][0] * components[k][0] + components[k][1] * components[k][1];
    EXPECT_NEAR(norm, 1.0, 1e-12);
  }
  // Scores come from the transformed, re-centred rows: gene 0 becomes
  // (1, -1) and gene 3 (0, 1) -> (-0.5, 0.5): opposite direction, half length.
  EXPECT_NEAR(-2 * scores[0][3], scores[0][0], 1e-12);
  // A step's kept axis gives its cluster's scores again, to the bit.
  Vector again(G);
  for (int k = 0; k < S; ++k) {
    StepScores(input, s->order, s->sizes[k], axes[k], again);
    for (int p = 0; p < s->sizes[k]; ++p) EXPECT_EQ(again[s->order[p]], scores[k][s->order[p]]) << k;
  }
  for (int k = 0; k < S; ++k) ReleaseDvector(components[k], 0, N - 1);
  ReleasePvector(components);
  ReleaseDmatrix(scores, 0, S - 1, 0, G - 1);
  ReleaseDmatrix(data, 0, G - 1, 0, N - 1);
  FreeShaveSequence(s, G, N);
}

TEST(MoveLowestToEnd, TournamentTreeMatchesTheScanExactly) {
  // Values drawn from a few levels so that ties are everywhere.
  unsigned state = 99;
  for (int trial = 0; trial < 300; ++trial) {
    state = state * 1103515245u + 12345u;
    int g = 2 + static_cast<int>((state >> 8) % 200);
    int h = static_cast<int>((state >> 20) % static_cast<unsigned>(g));
    DVector A1 = dvector(0, g - 1), A2 = dvector(0, g - 1);
    IVector o1 = ivector(0, g - 1), o2 = ivector(0, g - 1);
    for (int i = 0; i < g; ++i) {
      state = state * 1103515245u + 12345u;
      A1[i] = A2[i] = static_cast<double>((state >> 16) % (trial % 7 + 1));
      o1[i] = o2[i] = i;
    }
    const int size = SelectionTreeSize(g);
    IVector tree = ivector(0, size - 1);
    MoveLowestToEnd(A1, o1, g, h);
    MoveLowestToEnd(A2, o2, g, h, tree);
    for (int i = 0; i < g; ++i) {
      ASSERT_EQ(o1[i], o2[i]) << "trial " << trial << " position " << i;
      ASSERT_EQ(A1[i], A2[i]);
    }
    ReleaseIvector(tree, 0, size - 1);
    for (IVector* v : {&o1, &o2}) ReleaseIvector(*v, 0, g - 1);
    for (DVector* v : {&A1, &A2}) ReleaseDvector(*v, 0, g - 1);
  }
}

// The exact bits of whole nested sequences (order, scores, eigenvalues and
// components of every step) on noise with a planted pattern, as the plain
// one-sum-at-a-time kernels gave them.
TEST(ShaveNestedSequence, ExactBitsOnNoise) {
  auto sequenceBits = [](int G, int N) {
    DMatrix data = NoiseRows(G, N, 3u);
    for (int g = 0; g < G / 10; ++g)
      for (int s = 0; s < N; ++s) data[g][s] += (s % 3) - 1.0;
    CenterRows(data, G, N);
    ShaveSequence* seq = NewShaveSequence(G, N, 0.1);
    const int S = seq->stepCount;
    PVector components = pvector(S);
    DMatrix scores = dmatrix(0, S - 1, 0, G - 1);
    DVector eigenvalues = dvector(0, S - 1);
    SignTable signs(S, G);
    Matrix axes(S, N);
    ShaveNestedSequence(seq, ShavingInput{data, G, N}, StepOutputs{components, scores, eigenvalues, &signs, axes});
    // A step's kept axis gives its cluster's scores again, to the bit.
    Vector again(G);
    for (int k = 0; k < S; ++k) {
      StepScores(ShavingInput{data, G, N}, seq->order, seq->sizes[k], axes[k], again);
      for (int p = 0; p < seq->sizes[k]; ++p) EXPECT_EQ(again[seq->order[p]], scores[k][seq->order[p]]) << k;
    }
    Fingerprint f;
    f.Add(seq->order.data, G);
    for (int k = 0; k < S; ++k) {
      f.Add(eigenvalues[k]);
      f.Add(components[k].data, N);
      f.Add(&scores[k][0], G);
      ReleaseDvector(components[k], 0, N - 1);
    }
    ReleasePvector(components);
    ReleaseDmatrix(scores, 0, S - 1, 0, G - 1);
    ReleaseDvector(eigenvalues, 0, S - 1);
    FreeShaveSequence(seq, G, N);
    ReleaseDmatrix(data, 0, G - 1, 0, N - 1);
    return f.hash;
  };
  EXPECT_EQ(sequenceBits(400, 5), 0xa74d1a64b50a30a2ull);
  EXPECT_EQ(sequenceBits(400, 38), 0x3222a828b5871030ull);
  EXPECT_EQ(sequenceBits(400, 71), 0x6e0f1f942133b180ull);
}

// Two sequences shaved as a pair, step by step with their axes found
// together, give each the order, signs and eigenvalues it gets alone:
// unsupervised, supervised, and a pair in spaces of different sizes, which
// goes one after the other.
TEST(ShaveNestedSequence, PairShavesEachAsAlone) {
  const int G = 240;
  SupervisionTransform T;
  T.transform = Matrix(20, 3);
  for (int s = 0; s < 20; ++s) T.transform[s][s % 3] = 1.0 / (1 + s % 3);
  T.columns = 3;
  struct Case {
    int samples[2];
    const SupervisionTransform* supervision;
  };
  for (const Case& c : {Case{{20, 20}, nullptr}, Case{{20, 20}, &T}, Case{{20, 12}, nullptr}, Case{{8, 8}, nullptr}}) {
    DMatrix data[2];
    ShaveSequence* alone[2];
    ShaveSequence* paired[2];
    std::vector<SignTable> signs;
    std::vector<Vector> eigenvalues;
    ShavingInput inputs[2];
    StepOutputs outputs[2];
    SequenceScratch scratch[2];
    for (int t = 0; t < 2; ++t) {
      const int N = c.samples[t];
      data[t] = NoiseRows(G, N, 11u + t);
      for (int g = 0; g < G / 8; ++g)
        for (int s = 0; s < N; ++s) data[t][g][s] += (s % 4) - 1.5;
      CenterRows(data[t], G, N);
      alone[t] = NewShaveSequence(G, N, 0.1);
      paired[t] = NewShaveSequence(G, N, 0.1);
      inputs[t] = ShavingInput{data[t], G, N, c.supervision};
    }
    for (int t = 0; t < 4; ++t) {
      signs.emplace_back(alone[t % 2]->stepCount, G);
      eigenvalues.emplace_back(alone[t % 2]->stepCount);
    }
    for (int t = 0; t < 2; ++t) {
      outputs[t] = StepOutputs{PVector{}, DMatrix{}, eigenvalues[t], &signs[t], DMatrix{}};
      ShaveNestedSequence(alone[t], inputs[t], outputs[t]);
      outputs[t] = StepOutputs{PVector{}, DMatrix{}, eigenvalues[2 + t], &signs[2 + t], DMatrix{}};
    }
    SequenceScratch* work[2] = {&scratch[0], &scratch[1]};
    ShaveNestedSequencePair(paired, inputs, outputs, nullptr, work);
    for (int t = 0; t < 2; ++t) {
      const int S = alone[t]->stepCount;
      EXPECT_EQ(Order(paired[t], G), Order(alone[t], G)) << c.samples[1] << " " << t;
      EXPECT_EQ(std::memcmp(signs[2 + t].Row(0), signs[t].Row(0), static_cast<std::size_t>(S) * G), 0) << t;
      EXPECT_EQ(std::memcmp(&eigenvalues[2 + t][0], &eigenvalues[t][0], sizeof(double) * S), 0) << t;
      FreeShaveSequence(alone[t], G, c.samples[t]);
      FreeShaveSequence(paired[t], G, c.samples[t]);
      ReleaseDmatrix(data[t], 0, G - 1, 0, c.samples[t] - 1);
    }
  }
}
