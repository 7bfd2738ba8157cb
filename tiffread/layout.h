// What the directory phase settles and hands to the block phase: the
// image's size, how its samples are stored and delivered, how its blocks
// (strips or tiles) lie, and how they are coded.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tiffread/image.h"

namespace pv::reader {

// The block decoders, by Compression.
enum class Compression { kNone, kLZW, kPackBits, kDeflate };

// The most bytes that one stored Deflate byte can decode to: a run of 258
// bytes costs at least two bits (a length and a distance code of one bit
// each, neither with extra bits).
inline constexpr std::size_t kDeflateMaxRatio = 1032;

// The step that undoes a predictor after a block row is decoded.
enum class Predictor {
  kNone,
  kHorizontal,     // Predictor 2: each integer sample added to the one before
  kFloatingPoint,  // Predictor 3: the row's bytes split by significance, then differenced
};

// How samples are stored in the decoded strip bytes.
enum class SampleKind {
  kInt8,     // one byte each
  kInt16,    // two bytes in the file's byte order
  kInt32,    // four bytes in the file's byte order
  kPacked,   // 1 to 31 bits, most significant bit first, rows on whole bytes
  kFloat16,  // IEEE half, the file's byte order
  kFloat32,  // IEEE single, the file's byte order
  kFloat64,  // IEEE double, the file's byte order
};

struct StripLayout {
  std::uint32_t width = 0, height = 0;
  int bits = 1;
  SampleKind kind = SampleKind::kPacked;
  SampleType type = SampleType::kUint16;  // as delivered
  bool big_endian = false;                // the file's byte order
  Compression compression = Compression::kNone;
  bool reverse_fill = false;  // FillOrder 2
  std::uint32_t rows_per_strip = 1;
  Predictor predictor = Predictor::kNone;
  // Tiles of tile_width x tile_length samples (else strips of rows_per_strip
  // rows).
  bool tiled = false;
  std::uint32_t tile_width = 0, tile_length = 0;

  // Decoded bytes of one row of `samples` samples: whole bytes, every row
  // starts on a fresh one.
  std::uint64_t DecodedRowSize(std::uint32_t samples) const {
    return (std::uint64_t{samples} * static_cast<unsigned>(bits) + 7) / 8;
  }
  std::uint64_t DecodedRowSize() const { return DecodedRowSize(width); }
};

}  // namespace pv::reader
