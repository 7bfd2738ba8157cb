#include "common/pages.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace pv {

std::size_t PageSize() {
  static const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  return page;
}

std::size_t MappingSize(std::size_t bytes) {
  const std::size_t unit = bytes >= kHugePage ? kHugePage : PageSize();
  if (bytes > SIZE_MAX - unit) return 0;
  return (bytes + unit - 1) / unit * unit;
}

void* MapPages(std::size_t size) {
  const int prot = PROT_READ | PROT_WRITE, flags = MAP_PRIVATE | MAP_ANONYMOUS;
  void* p = MAP_FAILED;
  if (size < kHugePage) {
    p = ::mmap(nullptr, size, prot, flags, -1, 0);
  } else if (size <= SIZE_MAX - kHugePage) {
    // Map a huge page more, then give back what lies before the first
    // boundary and after the size.
    p = ::mmap(nullptr, size + kHugePage, prot, flags, -1, 0);
    if (p != MAP_FAILED) {
      const auto at = reinterpret_cast<std::uintptr_t>(p);
      const std::uintptr_t aligned = (at + kHugePage - 1) & ~(kHugePage - 1);
      if (aligned > at) ::munmap(p, aligned - at);
      const std::uintptr_t tail = at + size + kHugePage - (aligned + size);
      if (tail > 0) ::munmap(reinterpret_cast<void*>(aligned + size), tail);
      p = reinterpret_cast<void*>(aligned);
    }
  }
  return p == MAP_FAILED ? nullptr : p;
}

void AdviseHugePages(void* p, std::size_t size) {
  const std::size_t whole = size / kHugePage * kHugePage;
  if (p != nullptr && whole > 0) ::madvise(p, whole, MADV_HUGEPAGE);
}

void PrefaultPages(void* p, std::size_t size) {
#ifdef MADV_POPULATE_WRITE
  if (p != nullptr) ::madvise(p, size, MADV_POPULATE_WRITE);
#else
  (void)p;
  (void)size;
#endif
}

void UnmapPages(void* p, std::size_t size) {
  if (p != nullptr) ::munmap(p, size);
}

}  // namespace pv
