#include "numeric/Svd.h"

#include "numeric/Lanczos.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/Fingerprint.h"

namespace {

using Rows = std::vector<std::vector<double>>;

// One svdcmp result in plain containers, 0-based: u is m x n, v is n x n.
struct Decomposition {
  Rows u;
  std::vector<double> w;
  Rows v;
};

Decomposition Decompose(const Rows& input) {
  int m = static_cast<int>(input.size());
  int n = static_cast<int>(input[0].size());
  DMatrix a = dmatrix(1, m, 1, n);
  DVector w = dvector(1, n);
  DMatrix v = dmatrix(1, n, 1, n);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < n; ++j) a[i + 1][j + 1] = input[i][j];
  svdcmp(a, m, n, w, v);
  Decomposition d{Rows(m, std::vector<double>(n)), std::vector<double>(n), Rows(n, std::vector<double>(n))};
  for (int j = 0; j < n; ++j) {
    d.w[j] = w[j + 1];
    for (int i = 0; i < m; ++i) d.u[i][j] = a[i + 1][j + 1];
    for (int i = 0; i < n; ++i) d.v[i][j] = v[i + 1][j + 1];
  }
  ReleaseDmatrix(a, 1, m, 1, n);
  ReleaseDvector(w, 1, n);
  ReleaseDmatrix(v, 1, n, 1, n);
  return d;
}

struct Axis {
  double eigenvalue = 0.0;
  std::vector<double> axis;
};

// Runs LeadingAxis on k and checks that k comes back unchanged.
Axis LeadingAxisOf(const Rows& k) {
  int m = static_cast<int>(k.size());
  DMatrix km = dmatrix(0, m - 1, 0, m - 1);
  DVector axis = dvector(0, m - 1);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) km[i][j] = k[i][j];
  Axis result;
  LeadingAxis(km, m, axis, &result.eigenvalue);
  for (int i = 0; i < m; ++i) {
    result.axis.push_back(axis[i]);
    for (int j = 0; j < m; ++j) EXPECT_EQ(km[i][j], k[i][j]) << "K modified at " << i << "," << j;
  }
  ReleaseDvector(axis, 0, m - 1);
  ReleaseDmatrix(km, 0, m - 1, 0, m - 1);
  return result;
}

std::string Printed(const char* format, double x) {
  char text[64];
  std::snprintf(text, sizeof text, format, x);
  return text;
}

Rows Transpose(const Rows& a) {
  Rows t(a[0].size(), std::vector<double>(a.size()));
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t j = 0; j < a[0].size(); ++j) t[j][i] = a[i][j];
  return t;
}

Rows Product(const Rows& a, const Rows& b) {
  Rows p(a.size(), std::vector<double>(b[0].size(), 0.0));
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t j = 0; j < b[0].size(); ++j)
      for (size_t k = 0; k < b.size(); ++k) p[i][j] += a[i][k] * b[k][j];
  return p;
}

// Largest |a - b| elementwise; with b empty, largest |a - I|.
double MaxDifference(const Rows& a, const Rows& b = {}) {
  double largest = 0.0;
  for (size_t i = 0; i < a.size(); ++i)
    for (size_t j = 0; j < a[i].size(); ++j)
      largest = std::max(largest, std::fabs(a[i][j] - (b.empty() ? (i == j ? 1.0 : 0.0) : b[i][j])));
  return largest;
}

// Checks a = U diag(w) V^T, U^T U = I, V^T V = I and w >= 0, with
// tolerances relative to the order and to the size of a.
void ExpectValidDecomposition(const Rows& a, const std::string& what) {
  Decomposition d = Decompose(a);
  size_t m = a.size(), n = a[0].size();
  double eps = std::numeric_limits<double>::epsilon() * 8.0 * static_cast<double>(m + n);
  Rows uw = d.u;
  for (auto& row : uw)
    for (size_t k = 0; k < n; ++k) row[k] *= d.w[k];
  double scale = std::max(MaxDifference(a, Rows(m, std::vector<double>(n, 0.0))), 1e-300);
  for (size_t j = 0; j < n; ++j) EXPECT_GE(d.w[j], 0.0) << what << " w[" << j << "]";
  EXPECT_LE(MaxDifference(Product(uw, Transpose(d.v)), a), eps * scale) << what;
  EXPECT_LE(MaxDifference(Product(Transpose(d.u), d.u)), eps) << what;
  EXPECT_LE(MaxDifference(Product(Transpose(d.v), d.v)), eps) << what;
}

