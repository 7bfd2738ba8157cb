// Fresh memory straight from the kernel, for large buffers whose first
// touch costs more than their use: anonymous mappings (zero-filled, brought
// in page by page as they are touched) placed so that the kernel can back
// them with transparent huge pages, one fault for 2 MiB instead of 512.
#pragma once

#include <cstddef>

// Under AddressSanitizer large buffers come from the allocator instead, at
// their exact size, so that a read or write past what was asked for is
// caught.
#if defined(__SANITIZE_ADDRESS__)
#define PV_EXACT_BUFFERS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PV_EXACT_BUFFERS 1
#endif
#endif

namespace pv {

#ifdef PV_EXACT_BUFFERS
inline constexpr bool kExactBuffers = true;
#else
inline constexpr bool kExactBuffers = false;
#endif

inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

// The system's page size.
std::size_t PageSize();

// The length of a mapping that holds `bytes` (at least 1): whole huge pages
// from one huge page on, so that a large buffer is faulted in a 512th as
// many times, whole pages below; 0 when that length does not fit a size_t.
std::size_t MappingSize(std::size_t bytes);

// A fresh anonymous mapping of `size` bytes (a multiple of PageSize()),
// starting on a huge-page boundary when it is at least a huge page long;
// nullptr when it cannot be had. Give it back with UnmapPages.
void* MapPages(std::size_t size);

// Asks for huge pages over the whole huge pages in [p, p + size); p must
// come from MapPages.
void AdviseHugePages(void* p, std::size_t size);

// Brings in every page of [p, p + size) (from MapPages) now, in one call,
// where the system can; otherwise they come in as they are touched.
void PrefaultPages(void* p, std::size_t size);

void UnmapPages(void* p, std::size_t size);

}  // namespace pv
