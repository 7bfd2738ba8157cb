// Fast floating-point writer: the whole image as one uncompressed strip,
// written strictly front to back, so the output may be standard output or a
// pipe. The strip size is known in advance, hence the directory offset too.
//
// Layout for nx x ny samples, S = 4 nx ny, N = 14 entries with a description
// (13 without), L = description length with its NUL:
//
//   offset        bytes   content
//   0             2       "II"
//   2             2       42
//   4             4       directory offset, 8 + S
//   8             S       pixel data: ny rows of nx little-endian floats
//   8 + S         2       N
//   10 + S        12 N    entries 256 257 258 259 262 [270] 273 277 278 279
//                         284 339 340 341
//   10 + S + 12N  4       next directory: 0
//   182 + S       L       description block, only when L > 4
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "common/sizes.h"
#include "tiffwrite/sif_f.h"
#include "tiffwrite/sif_f_common.h"
#include "tiffwrite/tiff_out.h"

namespace pv::sif_f_fast {

namespace {

// Largest description the minimum-and-maximum format can produce: the
// buffer it is formatted into.
constexpr std::uint64_t kLongestOwnDescription = sizeof SIF_F_desc;

// Refuses, before anything is written, an image whose file would carry
// offsets of 2^32 or more.
void CheckFileSize(const char* path, int nx, int ny, const double* const* rows,
                   const char* description) {
  const std::uint64_t pixels = 4 * std::uint64_t(nx) * std::uint64_t(ny);
  std::uint64_t length = 0;
  if (description == SIF_F_desc) {
    if (FitsTiff32(pixels + 182 + kLongestOwnDescription)) return;
    // Close to the limit the exact length matters: format the extremes
    // into a scratch buffer (the globals stay as they are on refusal).
    double lo, hi;
    sif_f::FindRange(nx, ny, rows, lo, hi);
    char text[sizeof SIF_F_desc];
    std::snprintf(text, sizeof text, SIF_F_form, lo, hi);
    length = std::strlen(text) + 1;
  } else if (description != nullptr) {
    length = std::strlen(description) + 1;
  }
  if (!FitsTiff32(pixels + 182 + length)) TiffOut::NotStored(path);
}

}  // namespace

void StoreImageFile_Float(const char* path, int nx, int ny, const double* const* rows,
                          const char* description) {
  CheckFileSize(path, nx, ny, rows, description);
  TiffOut out(path, /*allow_stdout=*/true);

  const std::uint32_t strip = 4 * std::uint32_t(nx) * std::uint32_t(ny);
  out.Put1('I');
  out.Put1('I');
  out.Put2(42);
  out.Put4(8 + strip);

  double lo = rows[0][0], hi = lo;
  // A row is converted in pieces that fit the output buffer.
  constexpr int kChunk = static_cast<int>(TiffOut::kBufferSize / 4);
  for (int i = 0; i < ny; ++i) {
    const double* row = rows[i];
    sif_f::TrackRange(row, nx, lo, hi);
    for (int j = 0; j < nx; j += kChunk) {
      int n = nx - j < kChunk ? nx - j : kChunk;
      sif_f::ConvertRow(row + j, n, out.Reserve(4 * std::size_t(n)));
      out.Commit(4 * std::size_t(n));
    }
  }
  SIF_F_min = lo;
  SIF_F_max = hi;

  std::uint32_t length;
  const char* text = sif_f::SettleDescription(description, lo, hi, length);
  out.Put2(text != nullptr ? 14 : 13);
  out.PutEntry(256, TiffOut::kLong, 1, std::uint32_t(nx));
  out.PutEntry(257, TiffOut::kLong, 1, std::uint32_t(ny));
  out.PutShortEntry(258, 32);
  out.PutShortEntry(259, 1);
  out.PutShortEntry(262, 1);
  if (text != nullptr) out.PutDescriptionEntry(text, length, 182 + strip);
  out.PutEntry(273, TiffOut::kLong, 1, 8);
  out.PutShortEntry(277, 1);
  out.PutEntry(278, TiffOut::kLong, 1, std::uint32_t(ny));
  out.PutEntry(279, TiffOut::kLong, 1, strip);
  out.PutShortEntry(284, 1);
  out.PutShortEntry(339, 3);
  out.PutEntry(340, TiffOut::kFloat, 1, sif_f::FloatBits(lo));
  out.PutEntry(341, TiffOut::kFloat, 1, sif_f::FloatBits(hi));
  out.Put4(0);
  if (length > 4) out.PutBytes(text, length);
  out.Close();
}

}  // namespace pv::sif_f_fast
