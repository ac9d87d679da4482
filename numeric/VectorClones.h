// TARVOK_VECTOR_CLONES marks a function whose loops vectorise across
// independent lanes (columns of a reflector, rows of a rotation, entries of
// a matrix row). GCC compiles it three times, for the x86-64 baseline, for
// AVX2 and for AVX-512, and the loader picks the one the processor runs.
// Every lane does the same IEEE operations in the same order in all
// versions, with no contraction into fused multiply-adds, so all give the
// same bits. Elsewhere (other compilers, Windows) it expands to nothing.
// A marked function must not throw (nor allocate, which may throw): an
// exception leaving a function called through the loader's choice ends the
// process instead of reaching the caller.
//
// Lanes4 is four doubles operated on lane by lane: +, -, * and / act on
// each lane alone, exactly as four scalar operations would, so a kernel
// written with it gives the bits of its scalar form. A scalar operand is
// applied to every lane.
#pragma once

#include <cstring>

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(TARVOK_NO_CLONES)
#define TARVOK_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define TARVOK_VECTOR_CLONES
#endif

#if defined(__GNUC__)
// Lanes4 values pass between helpers that are always inlined, never across
// a call between differently compiled functions, whose conventions for
// them differ.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpsabi"
typedef double Lanes4 __attribute__((vector_size(4 * sizeof(double))));

// Lane shuffle: result lane t is lane i_t of the pair (a, b), counting b's
// lanes as 4..7.
#define TARVOK_SHUFFLE(a, b, i0, i1, i2, i3) __builtin_shufflevector(a, b, i0, i1, i2, i3)
#else
struct Lanes4 {
  double lane[4];
  double operator[](int t) const { return lane[t]; }
};
#define TARVOK_LANES4_OPERATOR(op)                                                               \
  inline Lanes4 operator op(Lanes4 a, Lanes4 b) {                                                \
    return Lanes4{{a.lane[0] op b.lane[0], a.lane[1] op b.lane[1], a.lane[2] op b.lane[2],       \
                   a.lane[3] op b.lane[3]}};                                                     \
  }                                                                                              \
  inline Lanes4 operator op(Lanes4 a, double b) { return a op Lanes4{{b, b, b, b}}; }            \
  inline Lanes4 operator op(double a, Lanes4 b) { return Lanes4{{a, a, a, a}} op b; }            \
  inline Lanes4& operator op##=(Lanes4 & a, Lanes4 b) { return a = a op b; }
TARVOK_LANES4_OPERATOR(+)
TARVOK_LANES4_OPERATOR(-)
TARVOK_LANES4_OPERATOR(*)
TARVOK_LANES4_OPERATOR(/)
#undef TARVOK_LANES4_OPERATOR
inline Lanes4 ShuffleLanes(Lanes4 a, Lanes4 b, int i0, int i1, int i2, int i3) {
  auto pick = [&](int i) { return i < 4 ? a.lane[i] : b.lane[i - 4]; };
  return Lanes4{{pick(i0), pick(i1), pick(i2), pick(i3)}};
}
#define TARVOK_SHUFFLE(a, b, i0, i1, i2, i3) ShuffleLanes(a, b, i0, i1, i2, i3)
#endif

