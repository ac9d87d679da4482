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

// The Krylov basis of one restart: K of order m and the workspace's
// arrays for at most p Lanczos vectors (rows of Q), the tridiagonal
// matrix's diagonal alpha and off-diagonal beta, and the next vector w.
struct Krylov {
  const DMatrix& K;
  int m, p;
  const Matrix& Q;
  const DVector& alpha;
  const DVector& beta;
  double* w;
};

// The Ritz pair of the leading `size` x `size` tridiagonal matrix: its
// largest eigenvalue theta and unit eigenvector y.
void TridiagonalRitz(const Krylov& k, int size, const DVector& y, double* theta) {
  Matrix T(size, size);
  for (int i = 0; i < size; ++i) {
    T[i][i] = k.alpha[i];
    if (i + 1 < size) T[i][i + 1] = T[i + 1][i] = k.beta[i];
  }
  LeadingAxis(T, size, y, theta);
}

// After a breakdown at basis row j (the rows so far span an invariant
// subspace): continues the basis in row j + 1 with the first unit vector,
// from *nextUnit on, not (nearly) inside it, orthogonalised; the
// tridiagonal matrix splits there. False when there is none: the basis
// spans everything and its Ritz pair is exact.
bool ContinueFromUnitVector(const Krylov& k, int j, int* nextUnit) {
  double* w = k.w;
  double length = 0.0;
  while (*nextUnit < k.m && length <= 0.5) {
    for (int t = 0; t < k.m; ++t) w[t] = t == *nextUnit ? 1.0 : 0.0;
    ++*nextUnit;
    Orthogonalise(k.Q, j + 1, w, k.m);
    length = std::sqrt(Dot(w, w, k.m));
  }
  if (length <= 0.5) return false;
  for (int t = 0; t < k.m; ++t) k.Q[j + 1][t] = w[t] / length;
  return true;
}

// One restart's Lanczos iteration from the unit vector q_0 in Q's row 0:
// alpha[j] = q_j^T K q_j, and q_{j+1} is K q_j orthogonalised against
// q_0..q_j, beta[j] its length, then made unit. Every kCheckEvery vectors
// the Ritz pair is formed; the iteration stops once its residual estimate
// |beta[size-1] y[size-1]| is within kTolerance * theta, or the basis is
// full. Returns the basis size; y and theta are that basis's Ritz pair.
int LanczosBasis(const Krylov& k, const DVector& y, double* theta) {
  const int m = k.m;
  const int p = k.p;
  double* w = k.w;
  double largestAlpha = 0.0;
  int nextUnit = 0;  // unit vectors tried after a breakdown, in order
  int size = 0;
  bool ritzFresh = false;  // y and theta belong to the basis of `size` vectors
  for (int j = 0; j < p; ++j) {
    ritzFresh = false;
    const double* q = &k.Q[j][0];
    Multiply(k.K, m, q, w);
    k.alpha[j] = Dot(q, w, m);
    largestAlpha = std::fmax(largestAlpha, std::fabs(k.alpha[j]));
    Orthogonalise(k.Q, j + 1, w, m);
    double b = std::sqrt(Dot(w, w, m));
    size = j + 1;
    if (size < p && b <= kBreakdown * largestAlpha) {  // an invariant subspace
      k.beta[j] = 0.0;
      if (!ContinueFromUnitVector(k, j, &nextUnit)) break;
      continue;
    }
    k.beta[j] = b;
    if (size % kCheckEvery == 0 || size == p) {
      TridiagonalRitz(k, size, y, theta);
      ritzFresh = true;
      double estimate = std::fabs(k.beta[size - 1] * y[size - 1]);
      if (estimate <= kTolerance * *theta || size == p) break;
    }
    if (size < p) {
      for (int t = 0; t < m; ++t) k.Q[j + 1][t] = w[t] / b;
    }
  }
  if (!ritzFresh) TridiagonalRitz(k, size, y, theta);
  return size;
}

// x = the Ritz vector, sum over i of y[i] times basis row i in ascending i,
// made unit length. Returns its length before (not > 0: x is left as summed).
double RitzVector(const Krylov& k, const DVector& y, int size, double* x) {
  const int m = k.m;
  for (int t = 0; t < m; ++t) x[t] = 0.0;
  for (int i = 0; i < size; ++i) {
    const double* q = &k.Q[i][0];
    double c = y[i];
    for (int t = 0; t < m; ++t) x[t] += c * q[t];
  }
  const double norm = std::sqrt(Dot(x, x, m));
  if (!(norm > 0.0)) return norm;
  for (int t = 0; t < m; ++t) x[t] /= norm;
  return norm;
}

// For unit x: theta = x^T K x, its Rayleigh quotient (kx = K x), and
// whether its true residual ||K x - theta x|| is within kTolerance * theta.
bool RayleighConverged(const Krylov& k, const double* x, double* kx, double* theta) {
  Multiply(k.K, k.m, x, kx);
  *theta = Dot(x, kx, k.m);
  double residual = 0.0;
  for (int t = 0; t < k.m; ++t) {
    double r = kx[t] - *theta * x[t];
    residual += r * r;
  }
  return *theta > 0.0 && std::sqrt(residual) <= kTolerance * *theta;
}

// axis = x, negated unless its first entry of largest magnitude is negative.
void SignedAxis(const double* x, int m, const DVector& axis) {
  int largest = 0;
  for (int t = 1; t < m; ++t) {
    if (std::fabs(x[t]) > std::fabs(x[largest])) largest = t;
  }
  const double sign = x[largest] > 0.0 ? -1.0 : 1.0;
  for (int t = 0; t < m; ++t) axis[t] = sign * x[t];
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
  const Krylov krylov{K, m, std::min(m, ws.basis_), ws.Q, ws.alpha, ws.beta, ws.w.Data()};
  double* x = ws.x.Data();
  if (start.data != nullptr) {
    for (int i = 0; i < m; ++i) x[i] = start[i];
  } else {
    for (int i = 0; i < m; ++i) x[i] = std::sqrt(std::fmax(K[i][i], 0.0));
  }
  double norm = std::sqrt(Dot(x, x, m));
  Vector y(krylov.p);
  bool converged = false;
  double theta = 0.0;
  // Each cycle builds a basis from x and restarts from its Ritz vector,
  // until that vector's true residual is small enough.
  for (int cycle = 0; cycle < kMaxCycles && norm > 0.0 && !converged; ++cycle) {
    for (int i = 0; i < m; ++i) ws.Q[0][i] = x[i] / norm;
    const int size = LanczosBasis(krylov, y, &theta);
    norm = RitzVector(krylov, y, size, x);
    if (!(norm > 0.0)) break;
    norm = 1.0;
    converged = RayleighConverged(krylov, x, ws.kx.Data(), &theta);
  }
  if (!converged) {
    LeadingAxis(K, m, axis, eigenvalue);
    return;
  }
  SignedAxis(x, m, axis);
  *eigenvalue = theta;
}
