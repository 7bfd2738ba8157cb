// Floating-point TIFF writers and the globals they share with their callers.
//
// StoreImageFile_Float(path, nx, ny, rows, description) writes an image of
// doubles as 32-bit IEEE samples. The rows come from a source (FloatRows),
// top row first. The description is null (none), the address of SIF_F_desc
// (the writer writes the image's minimum and maximum into it, in the range
// form of common/description.h: SIF_F_form where its six decimals read
// back close enough, else 17 digits) or any other text (stored unchanged). On return SIF_F_min and SIF_F_max hold the
// extremes of the image just written, by the suite's range rule (those of
// the finite values; NaN, NaN for an image without one), over the doubles
// as given, before their rounding to single precision.
//
// One writer, three file layouts, chosen by the caller as a value:
//   FloatLayout::kOneStrip   - one uncompressed strip, written front to
//                              back ("-" is standard output): fast_float_writer.cpp
//   FloatLayout::kStrips     - strips of about 8 KiB, uncompressed:
//                              full_float_writer.cpp without LZW
//   FloatLayout::kLzwStrips  - strips of about 8 KiB, LZW-compressed on all
//                              CPUs: full_float_writer.cpp with LZW
#pragma once

#include <cstdint>
#include <functional>

#include "tiffwrite/tiff_out.h"

namespace pv {

// The six-decimal form of the description of the extremes: "%lf\t%lf".
extern const char SIF_F_form[2048];
extern char SIF_F_desc[2048];
extern double SIF_F_min;
extern double SIF_F_max;

// A source of rows: returns row y (nx doubles), either where it already
// lies or after filling `scratch` (room for nx doubles) with it. The
// pointer stays valid until the next call with the same scratch. A source
// may be called from several threads at once, for different rows and with
// different scratch, and more than once for a row (the full writer finds
// the extremes before it writes the strips). The fast writer asks for each
// row once, top to bottom, on the calling thread, so its source may read
// the rows from a stream; only an image within 2 KiB of the 4 GiB limit
// with the description of the extremes is read twice, first on all CPUs
// (the exact length of that description decides whether the file is a
// classic TIFF or a BigTIFF, tiff_out.h).
using FloatRows = std::function<const double*(std::uint32_t y, double* scratch)>;

enum class FloatLayout { kOneStrip, kStrips, kLzwStrips };

void StoreImageFile_Float(const char* path, int nx, int ny, const FloatRows& rows,
                          const char* description, FloatLayout layout);

// The same image as the next page of a file of several pages (tiff_out.h;
// "-" is standard output for the one-strip layout only); a file of one page
// is byte for byte StoreImageFile_Float's. SIF_F_min, SIF_F_max and
// SIF_F_desc are those of the page.
void StoreImagePage_Float(TiffFileOut& file, int nx, int ny, const FloatRows& rows,
                          const char* description, FloatLayout layout);

}  // namespace pv