[[gnu::always_inline]] inline Lanes4 LoadLanes(const double* p) {
  Lanes4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

[[gnu::always_inline]] inline void StoreLanes(double* p, Lanes4 v) { std::memcpy(p, &v, sizeof v); }

[[gnu::always_inline]] inline Lanes4 ZeroLanes() {
  Lanes4 v;
  const double zero[4] = {0.0, 0.0, 0.0, 0.0};
  std::memcpy(&v, zero, sizeof v);
  return v;
}

// The entries at offset j of four rows, as the lanes of one value.
template <class Row>
[[gnu::always_inline]] inline Lanes4 GatherLanes(Row const* rows, int j) {
  const double values[4] = {rows[0][j], rows[1][j], rows[2][j], rows[3][j]};
  return LoadLanes(values);
}

// Transposes four rows of four entries each: afterwards c[t] holds entry t
// of rows 0..3 in its lanes.
[[gnu::always_inline]] inline void TransposeLanes(const Lanes4 r[4], Lanes4 c[4]) {
  Lanes4 t0 = TARVOK_SHUFFLE(r[0], r[1], 0, 4, 2, 6);
  Lanes4 t1 = TARVOK_SHUFFLE(r[0], r[1], 1, 5, 3, 7);
  Lanes4 t2 = TARVOK_SHUFFLE(r[2], r[3], 0, 4, 2, 6);
  Lanes4 t3 = TARVOK_SHUFFLE(r[2], r[3], 1, 5, 3, 7);
  c[0] = TARVOK_SHUFFLE(t0, t2, 0, 1, 4, 5);
  c[1] = TARVOK_SHUFFLE(t1, t3, 0, 1, 4, 5);
  c[2] = TARVOK_SHUFFLE(t0, t2, 2, 3, 6, 7);
  c[3] = TARVOK_SHUFFLE(t1, t3, 2, 3, 6, 7);
}

// out[j] = sum over k = 0..count-1, in ascending order, of row(k)[j] *
// weight(k), for j0 <= j < j1: independent sums over the same rows, one per
// lane. A block of 32 (or 16) of them stays in registers for the whole sweep over
// the rows instead of going through memory at every row. With `resume` the
// sums start from the values in out instead of 0.0, continuing a sweep
// over earlier rows.
template <bool resume>
[[gnu::always_inline]] inline Lanes4 StartLanes(const double* p) {
  return resume ? LoadLanes(p) : ZeroLanes();
}

template <bool resume = false, class Row, class Weight>
[[gnu::always_inline]] inline void SumRowMultiples(int count, Row row, Weight weight, int j0, int j1,
                                                   double* out) {
  int j = j0;
  for (; j + 32 <= j1; j += 32) {
    Lanes4 s[8];
    for (int q = 0; q < 8; ++q) s[q] = StartLanes<resume>(out + j + 4 * q);
    for (int k = 0; k < count; ++k) {
      const double* r = row(k) + j;
      const double x = weight(k);
      for (int q = 0; q < 8; ++q) s[q] += LoadLanes(r + 4 * q) * x;
    }
    for (int q = 0; q < 8; ++q) StoreLanes(out + j + 4 * q, s[q]);
  }
  for (; j + 16 <= j1; j += 16) {
    Lanes4 s0 = StartLanes<resume>(out + j), s1 = StartLanes<resume>(out + j + 4),
           s2 = StartLanes<resume>(out + j + 8), s3 = StartLanes<resume>(out + j + 12);
    for (int k = 0; k < count; ++k) {
      const double* r = row(k) + j;
      const double x = weight(k);
      s0 += LoadLanes(r) * x;
      s1 += LoadLanes(r + 4) * x;
      s2 += LoadLanes(r + 8) * x;
      s3 += LoadLanes(r + 12) * x;
    }
    StoreLanes(out + j, s0);
    StoreLanes(out + j + 4, s1);
    StoreLanes(out + j + 8, s2);
    StoreLanes(out + j + 12, s3);
  }
  for (; j + 4 <= j1; j += 4) {
    Lanes4 sum = StartLanes<resume>(out + j);
    for (int k = 0; k < count; ++k) sum += LoadLanes(row(k) + j) * weight(k);
    StoreLanes(out + j, sum);
  }
  for (; j < j1; ++j) {
    double sum = resume ? out[j] : 0.0;
    for (int k = 0; k < count; ++k) sum += row(k)[j] * weight(k);
    out[j] = sum;
  }
}

// Before a row's entries enter its dot product they may be updated in
// place: with a RowUpdate, rows[r][j] += f[j] * x[r] (x[r] one number per
// row), stored, and the updated value summed. NoRowUpdate leaves them.
struct NoRowUpdate {
  static constexpr bool active = false;
  const double* f = nullptr;
  const double* x = nullptr;
};
struct RowUpdate {
  static constexpr bool active = true;
  const double* f;
  const double* x;
};

// The dot products of groups * 4 rows with v over j0 <= j < j1, one sum per
// row in ascending j: four rows form the lanes of one sum, read four
// entries at a time and transposed. Several groups keep independent
// additions in flight.
template <int groups, class Update, class Row>
[[gnu::always_inline]] inline void RowDotGroups(Row const* rows, const double* v, int j0, int j1, Lanes4* dot,
                                                Update update) {
  for (int g = 0; g < groups; ++g) dot[g] = ZeroLanes();
  int j = j0;
  for (; j + 4 <= j1; j += 4) {
    const double v0 = v[j], v1 = v[j + 1], v2 = v[j + 2], v3 = v[j + 3];
    for (int g = 0; g < groups; ++g) {
      Lanes4 r[4] = {LoadLanes(rows[4 * g] + j), LoadLanes(rows[4 * g + 1] + j), LoadLanes(rows[4 * g + 2] + j),
                     LoadLanes(rows[4 * g + 3] + j)};
      if constexpr (Update::active) {
        const Lanes4 f = LoadLanes(update.f + j);
        for (int q = 0; q < 4; ++q) {
          r[q] += f * update.x[4 * g + q];
          StoreLanes(rows[4 * g + q] + j, r[q]);
        }
      }
      Lanes4 column[4];
      TransposeLanes(r, column);
      dot[g] += column[0] * v0;
      dot[g] += column[1] * v1;
      dot[g] += column[2] * v2;
      dot[g] += column[3] * v3;
    }
  }
  for (; j < j1; ++j) {
    for (int g = 0; g < groups; ++g) {
      if constexpr (Update::active) {
        for (int q = 0; q < 4; ++q) rows[4 * g + q][j] += update.f[j] * update.x[4 * g + q];
      }
      dot[g] += GatherLanes(rows + 4 * g, j) * v[j];
    }
  }
}

// dot[r] = sum over j0 <= j < j1, ascending, of rows[r][j] * v[j], for the
// count (<= 16) rows given, each row first updated by `update`.
template <class Update = NoRowUpdate, class Row>
[[gnu::always_inline]] inline void RowDots(Row const* rows, int count, const double* v, int j0, int j1, double* dot,
                                           Update update = Update{}) {
  int done = 0;
  if (count == 16) {
    Lanes4 sums[4];
    RowDotGroups<4>(rows, v, j0, j1, sums, update);
    for (int g = 0; g < 4; ++g) StoreLanes(dot + 4 * g, sums[g]);
    done = 16;
  }
  for (; done + 4 <= count; done += 4) {
    Lanes4 sum;
    Update part = update;
    part.x = update.x == nullptr ? nullptr : update.x + done;
    RowDotGroups<1>(rows + done, v, j0, j1, &sum, part);
    StoreLanes(dot + done, sum);
  }
  for (; done < count; ++done) {
    double sum = 0.0;
    for (int j = j0; j < j1; ++j) {
      if constexpr (Update::active) rows[done][j] += update.f[j] * update.x[done];
      sum += rows[done][j] * v[j];
    }
    dot[done] = sum;
  }
}

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
