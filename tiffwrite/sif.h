// Integer TIFF writer: one grey image of unsigned samples of 1 to 16 bits,
// little-endian, LZW-compressed on all CPUs, in strips of about 8 KiB of row
// data.
#pragma once

#include <cstdint>
#include <functional>

#include "tiffwrite/tiff_out.h"

namespace pv {

// A source of rows: returns row y (nx samples), either where it already
// lies or after filling `scratch` (room for nx samples) with it. The pointer
// stays valid until the next call with the same scratch. A source may be
// called from several threads at once, for different rows and with
// different scratch.
using IntRows = std::function<const std::uint16_t*(std::uint32_t y, std::uint16_t* scratch)>;

// Stores the image of `rows` (nx unsigned 16-bit samples a row, each below
// 2^bps, top row first) in `path` with `bps` bits per sample. The
// description (null: none) is stored unchanged. "-" is an ordinary name: the
// writer seeks back at the end. An image outside the interface (bps other
// than 1 to 16, a size below 1) or one whose strips could reach 2^32
// bytes is refused with "<path> : file not stored." before anything is
// created; a file that could reach 2^32 bytes is a BigTIFF (tiff_out.h).
void StoreImageFile(const char* path, int nx, int ny, int bps, const IntRows& rows,
                    const char* description);

// The same image as the next page of a file of several pages (tiff_out.h);
// a file of one page is byte for byte StoreImageFile's.
void StoreImagePage(TiffFileOut& file, int nx, int ny, int bps, const IntRows& rows,
                    const char* description);

}  // namespace pv