Rows RandomMatrix(int m, int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  Rows a(m, std::vector<double>(n));
  for (auto& row : a)
    for (double& x : row) x = uniform(rng);
  return a;
}

const double kSqrtHalf = std::sqrt(0.5);

}  // namespace

// The worked examples: values, the unsorted order of w, and the signs of
// the axis, which the shaving sequence depends on.
TEST(LeadingAxis, WorkedExamplesGiveTheirValuesOrderAndSigns) {
  struct Case {
    const char* what;
    Rows k;
    std::vector<double> w;  // expected svdcmp order; empty: not checked
    double eigenvalue;
    std::vector<double> axis;
  };
  const double third = std::sqrt(1.0 / 3.0);
  const Case cases[] = {
      {"[[2,1],[1,2]]", {{2, 1}, {1, 2}}, {1, 3}, 3, {kSqrtHalf, kSqrtHalf}},
      {"3x3 unsorted", {{4, 1, 2}, {1, 3, 0}, {2, 0, 5}}, {6.66907908828, 1.8548973088, 3.47602360292},
       6.66907908828, {0.631178968776, 0.172026536793, 0.756320024866}},
      {"[[1,-1],[-1,1]]", {{1, -1}, {-1, 1}}, {}, 2, {kSqrtHalf, -kSqrtHalf}},
      {"diag(2,3)", {{2, 0}, {0, 3}}, {2, 3}, 3, {0, 1}},
      {"identity: tie keeps index 1", {{1, 0}, {0, 1}}, {1, 1}, 1, {1, 0}},
      {"zero", {{0, 0}, {0, 0}}, {0, 0}, 0, {-1, 0}},
      {"[[5]]", {{5}}, {5}, 5, {1}},
      {"ones", {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}, {}, 3, {third, third, third}},
  };
  for (const Case& c : cases) {
    if (!c.w.empty()) {
      Decomposition d = Decompose(c.k);
      for (size_t i = 0; i < c.w.size(); ++i) EXPECT_NEAR(d.w[i], c.w[i], 1e-10) << c.what << " w[" << i << "]";
    }
    Axis a = LeadingAxisOf(c.k);
    EXPECT_NEAR(a.eigenvalue, c.eigenvalue, 1e-10) << c.what;
    ASSERT_EQ(a.axis.size(), c.axis.size()) << c.what;
    for (size_t i = 0; i < c.axis.size(); ++i) EXPECT_NEAR(a.axis[i], c.axis[i], 1e-10) << c.what << " axis[" << i << "]";
  }

  // Exact bits: the zero matrix's exact zero is negated to -0.0, and the
  // rounding of the ones matrix is fixed by the order of operations.
  Axis zero = LeadingAxisOf({{0, 0}, {0, 0}});
  EXPECT_TRUE(std::signbit(zero.axis[1]));
  EXPECT_EQ(Printed("%f", zero.axis[1]), "-0.000000");
  EXPECT_EQ(Printed("%.17g", LeadingAxisOf({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}).eigenvalue), "2.9999999999999991");

  // No matrix at all: eigenvalue 0, nothing read or written.
  DMatrix none = dmatrix(0, -1, 0, -1);
  DVector noAxis = dvector(0, -1);
  double eigenvalue = -1.0;
  LeadingAxis(none, 0, noAxis, &eigenvalue);
  EXPECT_EQ(eigenvalue, 0.0);
  ReleaseDvector(noAxis, 0, -1);
  ReleaseDmatrix(none, 0, -1, 0, -1);
}

TEST(LeadingAxis, LaterValueWinsOnlyByMoreThanTheMargin) {
  const double ulp = std::ldexp(1.0, -52);
  Axis tie = LeadingAxisOf({{1, 0}, {0, 1 + ulp}});  // exactly 2^-52 more: index 1 stays
  EXPECT_EQ(tie.eigenvalue, 1.0);
  EXPECT_EQ(std::fabs(tie.axis[0]), 1.0);
  Axis wins = LeadingAxisOf({{1, 0}, {0, 1 + 2 * ulp}});
  EXPECT_EQ(wins.eigenvalue, 1 + 2 * ulp);
  EXPECT_EQ(std::fabs(wins.axis[1]), 1.0);
}

TEST(LeadingAxis, CrossProductOfSixGenes) {
  const Rows genes = {{3, -1, -2}, {1, 2, -3}, {0, 1, -1}, {-2, 1, 1}, {4, -3, -1}, {1, 1, -2}};
  Axis a = LeadingAxisOf(Product(Transpose(genes), genes));
  EXPECT_NEAR(a.eigenvalue, 46.76714533, 1e-8);
  EXPECT_NEAR(a.axis[0], 0.8122141677, 1e-10);
  EXPECT_NEAR(a.axis[1], -0.3337806752, 1e-10);
  EXPECT_NEAR(a.axis[2], -0.4784334924, 1e-10);
}

