// Offset-indexed arrays of the numerical core.
//
// Each array is addressed directly by the index range chosen when it was
// allocated (0-based almost everywhere, 1-based for the factorisations).
// The handles keep the lower bound so that indexing needs no pointer set
// before the start of the storage; they do not keep the upper bound, so the
// owner passes the same bounds again on release, as with every allocator
// here. Storage is zero-filled. Allocation never hands back a null: a failure
// ends the run through NumericalError ("Numerical Recipes: %s").
//
// Ownership: whoever allocates releases, with the matching Release* call.
// Arrays are never shared between threads.
#pragma once

#include <cstddef>

// Label and file-name strings: 80 bytes, at most 79 characters.
inline constexpr int kLabelSize = 80;

struct DVector {
  double* data = nullptr;  // storage of element lo
  int lo = 0;
  double& operator[](int i) const { return data[i - lo]; }
};

struct IVector {
  int* data = nullptr;  // storage of element lo
  int lo = 0;
  int& operator[](int i) const { return data[i - lo]; }
};

// Rows are DVectors over the column range, so a row can be handed on
// wherever a dvector over those columns is expected. All rows live in one
// contiguous block (row-major), which keeps row sweeps cache-friendly.
struct DMatrix {
  DVector* rows = nullptr;  // row table; entry 0 is row rlo
  int rlo = 0;
  DVector& operator[](int r) const { return rows[r - rlo]; }
};

// A table of 80-byte strings, indices 0..count-1.
struct CVector {
  char** strings = nullptr;
  char* operator[](int i) const { return strings[i]; }
};

// A table of dvector handles, indices 0..count-1, all empty at allocation.
// The table does not own what its entries point to.
struct PVector {
  DVector* entries = nullptr;
  DVector& operator[](int i) const { return entries[i]; }
};

// NumericalError: formats "Numerical Recipes: %s" and ends the run through
// FatalError. Never returns.
[[noreturn]] void NumericalError(const char* message);

DVector dvector(int lo, int hi);
IVector ivector(int lo, int hi);
DMatrix dmatrix(int rlo, int rhi, int clo, int chi);
CVector cvector(int count);
PVector pvector(int count);

void ReleaseDvector(DVector& v, int lo, int hi);
void ReleaseIvector(IVector& v, int lo, int hi);
void ReleaseDmatrix(DMatrix& m, int rlo, int rhi, int clo, int chi);
void ReleaseCvector(CVector& cv, int count);
void ReleasePvector(PVector& pv);

// CenterRows: subtracts from every row of m (rows 0..rows-1, columns
// 0..cols-1) its mean. The row sum runs in column order from 0.0 and the
// mean is computed once per row. With cols = 0 nothing changes.
void CenterRows(const DMatrix& m, int rows, int cols);

// Zero-filled allocation of count elements of size bytes, or null. Every
// array of the library is obtained through it; tests can make the n-th call
// from now fail to exercise the allocation-failure paths.
void* ZeroAllocate(std::size_t count, std::size_t size);
void FailAllocationForTesting(long nthFromNow);  // 0 turns the failure off
