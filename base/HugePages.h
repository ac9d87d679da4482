// Advice that large, still untouched memory be backed by huge pages, where
// the system allows it. A matrix or a table's bytes span thousands of 4 KiB
// pages, and on a virtual machine the first touch of each costs more than
// reading it; one 2 MiB page takes the place of 512. Advice only: nothing
// changes but the time, and elsewhere than on Linux it does nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace tarvok {

inline void AdviseHugePages(void* memory, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::uintptr_t kHuge = std::uintptr_t{1} << 21;
  if (size < 4 * kHuge) return;
  const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(memory) + kHuge - 1) & ~(kHuge - 1);
  const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(memory) + size) & ~(kHuge - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)memory;
  (void)size;
#endif
}

}  // namespace tarvok
