// Offset-indexed arrays of the numerical core.
//
// Each array is addressed directly by the index range chosen when it was
// allocated (0-based almost everywhere, 1-based for the factorisations).
// The handles keep the lower bound so that indexing needs no pointer set
// before the start of the storage; they do not keep the upper bound, so the
// owner passes the same bounds again on release, as with every allocator
// here. Storage is zero-filled. Allocation never hands back a null: a failure
// throws tarvok::Error through NumericalError ("Numerical Recipes: %s").
//
// Ownership: whoever allocates releases, with the matching Release* call.
// The owners Vector, IntVector and Matrix at the end of this file do that
// by themselves and know their bounds; code that can throw between an
// allocation and its release uses them. Arrays are never shared between
// threads.
#pragma once

#include <cstddef>
#include <utility>

#include "base/Error.h"

using tarvok::NumericalError;

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

// Owners of the arrays above: allocated with the same allocators (so the
// same messages on failure), released with the same bounds when they go out
// of scope. They convert to the plain handle wherever one is expected.
template <typename Handle, Handle (*Allocate)(int, int), void (*Release)(Handle&, int, int)>
class OwnedArray {
 public:
  OwnedArray() = default;
  OwnedArray(int lo, int hi) : v_(Allocate(lo, hi)), lo_(lo), hi_(hi) {}
  explicit OwnedArray(int size) : OwnedArray(0, size - 1) {}
  ~OwnedArray() { Release(v_, lo_, hi_); }
  OwnedArray(OwnedArray&& other) noexcept { Swap(other); }
  OwnedArray& operator=(OwnedArray&& other) noexcept {
    Swap(other);
    return *this;
  }
  operator const Handle&() const { return v_; }
  auto& operator[](int i) const { return v_[i]; }
  auto* Data() const { return v_.data; }
  int Lo() const { return lo_; }
  int Hi() const { return hi_; }
  int Size() const { return hi_ - lo_ + 1; }

 private:
  void Swap(OwnedArray& other) {
    std::swap(v_, other.v_);
    std::swap(lo_, other.lo_);
    std::swap(hi_, other.hi_);
  }
  Handle v_;
  int lo_ = 0, hi_ = -1;
};

using Vector = OwnedArray<DVector, dvector, ReleaseDvector>;
using IntVector = OwnedArray<IVector, ivector, ReleaseIvector>;

// A matrix over rows [rlo, rhi] and columns [clo, chi]; by default 0-based
// with the given numbers of rows and columns.
class Matrix {
 public:
  Matrix() = default;
  Matrix(int rows, int cols) : Matrix(0, rows - 1, 0, cols - 1) {}
  Matrix(int rlo, int rhi, int clo, int chi)
      : m_(dmatrix(rlo, rhi, clo, chi)), rlo_(rlo), rhi_(rhi), clo_(clo), chi_(chi) {}
  ~Matrix() { ReleaseDmatrix(m_, rlo_, rhi_, clo_, chi_); }
  Matrix(Matrix&& other) noexcept { Swap(other); }
  Matrix& operator=(Matrix&& other) noexcept {
    Swap(other);
    return *this;
  }
  operator const DMatrix&() const { return m_; }
  DVector& operator[](int r) const { return m_[r]; }
  int Rows() const { return rhi_ - rlo_ + 1; }
  int Cols() const { return chi_ - clo_ + 1; }

 private:
  void Swap(Matrix& other) {
    std::swap(m_, other.m_);
    std::swap(rlo_, other.rlo_);
    std::swap(rhi_, other.rhi_);
    std::swap(clo_, other.clo_);
    std::swap(chi_, other.chi_);
  }
  DMatrix m_;
  int rlo_ = 0, rhi_ = -1, clo_ = 0, chi_ = -1;
};
