// Singular value decomposition and the leading axis of a symmetric matrix.
//
// svdcmp is the Golub-Reinsch algorithm (Householder bidiagonalisation,
// accumulation of both transformations, implicit-shift QR sweeps) with fixed
// conventions: singular values are left unsorted in the order the iteration
// leaves them, negative ones are made positive by negating the column of V,
// and every sum runs in ascending index order from 0.0. The signs of the
// singular vectors therefore come out the same on every run and platform;
// the shaving sequence relies on them.
#pragma once

#include "numeric/Arrays.h"

// svdcmp: decomposes a = U diag(w) V^T in place; U overwrites the input.
//   a  (in/out) dmatrix [1..m][1..n], m >= n; on return holds U (m x n).
//   m, n (in)   row and column counts.
//   w  (out)    dvector [1..n], the singular values, none negative, unsorted.
//   v  (out)    dmatrix [1..n][1..n], V itself (not its transpose).
// Fatal (NumericalError) when m < n, when a value does not converge within
// 30 tests, or when the work vector cannot be allocated.
void svdcmp(const DMatrix& a, int m, int n, const DVector& w, const DMatrix& v);

// LeadingAxis: largest singular value of the symmetric matrix K (its largest
// eigenvalue when K is positive semi-definite) and the negated matching
// column of U, a unit vector.
//   K         (in)  dmatrix [0..m-1][0..m-1], symmetric, not modified.
//   m         (in)  order of K; for m < 1 the eigenvalue is 0 and axis untouched.
//   axis      (out) dvector [0..m-1].
//   eigenvalue (out) the chosen singular value.
void LeadingAxis(const DMatrix& K, int m, const DVector& axis, double* eigenvalue);

// LeadingAxes: LeadingAxis of count independent matrices of order m, K[t]
// giving axis[t] and eigenvalue[t], the same bits as one call each. Their
// QR sweeps run two at a time, the chases of a pair in turn: each chase is
// a chain of dependent divisions and square roots, and two chains keep the
// core busier than one.
// scratch, when given, holds count work areas (sized here as needed) that
// a caller decomposing one matrix after another keeps: the large ones are
// then neither allocated nor cleared at every call.
struct AxisScratch {
  Matrix a;  // the matrix, then U by rows
  Vector w, e, work;
  Vector u;  // U by columns
  void Ensure(int order);
};
void LeadingAxes(const DMatrix* K, int count, int m, const DVector* axis, double* eigenvalue,
                 AxisScratch* const* scratch = nullptr);
