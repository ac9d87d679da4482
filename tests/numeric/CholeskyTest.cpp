#include "numeric/Cholesky.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/support/ChildProcess.h"

namespace {

// A 1-based n x n matrix filled from row-major values (upper triangle used).
DMatrix Square(int n, std::initializer_list<double> values) {
  DMatrix a = dmatrix(1, n, 1, n);
  auto v = values.begin();
  for (int i = 1; i <= n; ++i)
    for (int j = 1; j <= n; ++j) a[i][j] = *v++;
  return a;
}

// Runs choldc and returns the message of its failure.
std::string FactoriseFailure(int n, std::initializer_list<double> values) {
  DMatrix a = Square(n, values);
  Vector p(1, n);
  std::string message = ErrorMessage([&] { choldc(a, n, p); });
  ReleaseDmatrix(a, 1, n, 1, n);
  return message;
}

}  // namespace

TEST(Choldc, SmallFactorsAreExact) {
  DMatrix one = Square(1, {9.0});
  DVector p1 = dvector(1, 1);
  choldc(one, 1, p1);
  EXPECT_EQ(p1[1], 3.0);
  EXPECT_EQ(one[1][1], 9.0);
  ReleaseDmatrix(one, 1, 1, 1, 1);
  ReleaseDvector(p1, 1, 1);

  DMatrix a = Square(2, {4, 2, 2, 3});
  DVector p = dvector(1, 2);
  choldc(a, 2, p);
  EXPECT_EQ(p[1], 2.0);
  EXPECT_EQ(a[2][1], 1.0);
  EXPECT_EQ(p[2], std::sqrt(2.0));
  EXPECT_EQ(a[1][2], 2.0);  // upper triangle and diagonal keep M
  EXPECT_EQ(a[1][1], 4.0);
  EXPECT_EQ(a[2][2], 3.0);
  ReleaseDmatrix(a, 1, 2, 1, 2);
  ReleaseDvector(p, 1, 2);
}

TEST(Choldc, IdentityGivesUnitDiagonalAndZeroLowerTriangle) {
  const int n = 5;
  DMatrix a = dmatrix(1, n, 1, n);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) a[i][j] = j < i ? 42.0 : (i == j ? 1.0 : 0.0);
  }
  DVector p = dvector(1, n);
  choldc(a, n, p);
  for (int i = 1; i <= n; ++i) {
    EXPECT_EQ(p[i], 1.0);
    for (int j = 1; j < i; ++j) EXPECT_EQ(a[i][j], 0.0) << i << "," << j;
  }
  ReleaseDmatrix(a, 1, n, 1, n);
  ReleaseDvector(p, 1, n);
}

TEST(Choldc, ValuesBelowTheDiagonalAreNeverRead) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const int n = 3;
  const double m[3][3] = {{4, 2, -2}, {2, 10, 2}, {-2, 2, 6}};
  DMatrix clean = dmatrix(1, n, 1, n);
  DMatrix dirty = dmatrix(1, n, 1, n);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      clean[i][j] = j >= i ? m[i - 1][j - 1] : 0.0;
      dirty[i][j] = j >= i ? m[i - 1][j - 1] : (i + j == 3 ? nan : -1e300);
    }
  }
  DVector pc = dvector(1, n);
  DVector pd = dvector(1, n);
  choldc(clean, n, pc);
  choldc(dirty, n, pd);
  for (int i = 1; i <= n; ++i) {
    EXPECT_EQ(pc[i], pd[i]);
    for (int j = 1; j < i; ++j) EXPECT_EQ(clean[i][j], dirty[i][j]);
  }
  // And the factor reproduces M: L L^T = M.
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= i; ++j) {
      double sum = 0.0;
      for (int k = 1; k <= j; ++k) {
        double lik = k == i ? pc[i] : clean[i][k];
        double ljk = k == j ? pc[j] : clean[j][k];
        sum += lik * ljk;
      }
      EXPECT_NEAR(sum, m[j - 1][i - 1], 1e-12) << i << "," << j;
    }
  }
  ReleaseDmatrix(clean, 1, n, 1, n);
  ReleaseDmatrix(dirty, 1, n, 1, n);
  ReleaseDvector(pc, 1, n);
  ReleaseDvector(pd, 1, n);
}

TEST(Choldc, OrderZeroDoesNothing) {
  DMatrix a = dmatrix(1, 0, 1, 0);
  DVector p = dvector(1, 0);
  choldc(a, 0, p);
  ReleaseDmatrix(a, 1, 0, 1, 0);
  ReleaseDvector(p, 1, 0);
}

TEST(Choldc, NonPositivePivotsThrow) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::string message = "Numerical Recipes: choldc failed";
  EXPECT_EQ(FactoriseFailure(1, {0.0}), message);
  EXPECT_EQ(FactoriseFailure(1, {-1.0}), message);
  EXPECT_EQ(FactoriseFailure(1, {nan}), message);
  EXPECT_EQ(FactoriseFailure(2, {1, 2, 2, 1}), message);  // second pivot 1 - 4
}
