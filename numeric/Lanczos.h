// The leading eigenpair of a symmetric positive semi-definite matrix by
// restarted Lanczos with full reorthogonalisation: the fast alternative to
// LeadingAxis (numeric/Svd.h) for the shaving steps of large sample counts.
#pragma once

#include "numeric/Arrays.h"

// Reusable scratch of LeadingAxisLanczos for matrices of order up to m: the
// Krylov basis and its tridiagonal matrix. One per sequence; never shared
// between threads.
class LanczosWorkspace {
 public:
  explicit LanczosWorkspace(int m);
  int Order() const { return order_; }
  int BasisSize() const { return basis_; }

 private:
  friend void LeadingAxisLanczos(const DMatrix&, int, const DVector&, const DVector&, double*,
                                 LanczosWorkspace&);
  int order_, basis_;
  Matrix Q;          // basis_ x order_: the Lanczos vectors
  Vector alpha, beta, w, x, kx;
};

// LeadingAxisLanczos: the largest eigenvalue of K and a unit eigenvector.
//   K          (in)  dmatrix [0..m-1][0..m-1], symmetric positive semi-definite.
//   m          (in)  order of K, 1..workspace.Order(); for m < 1 eigenvalue 0.
//   start      (in)  dvector [0..m-1], the warm start (the previous step's
//                    axis), or data == nullptr for the default start, the
//                    square roots of K's diagonal.
//   axis       (out) dvector [0..m-1], unit length; may be start itself.
//   eigenvalue (out) the Rayleigh quotient axis^T K axis.
// Deterministic: fixed start, fixed basis size and restart rule, every sum
// in ascending index order from 0.0. Converged when ||K axis - eigenvalue
// axis|| <= 1e-12 eigenvalue. Sign: the entry of largest magnitude (the
// first of equal ones) is negative. When the iteration does not converge in
// its cycles, or K is zero, the exact LeadingAxis answers instead (its own
// sign then stands).
void LeadingAxisLanczos(const DMatrix& K, int m, const DVector& start, const DVector& axis,
                        double* eigenvalue, LanczosWorkspace& workspace);
