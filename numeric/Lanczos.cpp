#include "numeric/Lanczos.h"

#include <algorithm>
#include <cmath>

#include "numeric/Svd.h"
#include "numeric/VectorClones.h"

namespace {

// Lanczos vectors kept before a restart from the Ritz vector. With full
// reorthogonalisation a basis of this size costs 48 m doubles and about
// 48^2 m operations per cycle beside its 48 products with K.
constexpr int kBasisSize = 48;
// Restarts before the exact decomposition takes over.
constexpr int kMaxCycles = 40;
// The tridiagonal matrix's Ritz pair is examined every this many vectors.
constexpr int kCheckEvery = 6;
// Converged: ||K x - theta x|| <= kTolerance * theta. The axis's angle to the
// true eigenvector is then at most kTolerance over the relative eigengap,
// and the eigenvalue's error about the square of that.
constexpr double kTolerance = 1e-12;
// A new Lanczos vector shorter than this share of the largest diagonal
// entry of the tridiagonal matrix means the basis spans an invariant
// subspace: the next vector is taken from the unit vectors.
constexpr double kBreakdown = 1e-13;

double Dot(const double* a, const double* b, int m) {
  double sum = 0.0;
  for (int i = 0; i < m; ++i) sum += a[i] * b[i];
  return sum;
}

// y = K x, each entry summed in ascending column order. K is exactly
// symmetric, so entry i's terms K[i][j] x[j] are also K[j][i] x[j]: the
// entries run side by side down K's rows, each sum in its own order.
TARVOK_VECTOR_CLONES void Multiply(const DMatrix& K, int m, const double* x, double* y) {
  SumRowMultiples(m, [&](int j) { return &K[j][0]; }, [&](int j) { return x[j]; }, 0, m, y);
}

// Removes from w its components along basis rows 0..count-1, twice over
// (classical Gram-Schmidt repeated keeps the basis orthogonal to rounding).
void Orthogonalise(const Matrix& Q, int count, double* w, int m) {
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < count; ++i) {
      const double* q = &Q[i][0];
      double c = Dot(q, w, m);
      for (int t = 0; t < m; ++t) w[t] -= c * q[t];
    }
  }
}

}  // namespace

LanczosWorkspace::LanczosWorkspace(int m)
    : order_(m), basis_(std::min(m, kBasisSize)), Q(std::max(basis_, 1), std::max(m, 1)),
      alpha(std::max(basis_, 1)), beta(std::max(basis_, 1)), w(std::max(m, 1)), x(std::max(m, 1)),
      kx(std::max(m, 1)) {}

void LeadingAxisLanczos(const DMatrix& K, int m, const DVector& start, const DVector& axis,
                        double* eigenvalue, LanczosWorkspace& workspace) {
  if (m < 1) {
    *eigenvalue = 0.0;
    return;
  }
  if (m > workspace.order_) NumericalError("LeadingAxisLanczos: workspace too small");
  LanczosWorkspace& ws = workspace;
  const int p = std::min(m, ws.basis_);
  double* x = ws.x.Data();
  double* w = ws.w.Data();
  double* kx = ws.kx.Data();
  if (start.data != nullptr) {
    for (int i = 0; i < m; ++i) x[i] = start[i];
  } else {
    for (int i = 0; i < m; ++i) x[i] = std::sqrt(std::fmax(K[i][i], 0.0));
  }
  double norm = std::sqrt(Dot(x, x, m));
  Vector y(p);
  bool converged = false;
  double theta = 0.0;
  for (int cycle = 0; cycle < kMaxCycles && norm > 0.0 && !converged; ++cycle) {
    for (int i = 0; i < m; ++i) ws.Q[0][i] = x[i] / norm;
    double largestAlpha = 0.0;
    int nextUnit = 0;  // unit vectors tried after a breakdown, in order
    int size = 0;
    bool ritzFresh = false;  // y and theta belong to the basis of `size` vectors
    auto ritz = [&] {
      Matrix T(size, size);
      for (int i = 0; i < size; ++i) {
        T[i][i] = ws.alpha[i];
        if (i + 1 < size) T[i][i + 1] = T[i + 1][i] = ws.beta[i];
      }
      LeadingAxis(T, size, y, &theta);
      ritzFresh = true;
    };
    for (int j = 0; j < p; ++j) {
      ritzFresh = false;
      const double* q = &ws.Q[j][0];
      Multiply(K, m, q, w);
      ws.alpha[j] = Dot(q, w, m);
      largestAlpha = std::fmax(largestAlpha, std::fabs(ws.alpha[j]));
      Orthogonalise(ws.Q, j + 1, w, m);
      double b = std::sqrt(Dot(w, w, m));
      size = j + 1;
      if (size < p && b <= kBreakdown * largestAlpha) {
        // Invariant subspace: continue the basis with the first unit vector
        // not (nearly) inside it; the tridiagonal matrix splits there.
        b = 0.0;
        double length = 0.0;
        while (nextUnit < m && length <= 0.5) {
          for (int t = 0; t < m; ++t) w[t] = t == nextUnit ? 1.0 : 0.0;
          ++nextUnit;
          Orthogonalise(ws.Q, j + 1, w, m);
          length = std::sqrt(Dot(w, w, m));
        }
        if (length <= 0.5) {
          ws.beta[j] = 0.0;
          break;  // the basis spans everything: the Ritz pair is exact
        }
        ws.beta[j] = 0.0;
        for (int t = 0; t < m; ++t) ws.Q[j + 1][t] = w[t] / length;
        continue;
      }
      ws.beta[j] = b;
      if (size % kCheckEvery == 0 || size == p) {
        ritz();
        double estimate = std::fabs(ws.beta[size - 1] * y[size - 1]);
        if (estimate <= kTolerance * theta || size == p) break;
      }
      if (size < p) {
        for (int t = 0; t < m; ++t) ws.Q[j + 1][t] = w[t] / b;
      }
    }
    if (!ritzFresh) ritz();
    // The Ritz vector, its Rayleigh quotient and its true residual.
    for (int t = 0; t < m; ++t) x[t] = 0.0;
    for (int i = 0; i < size; ++i) {
      const double* q = &ws.Q[i][0];
      double c = y[i];
      for (int t = 0; t < m; ++t) x[t] += c * q[t];
    }
    norm = std::sqrt(Dot(x, x, m));
    if (!(norm > 0.0)) break;
    for (int t = 0; t < m; ++t) x[t] /= norm;
    norm = 1.0;
    Multiply(K, m, x, kx);
    theta = Dot(x, kx, m);
    double residual = 0.0;
    for (int t = 0; t < m; ++t) {
      double r = kx[t] - theta * x[t];
      residual += r * r;
    }
    converged = theta > 0.0 && std::sqrt(residual) <= kTolerance * theta;
  }
  if (!converged) {
    LeadingAxis(K, m, axis, eigenvalue);
    return;
  }
  // Sign: the first entry of largest magnitude is made negative.
  int largest = 0;
  for (int t = 1; t < m; ++t) {
    if (std::fabs(x[t]) > std::fabs(x[largest])) largest = t;
  }
  const double sign = x[largest] > 0.0 ? -1.0 : 1.0;
  for (int t = 0; t < m; ++t) axis[t] = sign * x[t];
  *eigenvalue = theta;
}