TEST(LeadingAxis, RandomPositiveSemiDefiniteGivesTheLargestEigenpair) {
  std::mt19937 rng(7);
  for (int m : {2, 5, 12, 30}) {
    // Rank-deficient, as for a cluster with fewer genes than samples.
    Rows b = Product(RandomMatrix(m, m / 2 + 1, rng), RandomMatrix(m / 2 + 1, m, rng));
    Rows k = Product(b, Transpose(b));
    Axis a = LeadingAxisOf(k);
    Rows kx = Product(k, Transpose({a.axis}));
    Rows lx = Transpose({a.axis});
    for (auto& row : lx) row[0] *= a.eigenvalue;
    EXPECT_LE(MaxDifference(kx, lx), 1e-11 * a.eigenvalue) << "m=" << m;
    EXPECT_NEAR(Product({a.axis}, Transpose({a.axis}))[0][0], 1.0, 1e-13);
    for (double value : Decompose(k).w) EXPECT_LE(value, a.eigenvalue) << "m=" << m;
  }
}

// The Lanczos solver against the decomposition: eigenvalue to 1e-10
// relative, axis to 1e-8 in angle, its own sign rule, warm and cold starts,
// a start inside an invariant subspace, and the zero matrix's fallback.
TEST(LeadingAxisLanczos, MatchesTheDecompositionWarmOrCold) {
  std::mt19937 rng(11);
  auto solve = [](const Rows& k, const std::vector<double>* start) {
    int m = static_cast<int>(k.size());
    Matrix km(m, m);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < m; ++j) km[i][j] = k[i][j];
    Vector axis(m), from(m);
    if (start != nullptr)
      for (int i = 0; i < m; ++i) from[i] = (*start)[i];
    LanczosWorkspace workspace(m);
    Axis result;
    LeadingAxisLanczos(km, m, start != nullptr ? static_cast<const DVector&>(from) : DVector{}, axis,
                       &result.eigenvalue, workspace);
    for (int i = 0; i < m; ++i) result.axis.push_back(axis[i]);
    return result;
  };
  auto expectClose = [](const Axis& fast, const Axis& exact, const std::string& what) {
    EXPECT_NEAR(fast.eigenvalue, exact.eigenvalue, 1e-10 * exact.eigenvalue) << what;
    // The angle from the chord between the sign-aligned unit vectors
    // (acos of a dot product near 1 loses half the digits).
    double dot = 0.0, chord = 0.0;
    for (size_t i = 0; i < exact.axis.size(); ++i) dot += fast.axis[i] * exact.axis[i];
    for (size_t i = 0; i < exact.axis.size(); ++i) {
      double d = fast.axis[i] - (dot < 0 ? -1 : 1) * exact.axis[i];
      chord += d * d;
    }
    EXPECT_LT(2 * std::asin(std::sqrt(chord) / 2), 1e-8) << what;
    size_t largest = 0;
    for (size_t i = 1; i < fast.axis.size(); ++i)
      if (std::fabs(fast.axis[i]) > std::fabs(fast.axis[largest])) largest = i;
    EXPECT_LT(fast.axis[largest], 0.0) << what << ": the largest entry is negative";
  };
  for (int m : {2, 7, 48, 49, 150}) {
    // Rank-deficient cross-products of random rows, like a cluster's.
    Rows b = RandomMatrix(m + 20, m, rng);
    Rows k = Product(Transpose(b), b);
    Axis exact = LeadingAxisOf(k);
    std::string what = "m=" + std::to_string(m);
    expectClose(solve(k, nullptr), exact, what + " cold");
    // A warm start near the answer, as the step before leaves.
    std::vector<double> near = exact.axis;
    for (double& value : near) value += 0.01 * std::uniform_real_distribution<double>(-1, 1)(rng);
    expectClose(solve(k, &near), exact, what + " warm");
  }
  // A start inside the invariant subspace of the smaller eigenvalue: the
  // basis continues from the unit vectors and still finds the larger one.
  Rows diagonal = {{1, 0, 0}, {0, 5, 0}, {0, 0, 2}};
  std::vector<double> inside = {1, 0, 0};
  Axis found = solve(diagonal, &inside);
  EXPECT_DOUBLE_EQ(found.eigenvalue, 5.0);
  EXPECT_DOUBLE_EQ(found.axis[1], -1.0);
  // The zero matrix: the decomposition answers, with its own sign.
  Axis zero = solve({{0, 0}, {0, 0}}, nullptr);
  EXPECT_EQ(zero.eigenvalue, 0.0);
  EXPECT_TRUE(std::signbit(zero.axis[1]));
}

