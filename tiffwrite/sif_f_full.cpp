// Full floating-point writer: the strip layout of the integer writer
// (directory.h) with 32-bit IEEE samples, R = 8192 / (4 nx) rows per strip
// (1 from nx = 2048 on) and SampleFormat, SMinSampleValue and
// SMaxSampleValue behind the common entries.
//
// One source, two builds: SIF_F_FULL_LZW=1 gives sif_f_full_lzw (LZW
// strips, compressed on all CPUs), SIF_F_FULL_LZW=0 gives sif_f_full_nolzw
// (uncompressed strips, the rows converted straight into the output's
// buffer). Nothing else differs.
//
// The image is read twice: the extremes first, since the minimum-and-maximum
// description stands in front of the strips, then the strips.
#include <cstdint>
#include <memory>
#include <new>
#include <optional>

#include "common/range.h"
#include "tiffwrite/directory.h"
#include "tiffwrite/sif_f.h"
#include "tiffwrite/sif_f_common.h"
#include "tiffwrite/tiff_out.h"

#if !defined(SIF_F_FULL_LZW)
#error "SIF_F_FULL_LZW must be defined as 1 (LZW build) or 0 (uncompressed build)"
#endif

#if SIF_F_FULL_LZW
#include "tiffwrite/lzw_strips.h"
#define SIF_F_FULL_NAMESPACE sif_f_full_lzw
#else
#define SIF_F_FULL_NAMESPACE sif_f_full_nolzw
#endif

namespace pv::SIF_F_FULL_NAMESPACE {

namespace {

#if SIF_F_FULL_LZW
constexpr std::uint16_t kCompression = tiff::kCompressionLZW;
constexpr StripBound kBound = LzwStripBound;
#else
constexpr std::uint16_t kCompression = tiff::kCompressionNone;
// Rows of 4 nx bytes: every count is even, no pad byte occurs.
std::uint64_t StoredAsIs(std::uint64_t n) { return n; }
constexpr StripBound kBound = StoredAsIs;
#endif

// Scratch of one slot: a row of doubles for the source, a row as stored.
struct RowScratch {
  std::unique_ptr<double[]> values;
  std::unique_ptr<std::uint8_t[]> bytes;
};

}  // namespace

void StoreImageFile_Float(const char* path, int nx, int ny, const FloatRows& rows,
                          const char* description) {
  if (nx < 1 || ny < 1) TiffOut::NotStored(path);
  const auto width = std::uint32_t(nx), height = std::uint32_t(ny);
  const StripPlan plan = PlanStrips(4 * std::uint64_t(width), height);
  ImageTags tags = sif_f::FloatTags(width, height, kCompression);
  sif_f::FloatDescription text(description);

  // The length of a given description is known now, and a file too large
  // for it is refused before the image is read. The description of the
  // extremes needs them first.
  if (!text.OfExtremes()) {
    const std::optional<Description> given = text.Settle(Range());
    if (!given) TiffOut::NotStored(path);
    tags.description = *given;
    StrippedTiff::CheckSize(path, plan, tags, kBound);
  }
  const Range range = sif_f::FindRange(path, width, height, rows);
  tags.description = *text.Settle(range);  // the extremes' text always fits
  tags.min_bits = sif_f::FloatBits(range.min());
  tags.max_bits = sif_f::FloatBits(range.max());
  StrippedTiff::CheckSize(path, plan, tags, kBound);

#if SIF_F_FULL_LZW
  LzwStrips strips(path, plan);
  std::unique_ptr<RowScratch[]> scratch(new (std::nothrow) RowScratch[strips.slots()]);
  if (!scratch) TiffOut::NoMemory(path);
  for (std::size_t i = 0; i < strips.slots(); ++i) {
    scratch[i].values.reset(new (std::nothrow) double[width]);
    scratch[i].bytes.reset(new (std::nothrow) std::uint8_t[4 * std::size_t(width)]);
    if (!scratch[i].values || !scratch[i].bytes) TiffOut::NoMemory(path);
  }
#else
  std::unique_ptr<double[]> values(new (std::nothrow) double[width]);
  if (!values) TiffOut::NoMemory(path);
#endif

  StrippedTiff file(path, plan, tags, kBound);
  // The globals change only once the file is created.
  text.Publish(range);

#if SIF_F_FULL_LZW
  strips.Write(file, [&](std::uint32_t y, std::size_t slot) -> const std::uint8_t* {
    RowScratch& s = scratch[slot];
    sif_f::ConvertRow(rows(y, s.values.get()), width, s.bytes.get());
    return s.bytes.get();
  });
#else
  // A row is converted in pieces that fit the output buffer.
  constexpr std::uint32_t kChunk = BufferedOut::kBlock / 4;
  TiffOut& out = file.out();
  for (std::uint32_t k = 0; k < plan.strips; ++k) {
    const std::uint32_t first = k * plan.rows_per_strip, end = first + plan.RowsOf(k);
    for (std::uint32_t y = first; y < end; ++y) {
      const double* row = rows(y, values.get());
      for (std::uint32_t j = 0; j < width; j += kChunk) {
        const std::uint32_t n = width - j < kChunk ? width - j : kChunk;
        sif_f::ConvertRow(row + j, n, out.Reserve(4 * std::size_t(n)));
        out.Commit(4 * std::size_t(n));
      }
    }
    file.EndStrip(static_cast<std::uint32_t>(plan.row_bytes * plan.RowsOf(k)));
  }
#endif
  file.Finish();
}

void StoreImageFile_Float(const char* path, int nx, int ny, const double* const* rows,
                          const char* description) {
  StoreImageFile_Float(path, nx, ny, sif_f::TableRows(rows), description);
}

}  // namespace pv::SIF_F_FULL_NAMESPACE
