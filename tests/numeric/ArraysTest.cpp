#include "numeric/Arrays.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "tests/support/ChildProcess.h"

TEST(Arrays, FreshArraysAreZeroAndIndexedByTheirBounds) {
  DVector v = dvector(1, 5);
  IVector iv = ivector(-2, 2);
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(v[i], 0.0);
  for (int i = -2; i <= 2; ++i) EXPECT_EQ(iv[i], 0);
  v[5] = 3.0;
  EXPECT_EQ(v.data[4], 3.0);
  ReleaseDvector(v, 1, 5);
  ReleaseIvector(iv, -2, 2);

  DMatrix m = dmatrix(1, 3, 1, 4);
  for (int i = 1; i <= 3; ++i)
    for (int j = 1; j <= 4; ++j) EXPECT_EQ(m[i][j], 0.0);
  m[2][4] = 7.0;
  DVector row = m[2];  // a row serves as a dvector over the column range
  EXPECT_EQ(row[4], 7.0);
  EXPECT_EQ(m[3][1], 0.0);
  ReleaseDmatrix(m, 1, 3, 1, 4);

  CVector labels = cvector(3);
  PVector table = pvector(4);
  for (int i = 0; i < 3; ++i) EXPECT_STREQ(labels[i], "");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(table[i].data, nullptr);
  ReleaseCvector(labels, 3);
  ReleasePvector(table);
}

TEST(Arrays, EmptyRangesAreValidAndReleasable) {
  DVector v = dvector(0, -1);
  IVector iv = ivector(5, 4);
  DMatrix noRows = dmatrix(0, -1, 0, 3);
  DMatrix noCols = dmatrix(0, 2, 0, -1);
  CVector none = cvector(0);
  EXPECT_NE(v.data, nullptr);
  EXPECT_NE(noCols[2].data, nullptr);
  CenterRows(noCols, 3, 0);  // nothing to do, must not divide
  ReleaseDvector(v, 0, -1);
  ReleaseIvector(iv, 5, 4);
  ReleaseDmatrix(noRows, 0, -1, 0, 3);
  ReleaseDmatrix(noCols, 0, 2, 0, -1);
  ReleaseCvector(none, 0);
}

TEST(CenterRows, RowsEndWithZeroMean) {
  DMatrix m = dmatrix(0, 1, 0, 2);
  m[0][0] = 1; m[0][1] = 2; m[0][2] = 6;
  m[1][0] = -4; m[1][1] = 0.5; m[1][2] = 1e10;
  CenterRows(m, 2, 3);
  EXPECT_EQ(m[0][0], -2.0);
  EXPECT_EQ(m[0][1], -1.0);
  EXPECT_EQ(m[0][2], 3.0);
  EXPECT_NEAR(m[1][0] + m[1][1] + m[1][2], 0.0, 1e-5);
  ReleaseDmatrix(m, 0, 1, 0, 2);

  DMatrix one = dmatrix(0, 1, 0, 0);
  one[0][0] = 3.5; one[1][0] = -1;
  CenterRows(one, 2, 1);
  EXPECT_EQ(one[0][0], 0.0);
  EXPECT_EQ(one[1][0], 0.0);
  ReleaseDmatrix(one, 0, 1, 0, 0);
}

// Each allocator's failure message, seen as the user sees it.
struct FailureCase {
  const char* what;
  long nth;  // which allocation from now fails
  void (*allocate)();
};

TEST(Arrays, AllocationFailuresThrowTheirMessages) {
  const FailureCase cases[] = {
      {"allocation failure in dvector()", 1, [] { dvector(0, 9); }},
      {"allocation failure in ivector()", 1, [] { ivector(0, 9); }},
      {"allocation failure 1 in dmatrix()", 1, [] { dmatrix(0, 2, 0, 2); }},
      {"allocation failure 2 in dmatrix()", 2, [] { dmatrix(0, 2, 0, 2); }},
      {"allocation failure 1 in cvector", 1, [] { cvector(5); }},
      {"allocation failure 2 in cvector", 4, [] { cvector(5); }},  // third string
      {"allocation failure in pvector()", 1, [] { pvector(3); }},
  };
  // Run in a child so that a leak on the failure path would show under the
  // leak checker as the child's own failure.
  for (const FailureCase& c : cases) {
    ChildResult r = RunInChild([&] {
      FailAllocationForTesting(c.nth);
      std::printf("%s", ErrorMessage(c.allocate).c_str());
    });
    EXPECT_EQ(r.exitStatus, 0) << c.what << r.err;
    EXPECT_EQ(r.out, std::string("Numerical Recipes: ") + c.what);
  }
}

TEST(Arrays, ReversedRangeIsAnAllocationFailureNotAHugeRequest) {
  EXPECT_EQ(ErrorMessage([] { dvector(0, -5); }), "Numerical Recipes: allocation failure in dvector()");
}

TEST(Arrays, OwnersKnowTheirShapeAndMoveTheirStorage) {
  Matrix m(1, 3, 0, 4);
  EXPECT_EQ(m.Rows(), 3);
  EXPECT_EQ(m.Cols(), 5);
  m[3][4] = 7.0;
  Matrix moved = std::move(m);
  EXPECT_EQ(moved[3][4], 7.0);
  EXPECT_EQ(static_cast<const DMatrix&>(m).rows, nullptr);
  Vector v(1, 4);
  EXPECT_EQ(v.Size(), 4);
  v[4] = 2.0;
  Vector w;
  w = std::move(v);
  EXPECT_EQ(w[4], 2.0);
}