TEST(Svdcmp, InteriorZeroOnTheDiagonalTakesTheCancellationBranch) {
  const Rows a = {{1, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 1, 1}, {0, 0, 0, 1}};
  Decomposition d = Decompose(a);
  EXPECT_NEAR(d.w[0], 0.0, 1e-15);
  EXPECT_NEAR(d.w[1], std::sqrt(2.0), 1e-14);
  EXPECT_NEAR(d.w[2], std::sqrt(3.0), 1e-14);
  EXPECT_NEAR(d.w[3], 1.0, 1e-14);
  ExpectValidDecomposition(a, "bidiagonal with interior zero");
}

TEST(Svdcmp, RandomAndHardMatricesDecomposeToRoundingAccuracy) {
  std::mt19937 rng(20240601);
  Rows graded = RandomMatrix(8, 8, rng);
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) graded[i][j] *= std::pow(10.0, -(i + j));
  Rows q = Decompose(RandomMatrix(5, 5, rng)).u;  // Q diag(1,1,1,1/3,1/3) Q^T
  Rows qd = q;
  for (auto& row : qd)
    for (int k = 3; k < 5; ++k) row[k] *= 1.0 / 3.0;
  Rows zeroColumn = RandomMatrix(6, 4, rng);
  for (auto& row : zeroColumn) row[1] = 0.0;

  const std::pair<const char*, Rows> cases[] = {
      {"random 6x6", RandomMatrix(6, 6, rng)},
      {"random 9x4", RandomMatrix(9, 4, rng)},
      {"column 7x1", RandomMatrix(7, 1, rng)},
      {"1x1", {{-2.5}}},
      {"rank 2 of 8x8", Product(RandomMatrix(8, 2, rng), RandomMatrix(2, 8, rng))},
      {"rank 1 of 10x6", Product(RandomMatrix(10, 1, rng), RandomMatrix(1, 6, rng))},
      {"graded 8x8", graded},
      {"repeated values", Product(qd, Transpose(q))},
      {"zero column", zeroColumn},
      {"random 200x200", RandomMatrix(200, 200, rng)},
  };
  for (const auto& c : cases) ExpectValidDecomposition(c.second, c.first);
}

TEST(Svdcmp, FailuresThrowTheirMessages) {
  struct FailureCase {
    const char* what;
    Rows a;
    long failAllocation;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const FailureCase cases[] = {
      {"SVDCMP: You must augment A with extra zero rows", {{1, 2, 3}, {4, 5, 6}}, 0},
      {"No convergence in 30 SVDCMP iterations", {{nan, 1}, {1, nan}}, 0},
      {"allocation failure in dvector()", {{1, 2}, {3, 4}}, 1},
  };
  for (const FailureCase& c : cases) {
    int m = static_cast<int>(c.a.size());
    int n = static_cast<int>(c.a[0].size());
    DMatrix a = dmatrix(1, m, 1, n);
    DVector w = dvector(1, n);
    DMatrix v = dmatrix(1, n, 1, n);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < n; ++j) a[i + 1][j + 1] = c.a[i][j];
    ChildResult r = RunInChild([&] {
      FailAllocationForTesting(c.failAllocation);
      std::printf("%s", ErrorMessage([&] { svdcmp(a, m, n, w, v); }).c_str());
    });
    EXPECT_EQ(r.exitStatus, 0) << c.what << r.err;
    EXPECT_EQ(r.out, std::string("Numerical Recipes: ") + c.what);
    ReleaseDmatrix(a, 1, m, 1, n);
    ReleaseDvector(w, 1, n);
    ReleaseDmatrix(v, 1, n, 1, n);
  }
}

// The exact bits of the leading axis and of a full decomposition, at sizes
// that take every path of the blocked loops (blocks of 16 and 4 rows or
// columns and the single ones left over), as the plain one-sum-at-a-time
// loops gave them.
TEST(LeadingAxis, ExactBitsAtEverySize) {
  auto leadingAxisBits = [](int m) {
    Rows rows(3 * m, std::vector<double>(m));
    std::uint32_t seed = 11u;
    for (auto& row : rows)
      for (double& x : row) x = Noise(seed);
    Axis a = LeadingAxisOf(Product(Transpose(rows), rows));
    Fingerprint f;
    f.Add(a.eigenvalue);
    f.Add(a.axis.data(), m);
    return f.hash;
  };
  EXPECT_EQ(leadingAxisBits(1), 0x701af6dfe4d5e190ull);
  EXPECT_EQ(leadingAxisBits(3), 0x5824300ccff5cc7eull);
  EXPECT_EQ(leadingAxisBits(37), 0x4b9f072d6fbe083cull);
  EXPECT_EQ(leadingAxisBits(53), 0xddf0694f1f8b9235ull);
  EXPECT_EQ(leadingAxisBits(130), 0x92209935c0a4dcb2ull);
}

