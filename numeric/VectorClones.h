// TARVOK_VECTOR_CLONES marks a function whose loops vectorise across
// independent lanes (columns of a reflector, rows of a rotation, entries of
// a matrix row). GCC compiles it twice, for the x86-64 baseline and for
// AVX2, and the loader picks the one the processor runs. Every lane does
// the same IEEE operations in the same order in both versions, with no
// contraction into fused multiply-adds, so both give the same bits.
// Elsewhere (other compilers, Windows) it expands to nothing.
#pragma once

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(TARVOK_NO_CLONES)
#define TARVOK_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TARVOK_VECTOR_CLONES
#endif
