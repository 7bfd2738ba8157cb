// What the directory phase settles and hands to the strip phase: the
// image's size, how its samples are stored and delivered, and how its strips
// are coded.
#pragma once

#include <cstdint>

#include "tiffread/image.h"

namespace pv::rif_core {

// The strip decoders, by Compression.
enum class Compression { kNone, kLZW, kPackBits };

// How samples are stored in the decoded strip bytes.
enum class SampleKind {
  kInt8,     // one byte each
  kInt16,    // two bytes in the file's byte order
  kInt32,    // four bytes in the file's byte order
  kPacked,   // 1 to 31 bits, most significant bit first, rows on whole bytes
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
  bool differencing = false;  // Predictor 2

  // Decoded bytes of one row: whole bytes, every row starts on a fresh one.
  std::uint64_t DecodedRowSize() const { return (std::uint64_t{width} * static_cast<unsigned>(bits) + 7) / 8; }
};

}  // namespace pv::rif_core
