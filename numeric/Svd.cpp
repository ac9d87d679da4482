#include "numeric/Svd.h"

#include <cmath>
#include <utility>
#include "numeric/VectorClones.h"

namespace {

// Margin of the largest-value scan in LeadingAxis: 2^-52, absolute.
constexpr double kAxisMargin = 2.220446049250313e-16;

constexpr int kMaxPasses = 30;

// Up to this many rows of U, the QR sweeps apply a chase's rotations during
// the next chase (see Diagonalise).
constexpr int kInterleaveRows = 256;

// sqrt(p^2 + q^2) without overflow or destructive underflow: the larger
// magnitude times sqrt(1 + (smaller/larger)^2); 0 when both are 0. |p| is
// the larger only when strictly so (then the ratio is |q| / |p|), else |q|
// is, also when either is not a number. The choice is made by selection,
// not by a branch: it changes unpredictably from one rotation to the next,
// and it sits on the chain of a chase's rotations.
double Hypotenuse(double p, double q) {
  const double absP = std::fabs(p);
  const double absQ = std::fabs(q);
  const bool pLarger = absP > absQ;
  const double larger = pLarger ? absP : absQ;
  const double smaller = pLarger ? absQ : absP;
  if (larger == 0.0) return 0.0;
  const double ratio = smaller / larger;
  return larger * std::sqrt(1.0 + ratio * ratio);
}

// |x| with the sign of f; a zero f (either sign) counts as positive.
double SignOf(double x, double f) { return f >= 0.0 ? std::fabs(x) : -std::fabs(x); }

// Column rotation on a matrix held by columns (column j, 1-based, at
// x + (j - 1) * rows): replaces, in every row, the entries (P, Q) of columns
// p and q by (P c + Q s, Q c - P s). Held this way the two columns are
// contiguous and every row is an independent lane doing the same
// operations, so vectorised code gives the same bits.
[[gnu::always_inline]] inline void RotateColumnPair(double* x, int rows, int p, int q, double c, double s) {
  double* colP = x + static_cast<long>(p - 1) * rows;
  double* colQ = x + static_cast<long>(q - 1) * rows;
  for (int r = 0; r < rows; ++r) {
    double P = colP[r];
    double Q = colQ[r];
    colP[r] = P * c + Q * s;
    colQ[r] = Q * c - P * s;
  }
}

TARVOK_VECTOR_CLONES void RotateColumns(double* x, int rows, int p, int q, double c, double s) {
  RotateColumnPair(x, rows, p, q, c, s);
}

// Rotations (j, j + 1) by c[j], s[j] for j = jFrom..jTo-1, in that order,
// on the rows row0..row0+width-1 of x (held by columns as in RotateColumns,
// stride rows apart). Column j + 1 of one rotation is column j of the next,
// so the rows carry it in registers from one rotation to the next instead
// of storing and reloading it, and store it in column jTo at the end, as
// the last rotation would: each entry sees the same operations as with
// RotateColumns, one rotation after another.
[[gnu::always_inline]] inline void RotateRows(double* x, long stride, int row0, int width, int jFrom, int jTo,
                                              const double* c, const double* s) {
  double* from = x + (jFrom - 1) * stride + row0;
  double* to = x + (jTo - 1) * stride + row0;
  int r = 0;
  if (width == 16) {
    Lanes4 P0 = LoadLanes(from), P1 = LoadLanes(from + 4), P2 = LoadLanes(from + 8), P3 = LoadLanes(from + 12);
    double* colP = from;
    for (int j = jFrom; j < jTo; ++j, colP += stride) {
      const double cj = c[j];
      const double sj = s[j];
      Lanes4 Q0 = LoadLanes(colP + stride);
      Lanes4 Q1 = LoadLanes(colP + stride + 4);
      Lanes4 Q2 = LoadLanes(colP + stride + 8);
      Lanes4 Q3 = LoadLanes(colP + stride + 12);
      StoreLanes(colP, P0 * cj + Q0 * sj);
      StoreLanes(colP + 4, P1 * cj + Q1 * sj);
      StoreLanes(colP + 8, P2 * cj + Q2 * sj);
      StoreLanes(colP + 12, P3 * cj + Q3 * sj);
      P0 = Q0 * cj - P0 * sj;
      P1 = Q1 * cj - P1 * sj;
      P2 = Q2 * cj - P2 * sj;
      P3 = Q3 * cj - P3 * sj;
    }
    StoreLanes(to, P0);
    StoreLanes(to + 4, P1);
    StoreLanes(to + 8, P2);
    StoreLanes(to + 12, P3);
    return;
  }
  for (; r + 4 <= width; r += 4) {
    Lanes4 P = LoadLanes(from + r);
    double* colP = from + r;
    for (int j = jFrom; j < jTo; ++j, colP += stride) {
      Lanes4 Q = LoadLanes(colP + stride);
      StoreLanes(colP, P * c[j] + Q * s[j]);
      P = Q * c[j] - P * s[j];
    }
    StoreLanes(to + r, P);
  }
  for (; r < width; ++r) {
    double P = from[r];
    double* colP = from + r;
    for (int j = jFrom; j < jTo; ++j, colP += stride) {
      double Q = colP[stride];
      *colP = P * c[j] + Q * s[j];
      P = Q * c[j] - P * s[j];
    }
    to[r] = P;
  }
}

// Rows per block of RotateRows.
constexpr int kRotationRows = 16;

// The rotations (j, j + 1), j = first..last-1, applied to every row of x,
// a block of rows at a time.
TARVOK_VECTOR_CLONES void RotateColumnChain(double* x, int rows, int first, int last, const double* c,
                                                     const double* s) {
  for (int row0 = 0; row0 < rows; row0 += kRotationRows)
    RotateRows(x, rows, row0, rows - row0 < kRotationRows ? rows - row0 : kRotationRows, first, last, c, s);
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

// The column sums of a reflector: out[j] = sum over the rows k = from..to,
// in ascending order, of row_k[j] * row_k[col], for the offsets j0 <= j < j1
// (column j + 1 of a row sits at offset j). With `resume` the sums continue
// from the values in out, so a sweep may be split into consecutive blocks
// of rows.
template <bool resume = false>
[[gnu::always_inline]] inline void ColumnSums(const DMatrix& a, int from, int to, int col, int j0, int j1,
                                              double* out) {
  const DVector* rows = &a[from];
  SumRowMultiples<resume>(
      to - from + 1, [rows](int k) { return rows[k].data; }, [rows, col](int k) { return rows[k].data[col]; },
      j0, j1, out);
}

// row[j] += f[j] * row[col] for the offsets j0 <= j < j1.
[[gnu::always_inline]] inline void AddColumnMultiple(double* row, int col, int j0, int j1, const double* f) {
  double x = row[col];
  for (int j = j0; j < j1; ++j) row[j] += f[j] * x;
}

// The row reflector on count consecutive rows from `first`: each row's dot
// product with v over the offsets j0 <= j < j1, then row[j] += dot * e[j].
// With f, each row first takes the column reflector, row[j] += f[j] *
// row[col], in the same sweep as its dot product.
[[gnu::always_inline]] inline void ReflectRows(const DMatrix& a, int first, int count, const double* f, int col,
                                               const double* v, const double* e, int j0, int j1) {
  double* rows[16];
  double dot[16];
  double x[16];
  for (int r = 0; r < count; ++r) {
    rows[r] = a[first + r].data;
    x[r] = rows[r][col];
  }
  if (f != nullptr) {
    RowDots(rows, count, v, j0, j1, dot, RowUpdate{f, x});
  } else {
    RowDots(rows, count, v, j0, j1, dot);
  }
  for (int r = 0; r < count; ++r) {
    double* row = rows[r];
    const double d = dot[r];
    for (int j = j0; j < j1; ++j) row[j] += d * e[j];
  }
}

// Householder reduction of a to upper bidiagonal form: the diagonal goes to
// w, the superdiagonal to e (e[1] = 0), the reflectors stay in a. Returns the
// norm bound, the largest |w[i]| + |e[i]|.
//
// Step i updates the rows below i by the column reflector and then by the
// row reflector. Neither reads what the other writes in another row, so
// each row takes both in turn while it is in cache; every entry still sees
// the same operations in the same order as with two full passes.
TARVOK_VECTOR_CLONES double Bidiagonalise(const DMatrix& a, int m, int n, const DVector& w, const DVector& e,
                                          const DVector& work) {
  double normBound = 0.0;
  // Rows store column 1 at offset 0; dot[] and ev[] are 0-based the same way.
  double* dot = work.data;
  double* ev = &e[1];
  for (int i = 1; i <= n; ++i) {
    // Column reflector on a[i..m][i].
    double scale = 0.0;
    double gColumn = 0.0;
    for (int k = i; k <= m; ++k) scale += std::fabs(a[k][i]);
    const bool columnReflector = scale != 0.0;
    if (columnReflector) {
      double s = 0.0;
      for (int k = i; k <= m; ++k) {
        a[k][i] /= scale;
        s += a[k][i] * a[k][i];
      }
      double f = a[i][i];
      gColumn = -SignOf(std::sqrt(s), f);
      double h = f * gColumn - s;
      a[i][i] = f - gColumn;
      ColumnSums(a, i, m, i - 1, i, n, dot);
      for (int j = i; j < n; ++j) dot[j] = dot[j] / h;
      AddColumnMultiple(a[i].data, i - 1, i, n, dot);
    } else {
      w[i] = 0.0;
    }

    // Row reflector on a[i][i+1..n]. e[i+2..n] are free until later rows set
    // them, so e[i+1..n] holds the quotients a[i][k] / h while the rows below
    // are updated; e[i+1] then receives its final value.
    bool rowReflector = false;
    double scaleRow = 0.0;
    double gRow = 0.0;
    const DVector& rowI = a[i];
    if (i < n) {
      for (int k = i + 1; k <= n; ++k) scaleRow += std::fabs(rowI[k]);
      rowReflector = scaleRow != 0.0;
      if (rowReflector) {
        double s = 0.0;
        for (int k = i + 1; k <= n; ++k) {
          rowI[k] /= scaleRow;
          s += rowI[k] * rowI[k];
        }
        double f = rowI[i + 1];
        gRow = -SignOf(std::sqrt(s), f);
        double h = f * gRow - s;
        rowI[i + 1] = f - gRow;
        for (int k = i + 1; k <= n; ++k) e[k] = rowI[k] / h;
      } else {
        e[i + 1] = 0.0;
      }
    }

    // The rows below, a few at a time: column reflector, then row reflector.
    for (int first = i + 1; first <= m; first += 16) {
      const int count = first + 15 <= m ? 16 : m - first + 1;
      if (rowReflector) {
        ReflectRows(a, first, count, columnReflector ? dot : nullptr, i - 1, rowI.data, ev, i, n);
      } else if (columnReflector) {
        for (int r = 0; r < count; ++r) AddColumnMultiple(a[first + r].data, i - 1, i, n, dot);
      }
    }

    if (rowReflector) {
      for (int k = i + 1; k <= n; ++k) rowI[k] *= scaleRow;
      e[i + 1] = scaleRow * gRow;
    }
    if (columnReflector) {
      for (int k = i; k <= m; ++k) a[k][i] *= scale;
      w[i] = scale * gColumn;
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

// For the rows first..last in order: row[j] += f[j] * row[col], then
// next[j] += row[j] * row[weight], for the offsets j0 <= j < j1. Sixteen
// offsets' f and sums stay in registers while the rows pass, and each
// updated entry enters its sum before it is stored.
[[gnu::always_inline]] inline void UpdateRowsAndSum(const DMatrix& a, int first, int last, int col, int weight,
                                                    int j0, int j1, const double* f, double* next) {
  int j = j0;
  for (; j + 16 <= j1; j += 16) {
    const Lanes4 f0 = LoadLanes(f + j), f1 = LoadLanes(f + j + 4), f2 = LoadLanes(f + j + 8),
                 f3 = LoadLanes(f + j + 12);
    Lanes4 s0 = LoadLanes(next + j), s1 = LoadLanes(next + j + 4), s2 = LoadLanes(next + j + 8),
           s3 = LoadLanes(next + j + 12);
    for (int k = first; k <= last; ++k) {
      double* row = a[k].data;
      const double x = row[col];
      const double y = row[weight];
      double* r = row + j;
      const Lanes4 r0 = LoadLanes(r) + f0 * x, r1 = LoadLanes(r + 4) + f1 * x, r2 = LoadLanes(r + 8) + f2 * x,
                   r3 = LoadLanes(r + 12) + f3 * x;
      StoreLanes(r, r0);
      StoreLanes(r + 4, r1);
      StoreLanes(r + 8, r2);
      StoreLanes(r + 12, r3);
      s0 += r0 * y;
      s1 += r1 * y;
      s2 += r2 * y;
      s3 += r3 * y;
    }
    StoreLanes(next + j, s0);
    StoreLanes(next + j + 4, s1);
    StoreLanes(next + j + 8, s2);
    StoreLanes(next + j + 12, s3);
  }
  for (; j + 4 <= j1; j += 4) {
    const Lanes4 fj = LoadLanes(f + j);
    Lanes4 sum = LoadLanes(next + j);
    for (int k = first; k <= last; ++k) {
      double* row = a[k].data;
      const Lanes4 r = LoadLanes(row + j) + fj * row[col];
      StoreLanes(row + j, r);
      sum += r * row[weight];
    }
    StoreLanes(next + j, sum);
  }
  for (; j < j1; ++j) {
    double sum = next[j];
    for (int k = first; k <= last; ++k) {
      double* row = a[k].data;
      row[j] += f[j] * row[col];
      sum += row[j] * row[weight];
    }
    next[j] = sum;
  }
}

// Builds U over a from the column reflectors kept in a and the diagonal w.
//
// Step i sums columns i+1..n against column i over the rows below i, then
// updates rows i..m. Step i - 1 sums over rows i..m what step i leaves
// there, against column i - 1, which step i does not change: so the sweep
// that updates a block of rows for step i also adds the block's terms to
// step i - 1's sums while the rows are in cache, in the same ascending row
// order. One pass over the rows per step instead of two.
TARVOK_VECTOR_CLONES void AccumulateLeft(const DMatrix& a, int m, int n, const DVector& w, const DVector& work) {
  // Offsets as in Bidiagonalise: column j + 1 of a row at offset j. f holds
  // step i's sums, next step i - 1's.
  double* f = work.data;
  double* next = work.data + n;
  for (int j = 0; j < n; ++j) f[j] = 0.0;
  for (int i = n; i >= 1; --i) {
    for (int j = i + 1; j <= n; ++j) a[i][j] = 0.0;
    const bool reflect = w[i] != 0.0;
    const double q = reflect ? 1.0 / w[i] : 0.0;
    if (reflect) {
      double aii = a[i][i];
      for (int j = i; j < n; ++j) f[j] = (f[j] / aii) * q;
    }
    // Step i - 1 sums offsets i-1..n-1 against offset i-2, over rows i..m.
    const bool sumNext = i > 1 && w[i - 1] != 0.0;
    for (int j = i - 1; j < n; ++j) next[j] = 0.0;
    for (int first = i; first <= m; first += 16) {
      const int last = first + 15 <= m ? first + 15 : m;
      // Offsets i..n-1: the update, and with it the next step's sums.
      if (reflect && sumNext) {
        UpdateRowsAndSum(a, first, last, i - 1, i - 2, i, n, f, next);
      } else if (reflect) {
        for (int k = first; k <= last; ++k) AddColumnMultiple(a[k].data, i - 1, i, n, f);
      } else if (sumNext) {
        ColumnSums<true>(a, first, last, i - 2, i, n, next);
      }
      // Offset i - 1, column i itself: scaled (or cleared), a[i][i] += 1.
      double sum = next[i - 1];
      for (int k = first; k <= last; ++k) {
        double* row = a[k].data;
        row[i - 1] = reflect ? row[i - 1] * q : 0.0;
        if (k == i) row[i - 1] += 1.0;
        if (sumNext) sum += row[i - 1] * row[i - 2];
      }
      next[i - 1] = sum;
    }
    double* t = f;
    f = next;
    next = t;
  }
}

// Where a chase records its rotations: c and s of U's, then of V's, each
// indexed by j - 1 for the rotation (j, j + 1).
struct ChaseRotations {
  double* uc;
  double* us;
  double* vc;
  double* vs;
};

// One chase of the bulge down the block l..k of the bidiagonal form (w,
// e) with Givens rotations, from the shift's f and x (left as the chase
// ends them), recording its rotations. With each of its steps it applies
// to U one of the rotations (j, j + 1) by pc[j - 1], ps[j - 1] still
// pending, j = pendingFrom onwards, in order: the chase is a chain of
// divisions and square roots, each waiting for the one before, and a
// rotation of U, which does not depend on it, fills the idle time. In one
// function with the chase, compiled in several versions, the rotation
// takes no call.
TARVOK_VECTOR_CLONES void ChaseBulge(const DVector& w, const DVector& e, int l, int k, double& fInOut,
                                     double& xInOut, ChaseRotations rot, double* u, int m, const double* pc,
                                     const double* ps, int& pendingFrom, int pendingTo) {
  double f = fInOut;
  double x = xInOut;
  double c = 1.0;
  double s = 1.0;
  int pending = pendingFrom;
  for (int j = l; j <= k - 1; ++j) {
    int i = j + 1;
    double g = e[i];
    double y = w[i];
    double h = s * g;
    g = c * g;
    double z = Hypotenuse(f, h);
    e[j] = z;
    c = f / z;
    s = h / z;
    f = x * c + g * s;
    g = g * c - x * s;
    h = y * s;
    y = y * c;
    rot.vc[j - 1] = c;
    rot.vs[j - 1] = s;
    z = Hypotenuse(f, h);
    w[j] = z;
    if (z != 0.0) {
      double rz = 1.0 / z;
      c = f * rz;
      s = h * rz;
    }
    f = c * g + s * y;
    x = c * y - s * g;
    rot.uc[j - 1] = c;
    rot.us[j - 1] = s;
    if (pending < pendingTo) {
      RotateColumnPair(u, m, pending, pending + 1, pc[pending - 1], ps[pending - 1]);
      ++pending;
    }
  }
  pendingFrom = pending;
  fInOut = f;
  xInOut = x;
}

// Diagonalises the bidiagonal form (w, e) by implicit-shift QR sweeps,
// applying every rotation to U (m x n, held by columns in u) and, when v is
// not null, to V (n x n, held by columns in v). The sweeps read only w and
// e, so a chase records its rotations (rot: six arrays of n: c and s for U,
// for V, and for U's previous chase) and applies them later, a block of
// rows at a time.
//
// A chase is a chain of divisions and square roots, each waiting for the
// one before, which leaves most of the core idle. For narrow U the rotations
// of the previous chase are applied to U one column pair at a time during
// the next chase, one with each of its steps, in the order they were made:
// they do not depend on it and fill that idle time. What is left of them is
// applied when the chase ends, before any rotation of its own.
// Not itself compiled in several versions: a failure thrown from a
// function called through the loader's choice of version would end the
// process instead of reaching the caller.
void Diagonalise(double* u, int m, int n, const DVector& w, const DVector& e, double* v, double normBound,
                 double* rot) {
  double* uc = rot;
  double* us = rot + n;
  double* vc = rot + 2 * n;
  double* vs = rot + 3 * n;
  double* pc = rot + 4 * n;
  double* ps = rot + 5 * n;
  // U's rotations still to apply: (j, j + 1) by pc[j - 1], ps[j - 1] for
  // j = pendingFrom..pendingTo-1.
  int pendingFrom = 0;
  int pendingTo = 0;
  const bool interleave = m <= kInterleaveRows;
  auto flushPending = [&] {
    if (pendingFrom < pendingTo) RotateColumnChain(u, m, pendingFrom, pendingTo, pc - 1, ps - 1);
    pendingFrom = pendingTo = 0;
  };
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
        flushPending();
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
      ChaseBulge(w, e, l, k, f, x, ChaseRotations{uc, us, vc, vs}, u, m, pc, ps, pendingFrom, pendingTo);
      if (v != nullptr) RotateColumnChain(v, n, l, k, vc - 1, vs - 1);
      flushPending();
      if (interleave) {
        std::swap(uc, pc);
        std::swap(us, ps);
        pendingFrom = l;
        pendingTo = k;
      } else {
        RotateColumnChain(u, m, l, k, uc - 1, us - 1);
      }
      e[l] = 0.0;
      e[k] = f;
      w[k] = x;
    }
  }
  flushPending();
}

// The decomposition itself; V is formed only when v.rows is set. U and w do
// not depend on V, so LeadingAxis, which needs only them, skips its cost.
void Decompose(const DMatrix& a, int m, int n, const DVector& w, const DMatrix& v) {
  if (m < n) NumericalError("SVDCMP: You must augment A with extra zero rows");
  const bool withV = v.rows != nullptr;
  Vector e(1, n);
  Vector work(1, 7 * n);
  double normBound = Bidiagonalise(a, m, n, w, e, work);
  if (withV) AccumulateRight(a, n, e, v);
  AccumulateLeft(a, m, n, w, work);
  // The QR sweeps rotate whole columns: work on column-major copies.
  Vector u(0, m * n - 1);
  Vector vc = withV ? Vector(0, n * n - 1) : Vector();
  ToColumns(a, m, n, u.Data());
  if (withV) ToColumns(v, n, n, vc.Data());
  Diagonalise(u.Data(), m, n, w, e, vc.Data(), normBound, work.Data() + n);
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
