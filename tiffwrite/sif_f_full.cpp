// Full floating-point writer: the strip layout of the integer writer
// (strip_layout.h) with 32-bit IEEE samples, R = 8192 / (4 nx) rows per
// strip (1 from nx = 2048 on) and the entries 339 SampleFormat (3), 340
// SMinSampleValue and 341 SMaxSampleValue behind the common ones.
//
// One source, two builds: SIF_F_FULL_LZW=1 gives sif_f_full_lzw (Compression
// 5, strips through the LZW encoder), SIF_F_FULL_LZW=0 gives
// sif_f_full_nolzw (Compression 1, the strips' bytes as they are). Nothing
// else differs.
//
// The image is read twice: the extremes first, since the minimum-and-maximum
// description stands in front of the strips, then the strips.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "tiffwrite/sif_f.h"
#include "tiffwrite/sif_f_common.h"
#include "tiffwrite/strip_layout.h"
#include "tiffwrite/tiff_out.h"

#if !defined(SIF_F_FULL_LZW)
#error "SIF_F_FULL_LZW must be defined as 1 (LZW build) or 0 (uncompressed build)"
#endif

#if SIF_F_FULL_LZW
#include "tiffwrite/lzw_encode.h"
#define SIF_F_FULL_NAMESPACE sif_f_full_lzw
#else
#define SIF_F_FULL_NAMESPACE sif_f_full_nolzw
#endif

namespace pv::SIF_F_FULL_NAMESPACE {

namespace {

#if SIF_F_FULL_LZW
constexpr std::uint16_t kCompression = 5;
LzwEncoder encoder;  // one strip of one file at a time
std::uint64_t StripBound(std::uint64_t n) { return LzwEncoder::WorstCaseBytes(n) + 1; }
#else
constexpr std::uint16_t kCompression = 1;
// Rows of 4 nx bytes: every count is even, no pad byte occurs.
std::uint64_t StripBound(std::uint64_t n) { return n; }
#endif

// Samples converted per step: 16 KiB of stored bytes.
constexpr int kChunk = 4096;

// Writes one strip of rows [first, end) and returns its stored length.
std::uint32_t PutStrip(TiffOut& out, const double* const* rows, int nx, std::uint32_t first,
                       std::uint32_t end) {
#if SIF_F_FULL_LZW
  std::uint8_t chunk[4 * kChunk];
  encoder.InitLZWEncode(out);
  for (std::uint32_t r = first; r < end; ++r) {
    for (int j = 0; j < nx; j += kChunk) {
      const int n = nx - j < kChunk ? nx - j : kChunk;
      sif_f::ConvertRow(rows[r] + j, n, chunk);
      encoder.EncodeBlock(chunk, 4 * std::size_t(n));
    }
  }
  return encoder.TermLZWEncode();
#else
  const std::uint64_t start = out.Offset();
  for (std::uint32_t r = first; r < end; ++r) {
    for (int j = 0; j < nx; j += kChunk) {
      const int n = nx - j < kChunk ? nx - j : kChunk;
      sif_f::ConvertRow(rows[r] + j, n, out.Reserve(4 * std::size_t(n)));
      out.Commit(4 * std::size_t(n));
    }
  }
  return static_cast<std::uint32_t>(out.Offset() - start);
#endif
}

}  // namespace

void StoreImageFile_Float(const char* path, int nx, int ny, const double* const* rows,
                          const char* description) {
  if (nx < 1 || ny < 1) TiffOut::NotStored(path);
  const StripPlan plan = PlanStrips(4 * std::uint64_t(nx), std::uint32_t(ny));
  const int entries = description != nullptr ? 14 : 13;

  // The length of a given description is known now, and a file too large
  // for it is refused before the image is read. The minimum-and-maximum
  // description needs the extremes first; the globals change only once the
  // file is created.
  std::size_t text_length = 0;
  if (description != SIF_F_desc) {
    if (description != nullptr) text_length = std::strlen(description);
    if (text_length >= 0xFFFFFFFFu) TiffOut::NotStored(path);  // no 32-bit count holds it
    StrippedTiff::CheckSize(path, plan,
                            description != nullptr ? std::uint32_t(text_length + 1) : 0, entries,
                            StripBound);
  }
  double lo, hi;
  sif_f::FindRange(nx, ny, rows, lo, hi);
  if (description == SIF_F_desc) {
    char own[sizeof SIF_F_desc];
    std::snprintf(own, sizeof own, SIF_F_form, lo, hi);
    text_length = std::strlen(own);
  }
  const std::uint32_t length =
      description != nullptr ? static_cast<std::uint32_t>(text_length + 1) : 0;

  StrippedTiff file(path, plan, length, entries, StripBound);
  SIF_F_min = lo;
  SIF_F_max = hi;
  std::uint32_t settled;
  const char* text = sif_f::SettleDescription(description, lo, hi, settled);
  file.PutDescription(text);

  for (std::uint32_t k = 0; k < plan.strips; ++k) {
    const std::uint32_t first = k * plan.rows_per_strip;
    file.EndStrip(PutStrip(file.out(), rows, nx, first, first + plan.RowsOf(k)));
  }

  const ExtraEntry extra[] = {
      {339, TiffOut::kShort, 3},
      {340, TiffOut::kFloat, sif_f::FloatBits(lo)},
      {341, TiffOut::kFloat, sif_f::FloatBits(hi)},
  };
  file.Finish(std::uint32_t(nx), std::uint32_t(ny), 32, kCompression, 1, text, extra, 3);
}

}  // namespace pv::SIF_F_FULL_NAMESPACE
