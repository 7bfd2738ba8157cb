// Pieces shared by the floating-point writers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "tiffwrite/sif_f.h"

namespace pv::sif_f {

// Running extremes with the writers' rule: a value replaces the minimum when
// it is smaller, otherwise the maximum when it is greater, so a NaN never
// becomes an extreme (unless it is the first value, which starts both).
inline void TrackRange(const double* row, int n, double& lo, double& hi) {
  for (int j = 0; j < n; ++j) {
    double v = row[j];
    if (lo > v)
      lo = v;
    else if (v > hi)
      hi = v;
  }
}

// Extremes of a whole image, starting from row 0, column 0.
inline void FindRange(int nx, int ny, const double* const* rows, double& lo, double& hi) {
  lo = hi = rows[0][0];
  for (int i = 0; i < ny; ++i) TrackRange(rows[i], nx, lo, hi);
}

// The text to store and its length with the NUL (L), or null and 0. When the
// caller passed SIF_F_desc itself, the buffer is first filled with the
// extremes formatted by SIF_F_form.
inline const char* SettleDescription(const char* description, double lo, double hi,
                                     std::uint32_t& length) {
  if (description == nullptr) {
    length = 0;
    return nullptr;
  }
  if (description == SIF_F_desc) std::snprintf(SIF_F_desc, sizeof SIF_F_desc, SIF_F_form, lo, hi);
  length = static_cast<std::uint32_t>(std::strlen(description) + 1);
  return description;
}

// The bits of v rounded to single precision (nearest, ties to even;
// magnitudes beyond the range become infinities, NaN stays NaN).
inline std::uint32_t FloatBits(double v) {
  float f = static_cast<float>(v);
  std::uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

// A row as stored: nx little-endian single-precision values.
inline void ConvertRow(const double* row, int nx, std::uint8_t* out) {
  for (int j = 0; j < nx; ++j) {
    std::uint32_t b = FloatBits(row[j]);
    out[4 * j] = static_cast<std::uint8_t>(b);
    out[4 * j + 1] = static_cast<std::uint8_t>(b >> 8);
    out[4 * j + 2] = static_cast<std::uint8_t>(b >> 16);
    out[4 * j + 3] = static_cast<std::uint8_t>(b >> 24);
  }
}

}  // namespace pv::sif_f
