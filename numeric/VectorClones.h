// TARVOK_VECTOR_CLONES marks a function whose loops vectorise across
// independent lanes (columns of a reflector, rows of a rotation, entries of
// a matrix row). GCC compiles it three times, for the x86-64 baseline, for
// AVX2 and for AVX-512, and the loader picks the one the processor runs.
// Every lane does the same IEEE operations in the same order in all
// versions, with no contraction into fused multiply-adds, so all give the
// same bits. Elsewhere (other compilers, Windows) it expands to nothing.
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
// Lanes4 values pass between inlined helpers only, never across a call
// between differently compiled functions.
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

inline Lanes4 LoadLanes(const double* p) {
  Lanes4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline void StoreLanes(double* p, Lanes4 v) { std::memcpy(p, &v, sizeof v); }

inline Lanes4 ZeroLanes() {
  Lanes4 v;
  const double zero[4] = {0.0, 0.0, 0.0, 0.0};
  std::memcpy(&v, zero, sizeof v);
  return v;
}

// The entries at offset j of four rows, as the lanes of one value.
inline Lanes4 GatherLanes(const double* const* rows, int j) {
  const double values[4] = {rows[0][j], rows[1][j], rows[2][j], rows[3][j]};
  return LoadLanes(values);
}

// Transposes four rows of four entries each: afterwards c[t] holds entry t
// of rows 0..3 in its lanes.
inline void TransposeLanes(const Lanes4 r[4], Lanes4 c[4]) {
  Lanes4 t0 = TARVOK_SHUFFLE(r[0], r[1], 0, 4, 2, 6);
  Lanes4 t1 = TARVOK_SHUFFLE(r[0], r[1], 1, 5, 3, 7);
  Lanes4 t2 = TARVOK_SHUFFLE(r[2], r[3], 0, 4, 2, 6);
  Lanes4 t3 = TARVOK_SHUFFLE(r[2], r[3], 1, 5, 3, 7);
  c[0] = TARVOK_SHUFFLE(t0, t2, 0, 1, 4, 5);
  c[1] = TARVOK_SHUFFLE(t1, t3, 0, 1, 4, 5);
  c[2] = TARVOK_SHUFFLE(t0, t2, 2, 3, 6, 7);
  c[3] = TARVOK_SHUFFLE(t1, t3, 2, 3, 6, 7);
}

#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
