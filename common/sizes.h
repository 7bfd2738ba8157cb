// Size arithmetic that cannot wrap silently, and allocations that cannot
// fail silently. Every allocation whose size a file or a command line can
// steer goes through these helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>

#include "common/error.h"

namespace pv {

// a * b, or nothing when the product does not fit in size_t.
inline std::optional<std::size_t> MulSize(std::size_t a, std::size_t b) {
  std::size_t r;
  if (__builtin_mul_overflow(a, b, &r)) return std::nullopt;
  return r;
}

// a * b * c, or nothing when the product does not fit in size_t.
inline std::optional<std::size_t> MulSize(std::size_t a, std::size_t b, std::size_t c) {
  auto ab = MulSize(a, b);
  if (!ab) return std::nullopt;
  return MulSize(*ab, c);
}

// Whether a classic TIFF file of `size` bytes keeps every offset and count
// below 2^32.
inline bool FitsTiff32(std::uint64_t size) { return size < (std::uint64_t{1} << 32); }

// Runs `allocate`, which gets memory the run cannot go on without: it
// throws std::bad_alloc, or returns a null pointer, when that cannot be had.
// Then the run ends with Error(line...), the line of the site that asked;
// otherwise Allocate returns what `allocate` returned. The try costs
// nothing while nothing fails, so a loop that grows a buffer as the file's
// data arrives may run inside it.
template <class F, class... Line>
decltype(auto) Allocate(F&& allocate, const Line&... line) {
  try {
    if constexpr (std::is_pointer_v<decltype(allocate())>) {
      const auto p = allocate();
      if (p == nullptr) Error(line...);
      return p;
    } else {
      return allocate();
    }
  } catch (const std::bad_alloc&) {
    Error(line...);
  }
}

// An array of n T (numbers left uninitialised), or the end of the run with
// Error(line...).
template <class T, class... Line>
std::unique_ptr<T[]> NewArray(std::size_t n, const Line&... line) {
  return Allocate([n] { return std::unique_ptr<T[]>(new T[n]); }, line...);
}

}  // namespace pv
