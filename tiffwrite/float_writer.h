// Pieces shared by the float writer's layouts (fast_float_writer.cpp: one strip;
// full_float_writer.cpp: strips, LZW or not), and the layouts themselves.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <optional>

#include "common/description.h"
#include "common/error.h"
#include "common/messages.h"
#include "common/parallel.h"
#include "common/range.h"
#include "common/sizes.h"
#include "tiffwrite/directory.h"
#include "tiffwrite/sif_f.h"
#include "tiffwrite/tiff_out.h"

namespace pv::float_writer {

// The bits of v rounded to single precision (nearest, ties to even;
// magnitudes beyond the range become infinities, NaN stays NaN).
inline std::uint32_t FloatBits(double v) {
  return std::bit_cast<std::uint32_t>(static_cast<float>(v));
}

// n values as stored: little-endian single-precision values, each the plain
// conversion of its double. Written so that the compiler vectorises it.
inline void ConvertRow(const double* row, std::size_t n, std::uint8_t* out) {
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::size_t kPiece = 512;
    float piece[kPiece];
    for (std::size_t j = 0; j < n; j += kPiece) {
      const std::size_t m = n - j < kPiece ? n - j : kPiece;
      for (std::size_t i = 0; i < m; ++i) piece[i] = static_cast<float>(row[j + i]);
      std::memcpy(out + 4 * j, piece, 4 * m);
    }
  } else {
    for (std::size_t j = 0; j < n; ++j) {
      const std::uint32_t b = FloatBits(row[j]);
      for (int i = 0; i < 4; ++i) out[4 * j + i] = static_cast<std::uint8_t>(b >> (8 * i));
    }
  }
}

// The extremes of the whole image, bands of rows on all CPUs, each with a row
// of scratch per slot (allocated here: "<path> : no allocatable memory.").
inline Range FindRange(const char* path, std::uint32_t nx, std::uint32_t ny,
                       const FloatRows& rows) {
  constexpr std::size_t kBandValues = std::size_t{1} << 18;  // 2 MiB of doubles
  const BatchPlan bands{.items = ny, .per_batch = std::max<std::size_t>(1, kBandValues / nx),
                        .most_threads = ThreadsFor(std::uint64_t(nx) * ny * sizeof(double))};
  const std::size_t slots = bands.slots();
  const auto scratch = NewArray<std::unique_ptr<double[]>>(slots, path, msg::kNoAllocatableMemory);
  for (std::size_t s = 0; s < slots; ++s) scratch[s] = NewArray<double>(nx, path, msg::kNoAllocatableMemory);
  return RangeOfRows(bands, [&](Range& range, std::size_t y, std::size_t s) {
    range.Add(rows(std::uint32_t(y), scratch[s].get()), nx);
  });
}

// The description of a float image: none, a text stored unchanged, or the
// text of the image's extremes (RangeText).
class FloatDescription {
 public:
  enum class Kind { kNone, kGiven, kExtremes };

  // The callers' convention: null for none, the address of SIF_F_desc
  // itself for the text of the extremes (a test of the address, not of the
  // contents), any other text stored unchanged.
  static FloatDescription Of(const char* description) {
    if (description == nullptr) return FloatDescription(Kind::kNone, nullptr);
    if (description == SIF_F_desc) return FloatDescription(Kind::kExtremes, nullptr);
    return FloatDescription(Kind::kGiven, description);
  }

  // Whether the text is made from the extremes.
  bool OfExtremes() const { return kind_ == Kind::kExtremes; }

  // The description as stored, for an image of extremes `range`; nothing
  // when no 32-bit count holds the caller's text. The text of the extremes
  // is formatted into a buffer of its own: SIF_F_desc changes only in
  // Publish.
  std::optional<Description> Settle(const Range& range) {
    switch (kind_) {
      case Kind::kNone: return Description{};
      case Kind::kGiven: return Description::Of(given_);
      case Kind::kExtremes: break;
    }
    const std::string text = RangeText(range.min(), range.max());
    std::memcpy(own_, text.c_str(), text.size() + 1);
    return Description::Of(own_);
  }

  // Once the file is created: the globals take the image's extremes and,
  // for the description of the extremes, its text.
  void Publish(const Range& range) const {
    SIF_F_min = range.min();
    SIF_F_max = range.max();
    if (OfExtremes()) std::memcpy(SIF_F_desc, own_, std::strlen(own_) + 1);
  }

 private:
  FloatDescription(Kind kind, const char* given) : kind_(kind), given_(given) {}
  Kind kind_;
  const char* given_;
  char own_[sizeof SIF_F_desc] = {};
};

// A row of values converted straight into the output's buffer, in pieces
// that fit it.
inline void PutRow(BufferedOut& out, const double* row, std::uint32_t n) {
  constexpr std::uint32_t kPiece = BufferedOut::kBlock / 4;
  for (std::uint32_t j = 0; j < n; j += kPiece) {
    const std::uint32_t k = n - j < kPiece ? n - j : kPiece;
    ConvertRow(row + j, k, out.Reserve(4 * std::size_t(k)));
    out.Commit(4 * std::size_t(k));
  }
}

// The directory's description of a float image; the strips are the
// writer's.
inline ImageTags FloatTags(std::uint32_t nx, std::uint32_t ny, std::uint16_t compression) {
  ImageTags t;
  t.width = nx;
  t.height = ny;
  t.bits = 32;
  t.compression = compression;
  t.photometric = tiff::kBlackIsZero;
  t.floating = true;
  return t;
}

// The layouts, for an image of at least 1 x 1, as the next page of `file`.
void StoreOneStrip(TiffFileOut& file, std::uint32_t nx, std::uint32_t ny, const FloatRows& rows,
                   FloatDescription& text);
void StoreStrips(TiffFileOut& file, std::uint32_t nx, std::uint32_t ny, const FloatRows& rows,
                 FloatDescription& text, bool lzw);

}  // namespace pv::float_writer
