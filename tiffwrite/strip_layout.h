// The strip layout shared by the integer writer and the full floating-point
// writer: strips of about 8 KiB of row data, the description in front of
// them, the strip arrays and the directory behind them, the directory offset
// filled in last by a seek back. All numbers little-endian.
//
//   offset      bytes              content
//   0           2                  "II"
//   2           2                  42
//   4           4                  directory offset D, 0 until the end
//   8           L (+1 if L odd)    only when L > 4: description and NUL
//   P           counts (+1 if odd) the K strips, each padded to even length;
//                                  P = 8, or 8 + L rounded up to even
//   E           4 K                only when K > 1: StripOffsets
//   E + 4 K     4 K                only when K > 1: StripByteCounts
//   D           2 + 12 N + 4       directory; D = E + 8 K (K > 1), E (K = 1)
//
// with B bytes per row, R = 8192 / B rows per strip (1 when B > 8192), K =
// (ny + R - 1) / R strips and L the description length with its NUL (0 for
// none). The directory entries are, in this order: 256 ImageWidth and 257
// ImageLength (SHORT when they fit 16 bits, LONG otherwise), 258
// BitsPerSample, 259 Compression, 262 PhotometricInterpretation, [270
// ImageDescription], 273 StripOffsets, 277 SamplesPerPixel, 278
// RowsPerStrip, 279 StripByteCounts, 284 PlanarConfiguration, then the
// writer's own entries (the float writer's 339 to 341).
#pragma once

#include <cstdint>
#include <memory>

#include "tiffwrite/tiff_out.h"

namespace pv {

struct StripPlan {
  std::uint64_t row_bytes = 0;       // B
  std::uint32_t rows_per_strip = 0;  // R
  std::uint32_t strips = 0;          // K
  std::uint32_t rows = 0;            // ny

  // Rows of strip k.
  std::uint32_t RowsOf(std::uint32_t k) const {
    std::uint32_t first = k * rows_per_strip;  // below ny: k < K
    std::uint32_t left = rows - first;
    return left < rows_per_strip ? left : rows_per_strip;
  }
};

// B = row_bytes; ny >= 1.
StripPlan PlanStrips(std::uint64_t row_bytes, std::uint32_t ny);

// One extra directory entry of count 1 behind the common ones.
struct ExtraEntry {
  std::uint16_t tag, type;
  std::uint32_t value;
};

// Upper bound of a strip's stored length, pad byte included, for n input
// bytes: exact for uncompressed strips, a worst case for LZW.
using StripBound = std::uint64_t (*)(std::uint64_t n);

class StrippedTiff {
 public:
  // Refuses ("<path> : file not stored.") an image whose file could reach
  // 2^32 bytes by `bound`, with `entries` directory entries; allocates the
  // strip counts ("<path> : no allocatable memory."); creates the file and
  // writes the header. Nothing is created when it refuses.
  StrippedTiff(const char* path, const StripPlan& plan, std::uint32_t description_length,
               int entries, StripBound bound);

  // The constructor's size check alone, for a writer that can refuse
  // before it reads the image.
  static void CheckSize(const char* path, const StripPlan& plan, std::uint32_t description_length,
                        int entries, StripBound bound);

  // Writes the description block (when L > 4). `text` has the length given
  // to the constructor.
  void PutDescription(const char* text);

  TiffOut& out() { return out_; }

  // Records the stored length of the next strip and pads it to even.
  void EndStrip(std::uint32_t count);

  // Writes the strip arrays, the directory (the common entries with the
  // given values, then `extra`), fills in the directory offset and closes.
  void Finish(std::uint32_t nx, std::uint32_t ny, std::uint16_t bps, std::uint16_t compression,
              std::uint16_t photometric, const char* description, const ExtraEntry* extra,
              int extras);

 private:
  StripPlan plan_;
  std::uint32_t length_;   // L
  int entries_;            // N
  std::unique_ptr<std::uint32_t[]> counts_;
  std::uint32_t done_ = 0;  // strips ended so far
  TiffOut out_;
};

}  // namespace pv