// Two or three matrices at once give each the bits of a call of its own:
// a full-rank one, a rank-two one (most values converge at once) and one
// with a zero row and column (a zero value, the cancellation), in every
// pairing order, so chases of different lengths overlap.
TEST(LeadingAxis, SeveralAtOnceGiveTheBitsOfOneCallEach) {
  for (int m : {1, 2, 5, 38, 53}) {
    std::uint32_t seed = 7u;
    auto crossProduct = [&](int genes) {
      Rows x(genes, std::vector<double>(m));
      for (auto& row : x)
        for (double& value : row) value = Noise(seed);
      return Product(Transpose(x), x);
    };
    Rows zeroLine = crossProduct(2 * m);
    for (int i = 0; i < m; ++i) zeroLine[i][m / 2] = zeroLine[m / 2][i] = 0.0;
    const Rows ks[] = {crossProduct(3 * m), crossProduct(2), zeroLine};
    for (int first = 0; first < 3; ++first) {
      Matrix k[3] = {Matrix(m, m), Matrix(m, m), Matrix(m, m)};
      Matrix axes(3, m);
      DMatrix kArg[3];
      DVector axisArg[3];
      for (int t = 0; t < 3; ++t) {
        const Rows& source = ks[(first + t) % 3];
        for (int i = 0; i < m; ++i)
          for (int j = 0; j < m; ++j) k[t][i][j] = source[i][j];
        kArg[t] = k[t];
        axisArg[t] = axes[t];
      }
      double eigenvalues[3];
      LeadingAxes(kArg, 3, m, axisArg, eigenvalues);
      for (int t = 0; t < 3; ++t) {
        const Axis alone = LeadingAxisOf(ks[(first + t) % 3]);
        const std::string what = "m " + std::to_string(m) + " matrix " + std::to_string((first + t) % 3);
        EXPECT_EQ(std::memcmp(&eigenvalues[t], &alone.eigenvalue, sizeof(double)), 0) << what;
        EXPECT_EQ(std::memcmp(&axes[t][0], alone.axis.data(), sizeof(double) * m), 0) << what;
      }
    }
  }
}

TEST(Svdcmp, ExactBitsOfUWAndV) {
  // Noise, or with `shape` 1 column 2 zero (no column reflector at step
  // 2), with 2 a block-diagonal matrix whose first row and column are
  // e_1 (no row reflector at step 1).
  auto svdcmpBits = [](int m, int n, int shape = 0) {
    DMatrix a = dmatrix(1, m, 1, n);
    std::uint32_t seed = 5u;
    for (int i = 1; i <= m; ++i)
      for (int j = 1; j <= n; ++j) a[i][j] = Noise(seed);
    for (int i = 1; i <= m && shape == 1; ++i) a[i][2] = 0.0;
    for (int k = 2; k <= n && shape == 2; ++k) a[1][k] = a[k][1] = 0.0;
    for (int k = n + 1; k <= m && shape == 2; ++k) a[k][1] = 0.0;
    DVector w = dvector(1, n);
    DMatrix v = dmatrix(1, n, 1, n);
    svdcmp(a, m, n, w, v);
    Fingerprint f;
    for (int i = 1; i <= m; ++i) f.Add(&a[i][1], n);
    f.Add(&w[1], n);
    for (int i = 1; i <= n; ++i) f.Add(&v[i][1], n);
    ReleaseDmatrix(a, 1, m, 1, n);
    ReleaseDvector(w, 1, n);
    ReleaseDmatrix(v, 1, n, 1, n);
    return f.hash;
  };
  EXPECT_EQ(svdcmpBits(70, 45), 0xd594adbf4a607ffeull);
  EXPECT_EQ(svdcmpBits(21, 21), 0x6fa99e25375202cdull);
  EXPECT_EQ(svdcmpBits(40, 33, 1), 0x55355c92a29dd6eaull);
  EXPECT_EQ(svdcmpBits(40, 33, 2), 0xd26dd30174f33e72ull);
}
