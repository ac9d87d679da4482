#include "numeric/Svd.h"

#include <cmath>
#include "numeric/VectorClones.h"

namespace {

// Margin of the largest-value scan in LeadingAxis: 2^-52, absolute.
constexpr double kAxisMargin = 2.220446049250313e-16;

constexpr int kMaxPasses = 30;

// sqrt(p^2 + q^2) without overflow or destructive underflow: the larger
// magnitude times sqrt(1 + (smaller/larger)^2); 0 when both are 0.
double Hypotenuse(double p, double q) {
  double absP = std::fabs(p);
  double absQ = std::fabs(q);
  if (absP > absQ) {
    double ratio = absQ / absP;
    return absP * std::sqrt(1.0 + ratio * ratio);
  }
  if (absQ == 0.0) return 0.0;
  double ratio = absP / absQ;
  return absQ * std::sqrt(1.0 + ratio * ratio);
}

// |x| with the sign of f; a zero f (either sign) counts as positive.
double SignOf(double x, double f) { return f >= 0.0 ? std::fabs(x) : -std::fabs(x); }

// Column rotation on a matrix held by columns (column j, 1-based, at
// x + (j - 1) * rows): replaces, in every row, the entries (P, Q) of columns
// p and q by (P c + Q s, Q c - P s). Held this way the two columns are
// contiguous and every row is an independent lane doing the same
// operations, so vectorised code gives the same bits.
TARVOK_VECTOR_CLONES void RotateColumns(double* x, int rows, int p, int q, double c, double s) {
  double* colP = x + static_cast<long>(p - 1) * rows;
  double* colQ = x + static_cast<long>(q - 1) * rows;
  for (int r = 0; r < rows; ++r) {
    double P = colP[r];
    double Q = colQ[r];
    colP[r] = P * c + Q * s;
    colQ[r] = Q * c - P * s;
  }
}

// Copies a 1-based rows x cols DMatrix into column-major storage and back.
void ToColumns(const DMatrix& a, int rows, int cols, double* x) {
  for (int r = 1; r <= rows; ++r)
    for (int j = 1; j <= cols; ++j) x[static_cast<long>(j - 1) * rows + (r - 1)] = a[r][j];
}

void FromColumns(const double* x, int rows, int cols, const DMatrix& a) {
  for (int r = 1; r <= rows; ++r)
    for (int j = 1; j <= cols; ++j) a[r][j] = x[static_cast<long>(j - 1) * rows + (r - 1)];
}

// Householder reduction of a to upper bidiagonal form: the diagonal goes to
// w, the superdiagonal to e (e[1] = 0), the reflectors stay in a. Returns the
// norm bound, the largest |w[i]| + |e[i]|.
TARVOK_VECTOR_CLONES double Bidiagonalise(const DMatrix& a, int m, int n, const DVector& w, const DVector& e,
                     const DVector& work) {
  double normBound = 0.0;
  for (int i = 1; i <= n; ++i) {
    // Column reflector on a[i..m][i].
    double scale = 0.0;
    for (int k = i; k <= m; ++k) scale += std::fabs(a[k][i]);
    if (scale == 0.0) {
      w[i] = 0.0;
    } else {
      double s = 0.0;
      for (int k = i; k <= m; ++k) {
        a[k][i] /= scale;
        s += a[k][i] * a[k][i];
      }
      double f = a[i][i];
      double g = -SignOf(std::sqrt(s), f);
      double h = f * g - s;
      a[i][i] = f - g;
      // All column dot products in one sweep down the rows (each still
      // summed over k in ascending order), then all column updates.
      // Rows store column 1 at offset 0; dot[] is 0-based the same way.
      double* dot = work.data;
      for (int j = i; j < n; ++j) dot[j] = 0.0;
      for (int k = i; k <= m; ++k) {
        const double* row = a[k].data;
        double aki = row[i - 1];
        for (int j = i; j < n; ++j) dot[j] += row[j] * aki;
      }
      for (int j = i; j < n; ++j) dot[j] = dot[j] / h;
      for (int k = i; k <= m; ++k) {
        double* row = a[k].data;
        double aki = row[i - 1];
        for (int j = i; j < n; ++j) row[j] += dot[j] * aki;
      }
      for (int k = i; k <= m; ++k) a[k][i] *= scale;
      w[i] = scale * g;
    }

    // Row reflector on a[i][i+1..n]. e[i+2..n] are free until later rows set
    // them, so e[i+1..n] holds the quotients a[i][k] / h while the rows below
    // are updated; e[i+1] then receives its final value.
    if (i < n) {
      const DVector& rowI = a[i];
      double scaleRow = 0.0;
      for (int k = i + 1; k <= n; ++k) scaleRow += std::fabs(rowI[k]);
      if (scaleRow == 0.0) {
        e[i + 1] = 0.0;
      } else {
        double s = 0.0;
        for (int k = i + 1; k <= n; ++k) {
          rowI[k] /= scaleRow;
          s += rowI[k] * rowI[k];
        }
        double f = rowI[i + 1];
        double g = -SignOf(std::sqrt(s), f);
        double h = f * g - s;
        rowI[i + 1] = f - g;
        for (int k = i + 1; k <= n; ++k) e[k] = rowI[k] / h;
        for (int j = i + 1; j <= m; ++j) {
          const DVector& rowJ = a[j];
          double dot = 0.0;
          for (int k = i + 1; k <= n; ++k) dot += rowJ[k] * rowI[k];
          for (int k = i + 1; k <= n; ++k) rowJ[k] += dot * e[k];
        }
        for (int k = i + 1; k <= n; ++k) rowI[k] *= scaleRow;
        e[i + 1] = scaleRow * g;
      }
    }

    double bound = std::fabs(w[i]) + std::fabs(e[i]);
    if (bound > normBound) normBound = bound;
  }
  return normBound;
}

// Builds V from the row reflectors kept in a and the superdiagonal e.
void AccumulateRight(const DMatrix& a, int n, const DVector& e, const DMatrix& v) {
  for (int i = n; i >= 1; --i) {
    if (i < n) {
      if (e[i + 1] != 0.0) {
        // Two successive divisions, not one by the product: avoids underflow.
        for (int j = i + 1; j <= n; ++j) v[j][i] = (a[i][j] / a[i][i + 1]) / e[i + 1];
        for (int j = i + 1; j <= n; ++j) {
          double t = 0.0;
          for (int k = i + 1; k <= n; ++k) t += a[i][k] * v[k][j];
          for (int k = i + 1; k <= n; ++k) v[k][j] += t * v[k][i];
        }
      }
      for (int j = i + 1; j <= n; ++j) v[i][j] = v[j][i] = 0.0;
    }
    v[i][i] = 1.0;
  }
}

// Builds U over a from the column reflectors kept in a and the diagonal w.
TARVOK_VECTOR_CLONES void AccumulateLeft(const DMatrix& a, int m, int n, const DVector& w, const DVector& work) {
  for (int i = n; i >= 1; --i) {
    for (int j = i + 1; j <= n; ++j) a[i][j] = 0.0;
    if (w[i] != 0.0) {
      double q = 1.0 / w[i];
      // Column i is not changed while columns i+1..n are updated, so all
      // their sums can be formed in one sweep down the rows (each over k in
      // ascending order) before any column is updated. Offsets as in
      // Bidiagonalise: column j of a row at index j - 1.
      double* f = work.data;
      for (int j = i; j < n; ++j) f[j] = 0.0;
      for (int k = i + 1; k <= m; ++k) {
        const double* row = a[k].data;
        double aki = row[i - 1];
        for (int j = i; j < n; ++j) f[j] += aki * row[j];
      }
      double aii = a[i][i];
      for (int j = i; j < n; ++j) f[j] = (f[j] / aii) * q;
      for (int k = i; k <= m; ++k) {
        double* row = a[k].data;
        double aki = row[i - 1];
        for (int j = i; j < n; ++j) row[j] += f[j] * aki;
      }
      for (int k = i; k <= m; ++k) a[k][i] *= q;
    } else {
      for (int k = i; k <= m; ++k) a[k][i] = 0.0;
    }
    a[i][i] += 1.0;
  }
}

// Diagonalises the bidiagonal form (w, e) by implicit-shift QR sweeps,
// applying every rotation to U (m x n, held by columns in u) and, when v is
// not null, to V (n x n, held by columns in v).
void Diagonalise(double* u, int m, int n, const DVector& w, const DVector& e, double* v,
                 double normBound) {
  // Negligible: adding it to the norm bound changes nothing.
  auto negligible = [normBound](double q) { return std::fabs(q) + normBound == normBound; };

  for (int k = n; k >= 1; --k) {
    for (int pass = 1; pass <= kMaxPasses; ++pass) {
      // Split point l: e[l] negligible, or w[l-1] negligible (then cancel).
      // l = 1 always stops the scan (e[1] = 0); it is not tested, so a norm
      // bound that is not a number never leads to reading w[0].
      int l = k;
      bool cancel = false;
      for (; l >= 2; --l) {
        if (negligible(e[l])) break;
        if (negligible(w[l - 1])) {
          cancel = true;
          break;
        }
      }

      if (cancel) {
        int nm = l - 1;
        double c = 0.0;
        double s = 1.0;
        for (int i = l; i <= k; ++i) {
          double f = s * e[i];
          e[i] = c * e[i];
          if (negligible(f)) break;
          double g = w[i];
          double h = Hypotenuse(f, g);
          w[i] = h;
          double r = 1.0 / h;
          c = g * r;
          s = -f * r;
          RotateColumns(u, m, nm, i, c, s);
        }
      }

      double z = w[k];
      if (l == k) {
        if (z < 0.0) {
          w[k] = -z;
          if (v != nullptr) {
            double* column = v + static_cast<long>(k - 1) * n;
            for (int j = 0; j < n; ++j) column[j] = -column[j];
          }
        }
        break;
      }
      if (pass == kMaxPasses) NumericalError("No convergence in 30 SVDCMP iterations");

      // Shift from the trailing 2 x 2 block.
      double x = w[l];
      double y = w[k - 1];
      double g = e[k - 1];
      double h = e[k];
      double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
      double r = Hypotenuse(f, 1.0);
      f = ((x - z) * (x + z) + h * ((y / (f + SignOf(r, f))) - h)) / x;

      // Chase the bulge down the block with Givens rotations.
      double c = 1.0;
      double s = 1.0;
      for (int j = l; j <= k - 1; ++j) {
        int i = j + 1;
        g = e[i];
        y = w[i];
        h = s * g;
        g = c * g;
        z = Hypotenuse(f, h);
        e[j] = z;
        c = f / z;
        s = h / z;
        f = x * c + g * s;
        g = g * c - x * s;
        h = y * s;
        y = y * c;
        if (v != nullptr) RotateColumns(v, n, j, i, c, s);
        z = Hypotenuse(f, h);
        w[j] = z;
        if (z != 0.0) {
          double rz = 1.0 / z;
          c = f * rz;
          s = h * rz;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        RotateColumns(u, m, j, i, c, s);
      }
      e[l] = 0.0;
      e[k] = f;
      w[k] = x;
    }
  }
}

// The decomposition itself; V is formed only when v.rows is set. U and w do
// not depend on V, so LeadingAxis, which needs only them, skips its cost.
void Decompose(const DMatrix& a, int m, int n, const DVector& w, const DMatrix& v) {
  if (m < n) NumericalError("SVDCMP: You must augment A with extra zero rows");
  const bool withV = v.rows != nullptr;
  Vector e(1, n);
  Vector work(1, n);
  double normBound = Bidiagonalise(a, m, n, w, e, work);
  if (withV) AccumulateRight(a, n, e, v);
  AccumulateLeft(a, m, n, w, work);
  // The QR sweeps rotate whole columns: work on column-major copies.
  Vector u(0, m * n - 1);
  Vector vc = withV ? Vector(0, n * n - 1) : Vector();
  ToColumns(a, m, n, u.Data());
  if (withV) ToColumns(v, n, n, vc.Data());
  Diagonalise(u.Data(), m, n, w, e, vc.Data(), normBound);
  FromColumns(u.Data(), m, n, a);
  if (withV) FromColumns(vc.Data(), n, n, v);
}

}  // namespace

void svdcmp(const DMatrix& a, int m, int n, const DVector& w, const DMatrix& v) {
  Decompose(a, m, n, w, v);
}

void LeadingAxis(const DMatrix& K, int m, const DVector& axis, double* eigenvalue) {
  if (m < 1) {
    *eigenvalue = 0.0;
    return;
  }
  Vector w(1, m);
  Matrix u(1, m, 1, m);
  for (int i = 0; i < m; ++i)
    for (int j = 0; j < m; ++j) u[i + 1][j + 1] = K[i][j];

  Decompose(u, m, m, w, DMatrix{});

  // Largest value by ascending scan. A later value replaces the current
  // maximum only when it exceeds it by more than 2^-52 (strict >), so among
  // equal largest values, or values that differ by rounding noise only, the
  // first index wins and the choice does not flip on the last bit.
  int best = 1;
  double largest = w[1];
  for (int i = 2; i <= m; ++i) {
    if (w[i] - largest > kAxisMargin) {
      largest = w[i];
      best = i;
    }
  }

  *eigenvalue = w[best];
  // The negated column: exact zeros come out as -0.0.
  for (int i = 0; i < m; ++i) axis[i] = -u[i + 1][best];
}
