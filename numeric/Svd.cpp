#include "numeric/Svd.h"

#include <cmath>
#include <memory>
#include <utility>
#include <vector>
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
// Into columns, four rows by four columns are transposed in registers at a
// time, so that the stores go four entries at once.
TARVOK_VECTOR_CLONES void ToColumns(const DMatrix& a, int rows, int cols, double* x) {
  int r = 1;
  for (; r + 3 <= rows; r += 4) {
    const double* in[4] = {&a[r][1], &a[r + 1][1], &a[r + 2][1], &a[r + 3][1]};
    double* out = x + (r - 1);
    int j = 0;
    for (; j + 4 <= cols; j += 4) {
      const Lanes4 block[4] = {LoadLanes(in[0] + j), LoadLanes(in[1] + j), LoadLanes(in[2] + j),
                               LoadLanes(in[3] + j)};
      Lanes4 column[4];
      TransposeLanes(block, column);
      for (int q = 0; q < 4; ++q) StoreLanes(out + static_cast<long>(j + q) * rows, column[q]);
    }
    for (; j < cols; ++j)
      for (int q = 0; q < 4; ++q) out[static_cast<long>(j) * rows + q] = in[q][j];
  }
  for (; r <= rows; ++r)
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

// For the rows first..last in order: row[j] += f[j] * x, x = factor(k,
// row) for row k, then next[j] += row[j] * row[weight], for the offsets
// j0 <= j < j1. Sixteen offsets' f and sums stay in registers while the
// rows pass, and each updated entry enters its sum before it is stored.
template <class Factor>
[[gnu::always_inline]] inline void UpdateRowsAndSum(const DMatrix& a, int first, int last, Factor factor,
                                                    int weight, int j0, int j1, const double* f, double* next) {
  int j = j0;
  for (; j + 16 <= j1; j += 16) {
    const Lanes4 f0 = LoadLanes(f + j), f1 = LoadLanes(f + j + 4), f2 = LoadLanes(f + j + 8),
                 f3 = LoadLanes(f + j + 12);
    Lanes4 s0 = LoadLanes(next + j), s1 = LoadLanes(next + j + 4), s2 = LoadLanes(next + j + 8),
           s3 = LoadLanes(next + j + 12);
    for (int k = first; k <= last; ++k) {
      double* row = a[k].data;
      const double x = factor(k, row);
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
      const Lanes4 r = LoadLanes(row + j) + fj * factor(k, row);
      StoreLanes(row + j, r);
      sum += r * row[weight];
    }
    StoreLanes(next + j, sum);
  }
  for (; j < j1; ++j) {
    double sum = next[j];
    for (int k = first; k <= last; ++k) {
      double* row = a[k].data;
      row[j] += f[j] * factor(k, row);
      sum += row[j] * row[weight];
    }
    next[j] = sum;
  }
}

// The row reflector's dot products on count (<= 16) consecutive rows from
// `first`: each row's dot product with v over the offsets j0 <= j < j1 into
// dot[0..count-1]. With f, each row first takes the column reflector,
// row[j] += f[j] * row[col], in the same sweep as its dot product.
[[gnu::always_inline]] inline void ReflectorDots(const DMatrix& a, int first, int count, const double* f, int col,
                                                 const double* v, int j0, int j1, double* dot) {
  double* rows[16];
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
}

// Step i's column reflector on a[i..m][i], up to its column sums: the
// column scaled by the sum of its magnitudes and the reflector formed in
// place. Leaves scale 0 (and nothing else done) for a zero column.
struct ColumnReflector {
  double scale = 0.0;
  double g = 0.0;
  double h = 0.0;
};

[[gnu::always_inline]] inline ColumnReflector FormColumnReflector(const DMatrix& a, int m, int i) {
  ColumnReflector c;
  for (int k = i; k <= m; ++k) c.scale += std::fabs(a[k][i]);
  if (c.scale == 0.0) return c;
  double s = 0.0;
  for (int k = i; k <= m; ++k) {
    a[k][i] /= c.scale;
    s += a[k][i] * a[k][i];
  }
  double f = a[i][i];
  c.g = -SignOf(std::sqrt(s), f);
  c.h = f * c.g - s;
  a[i][i] = f - c.g;
  return c;
}

// Householder reduction of a to upper bidiagonal form: the diagonal goes to
// w, the superdiagonal to e (e[1] = 0), the reflectors stay in a. Returns the
// norm bound, the largest |w[i]| + |e[i]|. work: at least 2 n + m entries.
//
// Step i updates the rows below i by the column reflector and then by the
// row reflector, whose dot products need each row's whole update by the
// first. So one sweep applies the column reflector and takes the dot
// products; then column i + 1 takes its row reflector alone, and step
// i + 1's column reflector is formed from it; and a second sweep applies
// the row reflector to the rest of each row and adds the updated entries
// to step i + 1's column sums while they are in registers. Every entry
// sees the same operations in the same order as with one full pass per
// reflector and one for the sums.
TARVOK_VECTOR_CLONES double Bidiagonalise(const DMatrix& a, int m, int n, const DVector& w, const DVector& e,
                                          const DVector& work) {
  double normBound = 0.0;
  // Rows store column 1 at offset 0; dot[], next[] and ev[] are 0-based the
  // same way; rowDot[r] belongs to row i + 1 + r.
  double* dot = work.data;
  double* next = work.data + n;
  double* rowDot = work.data + 2 * n;
  double* ev = &e[1];
  e[1] = 0.0;
  // Step i's column reflector, when step i - 1 formed it and summed it.
  bool ahead = false;
  ColumnReflector column;
  for (int i = 1; i <= n; ++i) {
    if (!ahead) {
      column = FormColumnReflector(a, m, i);
      if (column.scale != 0.0) ColumnSums(a, i, m, i - 1, i, n, dot);
    }
    const ColumnReflector current = column;
    const bool columnReflector = current.scale != 0.0;
    if (columnReflector) {
      for (int j = i; j < n; ++j) dot[j] = dot[j] / current.h;
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

    // The rows below, 16 at a time.
    ahead = false;
    if (rowReflector) {
      const double* f = columnReflector ? dot : nullptr;
      for (int first = i + 1; first <= m; first += 16) {
        const int count = first + 15 <= m ? 16 : m - first + 1;
        ReflectorDots(a, first, count, f, i - 1, rowI.data, i, n, rowDot + (first - i - 1));
      }
      // Column i + 1 (offset i), then step i + 1's column reflector from it.
      for (int k = i + 1; k <= m; ++k) a[k].data[i] += rowDot[k - i - 1] * ev[i];
      const ColumnReflector following = FormColumnReflector(a, m, i + 1);
      auto factor = [rowDot, i](int k, const double*) { return rowDot[k - i - 1]; };
      if (following.scale != 0.0) {
        for (int j = i + 1; j < n; ++j) next[j] = 0.0;
        for (int first = i + 1; first <= m; first += 16) {
          const int last = first + 15 <= m ? first + 15 : m;
          UpdateRowsAndSum(a, first, last, factor, i, i + 1, n, ev, next);
        }
        std::swap(dot, next);
      } else {
        for (int k = i + 1; k <= m; ++k) {
          double* row = a[k].data;
          const double d = rowDot[k - i - 1];
          for (int j = i + 1; j < n; ++j) row[j] += d * ev[j];
        }
      }
      column = following;
      ahead = true;
    } else if (columnReflector) {
      for (int k = i + 1; k <= m; ++k) AddColumnMultiple(a[k].data, i - 1, i, n, dot);
    }

    if (rowReflector) {
      for (int k = i + 1; k <= n; ++k) rowI[k] *= scaleRow;
      e[i + 1] = scaleRow * gRow;
    }
    if (columnReflector) {
      for (int k = i; k <= m; ++k) a[k][i] *= current.scale;
      w[i] = current.scale * current.g;
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
        const int col = i - 1;
        UpdateRowsAndSum(a, first, last, [col](int, const double* row) { return row[col]; }, i - 2, i, n, f, next);
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

// The QR sweeps of one bidiagonal form (w, e), between chases and during
// one: U (m x n, held by columns in u) and, when v is not null, V (n x n,
// held by columns in v) take every rotation. rot holds six arrays of n: c
// and s of a chase's rotations of U, of V, and of U's previous chase, each
// indexed by j - 1 for the rotation (j, j + 1).
struct Sweeps {
  double* u = nullptr;
  int m = 0;
  int n = 0;
  DVector w, e;
  double* v = nullptr;
  double normBound = 0.0;
  double *uc, *us, *vc, *vs, *pc, *ps;
  // U's rotations still to apply: (j, j + 1) by pc[j - 1], ps[j - 1] for
  // j = pendingFrom..pendingTo-1.
  int pendingFrom = 0;
  int pendingTo = 0;
  bool interleave = false;
  // The value being found and its pass.
  int k = 0;
  int pass = 1;
  // The chase under way: its block l..k, its next step j, and the chain's
  // f, x, c and s.
  int l = 0;
  int j = 0;
  double f = 0.0, x = 0.0, c = 1.0, s = 1.0;

  Sweeps(double* uIn, int mIn, int nIn, const DVector& wIn, const DVector& eIn, double* vIn, double bound,
         double* rot)
      : u(uIn), m(mIn), n(nIn), w(wIn), e(eIn), v(vIn), normBound(bound), uc(rot), us(rot + nIn),
        vc(rot + 2 * nIn), vs(rot + 3 * nIn), pc(rot + 4 * nIn), ps(rot + 5 * nIn),
        interleave(mIn <= kInterleaveRows), k(nIn) {}
};

void FlushPending(Sweeps& q) {
  if (q.pendingFrom < q.pendingTo) RotateColumnChain(q.u, q.m, q.pendingFrom, q.pendingTo, q.pc - 1, q.ps - 1);
  q.pendingFrom = q.pendingTo = 0;
}

// Runs the tests and cancellations between chases until the next chase is
// set up (true) or every value has converged (false, the pending rotations
// applied).
bool StartChase(Sweeps& q) {
  const DVector& w = q.w;
  const DVector& e = q.e;
  // Negligible: adding it to the norm bound changes nothing.
  const double normBound = q.normBound;
  auto negligible = [normBound](double t) { return std::fabs(t) + normBound == normBound; };
  for (; q.k >= 1; --q.k, q.pass = 1) {
    const int k = q.k;
    for (;;) {
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
        FlushPending(q);
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
          RotateColumns(q.u, q.m, nm, i, c, s);
        }
      }

      double z = w[k];
      if (l == k) {
        if (z < 0.0) {
          w[k] = -z;
          if (q.v != nullptr) {
            double* column = q.v + static_cast<long>(k - 1) * q.n;
            for (int j = 0; j < q.n; ++j) column[j] = -column[j];
          }
        }
        break;
      }
      if (q.pass == kMaxPasses) NumericalError("No convergence in 30 SVDCMP iterations");

      // Shift from the trailing 2 x 2 block.
      double x = w[l];
      double y = w[k - 1];
      double g = e[k - 1];
      double h = e[k];
      double f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
      double r = Hypotenuse(f, 1.0);
      q.f = ((x - z) * (x + z) + h * ((y / (f + SignOf(r, f))) - h)) / x;
      q.x = x;
      q.c = 1.0;
      q.s = 1.0;
      q.l = l;
      q.j = l;
      return true;
    }
  }
  FlushPending(q);
  return false;
}

// After a chase: its rotations of V, and those of U, which wait for the
// next chase when U is narrow; then the block's new ends.
void FinishChase(Sweeps& q) {
  if (q.v != nullptr) RotateColumnChain(q.v, q.n, q.l, q.k, q.vc - 1, q.vs - 1);
  FlushPending(q);
  if (q.interleave) {
    std::swap(q.uc, q.pc);
    std::swap(q.us, q.ps);
    q.pendingFrom = q.l;
    q.pendingTo = q.k;
  } else {
    RotateColumnChain(q.u, q.m, q.l, q.k, q.uc - 1, q.us - 1);
  }
  q.e[q.l] = 0.0;
  q.e[q.k] = q.f;
  q.w[q.k] = q.x;
  ++q.pass;
}

// A chase in registers: what its steps read and the chain they carry.
struct Chase {
  double* w;  // w[i] at w[i - 1]
  double* e;
  double *uc, *us, *vc, *vs;
  const double *pc, *ps;
  double* u;
  int m;
  int j, k, pending, pendingTo;
  double f, x, c, s;
};

Chase LoadChase(const Sweeps& q) {
  return Chase{q.w.data + (1 - q.w.lo), q.e.data + (1 - q.e.lo), q.uc, q.us, q.vc, q.vs, q.pc, q.ps, q.u, q.m,
               q.j, q.k, q.pendingFrom, q.pendingTo, q.f, q.x, q.c, q.s};
}

void StoreChase(const Chase& ch, Sweeps& q) {
  q.j = ch.j;
  q.pendingFrom = ch.pending;
  q.f = ch.f;
  q.x = ch.x;
  q.c = ch.c;
  q.s = ch.s;
}

// One step of a chase of the bulge down the block l..k with Givens
// rotations, recording them. A PendingStep goes with each: the chase is a
// chain of divisions and square roots, each waiting for the one before, and
// a rotation of U, which does not depend on it, fills the idle time.
[[gnu::always_inline]] inline void ChaseStep(Chase& ch) {
  const int j = ch.j;
  const int i = j + 1;
  double g = ch.e[i - 1];
  double y = ch.w[i - 1];
  double h = ch.s * g;
  g = ch.c * g;
  double z = Hypotenuse(ch.f, h);
  ch.e[j - 1] = z;
  double c = ch.f / z;
  double s = h / z;
  double f = ch.x * c + g * s;
  g = g * c - ch.x * s;
  h = y * s;
  y = y * c;
  ch.vc[j - 1] = c;
  ch.vs[j - 1] = s;
  z = Hypotenuse(f, h);
  ch.w[j - 1] = z;
  if (z != 0.0) {
    double rz = 1.0 / z;
    c = f * rz;
    s = h * rz;
  }
  ch.f = c * g + s * y;
  ch.x = c * y - s * g;
  ch.c = c;
  ch.s = s;
  ch.uc[j - 1] = c;
  ch.us[j - 1] = s;
  ch.j = i;
}

// The next rotation of U still pending, if any.
[[gnu::always_inline]] inline void PendingStep(Chase& ch) {
  if (ch.pending < ch.pendingTo) {
    RotateColumnPair(ch.u, ch.m, ch.pending, ch.pending + 1, ch.pc[ch.pending - 1], ch.ps[ch.pending - 1]);
    ++ch.pending;
  }
}

// Runs the chase under way to its end. In one function with the chase,
// compiled in several versions, U's rotation takes no call.
TARVOK_VECTOR_CLONES void RunChase(Sweeps& q) {
  Chase ch = LoadChase(q);
  while (ch.j < ch.k) {
    ChaseStep(ch);
    PendingStep(ch);
  }
  StoreChase(ch, q);
}

// Runs the chases under way of two independent forms, a step of each in
// turn, until one of them ends: two chains for the core to overlap. The two
// steps come before their rotations of U, so that they stay close enough
// for the core to work on both at once. Each form sees the same operations
// in the same order as alone.
TARVOK_VECTOR_CLONES void RunChases(Sweeps& a, Sweeps& b) {
  Chase ca = LoadChase(a);
  Chase cb = LoadChase(b);
  while (ca.j < ca.k && cb.j < cb.k) {
    ChaseStep(ca);
    ChaseStep(cb);
    PendingStep(ca);
    PendingStep(cb);
  }
  StoreChase(ca, a);
  StoreChase(cb, b);
}

// Diagonalises count (1 or 2) independent bidiagonal forms by implicit-shift
// QR sweeps, applying every rotation to their U and V. The sweeps read only
// w and e, so a chase records its rotations and applies them later, a block
// of rows at a time. For narrow U the rotations of the previous chase are
// applied one column pair at a time during the next chase (PendingStep);
// what is left of them is applied when the chase ends, before any rotation
// of its own. Two forms chase in turn while both have a chase under way.
// Not itself compiled in several versions: a failure thrown from a
// function called through the loader's choice of version would end the
// process instead of reaching the caller.
void Diagonalise(Sweeps* forms, int count) {
  bool live[2] = {StartChase(forms[0]), count > 1 && StartChase(forms[1])};
  if (count > 1) {
    while (live[0] && live[1]) {
      RunChases(forms[0], forms[1]);
      for (int t = 0; t < 2; ++t) {
        if (forms[t].j == forms[t].k) {
          FinishChase(forms[t]);
          live[t] = StartChase(forms[t]);
        }
      }
    }
  }
  for (int t = 0; t < count; ++t) {
    while (live[t]) {
      RunChase(forms[t]);
      FinishChase(forms[t]);
      live[t] = StartChase(forms[t]);
    }
  }
}

// The decomposition itself; V is formed only when v.rows is set. U and w do
// not depend on V, so LeadingAxis, which needs only them, skips its cost.
void Decompose(const DMatrix& a, int m, int n, const DVector& w, const DMatrix& v) {
  if (m < n) NumericalError("SVDCMP: You must augment A with extra zero rows");
  const bool withV = v.rows != nullptr;
  Vector e(1, n);
  Vector work(1, 7 * n + m);
  double normBound = Bidiagonalise(a, m, n, w, e, work);
  if (withV) AccumulateRight(a, n, e, v);
  AccumulateLeft(a, m, n, w, work);
  // The QR sweeps rotate whole columns: work on column-major copies.
  Vector u(0, m * n - 1);
  Vector vc = withV ? Vector(0, n * n - 1) : Vector();
  ToColumns(a, m, n, u.Data());
  if (withV) ToColumns(v, n, n, vc.Data());
  Sweeps form(u.Data(), m, n, w, e, vc.Data(), normBound, work.Data() + n);
  Diagonalise(&form, 1);
  FromColumns(u.Data(), m, n, a);
  if (withV) FromColumns(vc.Data(), n, n, v);
}

}  // namespace

void svdcmp(const DMatrix& a, int m, int n, const DVector& w, const DMatrix& v) {
  Decompose(a, m, n, w, v);
}

void AxisScratch::Ensure(int order) {
  if (w.Size() == order) return;
  a = Matrix(1, order, 1, order);
  w = Vector(1, order);
  e = Vector(1, order);
  work = Vector(1, 7 * order);
  u = Vector(0, order * order - 1);
}

void LeadingAxes(const DMatrix* K, int count, int m, const DVector* axis, double* eigenvalue,
                 AxisScratch* const* scratch) {
  if (m < 1) {
    for (int t = 0; t < count; ++t) eigenvalue[t] = 0.0;
    return;
  }
  std::vector<std::unique_ptr<AxisScratch>> own;
  std::vector<AxisScratch*> forms;
  std::vector<Sweeps> sweeps;
  for (int t = 0; t < count; ++t) {
    if (scratch == nullptr) own.push_back(std::make_unique<AxisScratch>());
    forms.push_back(scratch != nullptr ? scratch[t] : own.back().get());
    AxisScratch& form = *forms.back();
    form.Ensure(m);
    for (int i = 0; i < m; ++i)
      for (int j = 0; j < m; ++j) form.a[i + 1][j + 1] = K[t][i][j];
    double normBound = Bidiagonalise(form.a, m, m, form.w, form.e, form.work);
    AccumulateLeft(form.a, m, m, form.w, form.work);
    ToColumns(form.a, m, m, form.u.Data());
    sweeps.emplace_back(form.u.Data(), m, m, form.w, form.e, nullptr, normBound, form.work.Data() + m);
  }
  for (int t = 0; t < count; t += 2) Diagonalise(&sweeps[t], count - t < 2 ? 1 : 2);

  for (int t = 0; t < count; ++t) {
    const DVector& w = forms[t]->w;
    // Largest value by ascending scan. A later value replaces the current
    // maximum only when it exceeds it by more than 2^-52 (strict >), so
    // among equal largest values, or values that differ by rounding noise
    // only, the first index wins and the choice does not flip on the last
    // bit.
    int best = 1;
    double largest = w[1];
    for (int i = 2; i <= m; ++i) {
      if (w[i] - largest > kAxisMargin) {
        largest = w[i];
        best = i;
      }
    }
    eigenvalue[t] = w[best];
    // The negated column: exact zeros come out as -0.0.
    const double* column = forms[t]->u.Data() + static_cast<long>(best - 1) * m;
    for (int i = 0; i < m; ++i) axis[t][i] = -column[i];
  }
}

void LeadingAxis(const DMatrix& K, int m, const DVector& axis, double* eigenvalue) {
  LeadingAxes(&K, 1, m, &axis, eigenvalue);
}
