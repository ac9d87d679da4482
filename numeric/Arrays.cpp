#include "numeric/Arrays.h"

#include "base/HugePages.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>


namespace {

// Allocations may run on worker threads; the count is shared.
std::atomic<long> allocationsUntilFailure{0};  // 0: never fail

// Number of elements in [lo, hi], or -1 when the range is reversed by more
// than one (a caller error that must not become a huge allocation).
long RangeCount(int lo, int hi) {
  long count = static_cast<long>(hi) - static_cast<long>(lo) + 1;
  return count < 0 ? -1 : count;
}

}  // namespace

void* ZeroAllocate(std::size_t count, std::size_t size) {
  if (allocationsUntilFailure > 0 && --allocationsUntilFailure == 0) {
    errno = ENOMEM;
    return nullptr;
  }
  // calloc(0, ...) may return null; ask for at least one element so that an
  // empty array is still a valid, releasable handle.
  void* memory = std::calloc(count == 0 ? 1 : count, size);
  // A large block comes fresh from the system, untouched: it may still take
  // huge pages.
  if (memory != nullptr && count > 0) tarvok::AdviseHugePages(memory, count * size);
  return memory;
}

void FailAllocationForTesting(long nthFromNow) { allocationsUntilFailure = nthFromNow; }

DVector dvector(int lo, int hi) {
  long count = RangeCount(lo, hi);
  void* storage = count < 0 ? nullptr : ZeroAllocate(static_cast<std::size_t>(count), sizeof(double));
  if (storage == nullptr) NumericalError("allocation failure in dvector()");
  return DVector{static_cast<double*>(storage), lo};
}

IVector ivector(int lo, int hi) {
  long count = RangeCount(lo, hi);
  void* storage = count < 0 ? nullptr : ZeroAllocate(static_cast<std::size_t>(count), sizeof(int));
  if (storage == nullptr) NumericalError("allocation failure in ivector()");
  return IVector{static_cast<int*>(storage), lo};
}

DMatrix dmatrix(int rlo, int rhi, int clo, int chi) {
  long rowCount = RangeCount(rlo, rhi);
  long colCount = RangeCount(clo, chi);
  void* table = rowCount < 0 ? nullptr : ZeroAllocate(static_cast<std::size_t>(rowCount), sizeof(DVector));
  if (table == nullptr) NumericalError("allocation failure 1 in dmatrix()");
  DMatrix m{static_cast<DVector*>(table), rlo};
  if (rowCount == 0) return m;
  // One block for all rows; the row table points into it.
  void* block = nullptr;
  if (colCount >= 0 &&
      static_cast<unsigned long>(colCount) <= static_cast<unsigned long>(-1) / sizeof(double) / static_cast<unsigned long>(rowCount)) {
    block = ZeroAllocate(static_cast<std::size_t>(rowCount) * static_cast<std::size_t>(colCount), sizeof(double));
  }
  if (block == nullptr) {
    std::free(table);
    NumericalError("allocation failure 2 in dmatrix()");
  }
  double* cells = static_cast<double*>(block);
  for (long r = 0; r < rowCount; ++r) m.rows[r] = DVector{cells + r * colCount, clo};
  return m;
}

CVector cvector(int count) {
  void* table = count < 0 ? nullptr : ZeroAllocate(static_cast<std::size_t>(count), sizeof(char*));
  if (table == nullptr) NumericalError("allocation failure 1 in cvector");
  CVector cv{static_cast<char**>(table)};
  for (int i = 0; i < count; ++i) {
    cv.strings[i] = static_cast<char*>(ZeroAllocate(kLabelSize, 1));
    if (cv.strings[i] == nullptr) {
      ReleaseCvector(cv, i);  // the strings made so far, then the table
      NumericalError("allocation failure 2 in cvector");
    }
  }
  return cv;
}

PVector pvector(int count) {
  void* table = count < 0 ? nullptr : ZeroAllocate(static_cast<std::size_t>(count), sizeof(DVector));
  if (table == nullptr) NumericalError("allocation failure in pvector()");
  return PVector{static_cast<DVector*>(table)};
}

void ReleaseDvector(DVector& v, int, int) {
  std::free(v.data);
  v.data = nullptr;
}

void ReleaseIvector(IVector& v, int, int) {
  std::free(v.data);
  v.data = nullptr;
}

void ReleaseDmatrix(DMatrix& m, int rlo, int rhi, int, int) {
  if (m.rows == nullptr) return;
  if (rhi >= rlo) std::free(m.rows[0].data);  // the block that holds every row
  std::free(m.rows);
  m.rows = nullptr;
}

void ReleaseCvector(CVector& cv, int count) {
  if (cv.strings == nullptr) return;
  for (int i = count - 1; i >= 0; --i) {
    std::free(cv.strings[i]);
    cv.strings[i] = nullptr;
  }
  std::free(cv.strings);
  cv.strings = nullptr;
}

void ReleasePvector(PVector& pv) {
  std::free(pv.entries);
  pv.entries = nullptr;
}

void CenterRows(const DMatrix& m, int rows, int cols) {
  if (cols <= 0) return;
  for (int r = 0; r < rows; ++r) {
    double* row = &m[r][0];
    double sum = 0.0;
    for (int j = 0; j < cols; ++j) sum += row[j];
    double mean = sum / cols;
    for (int j = 0; j < cols; ++j) row[j] -= mean;
  }
}
