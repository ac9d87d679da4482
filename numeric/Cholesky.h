// Cholesky factorisation of a symmetric positive definite matrix, in place.
#pragma once

#include "numeric/Arrays.h"

// choldc: factorises M = L L^T row by row over the upper triangle.
//
// a (input/output) dmatrix 1..n x 1..n. On entry the upper triangle,
//   diagonal included, holds M; entries below the diagonal are not read. On
//   return the strictly lower triangle holds the strictly lower part of L
//   (a[j][i] = L[j][i], j > i); the diagonal and upper triangle still hold M.
// n (input) order, n >= 0; n = 0 does nothing.
// p (output) dvector 1..n, receives the diagonal of L.
//
// A pivot that is not strictly positive (zero, negative or NaN) means M is
// not positive definite: the run ends through NumericalError with
// "choldc failed". Allocates nothing.
void choldc(const DMatrix& a, int n, const DVector& p);
