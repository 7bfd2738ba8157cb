// Size arithmetic that cannot wrap silently. Every allocation whose size a
// file or a command line can steer goes through these helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

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

}  // namespace pv
