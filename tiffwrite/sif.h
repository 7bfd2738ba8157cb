// Integer TIFF writer: one grey image of unsigned samples of 1 to 16 bits
// (32 also accepted), little-endian, LZW-compressed, in strips of about
// 8 KiB of row data.
#pragma once

#include <cstdint>

namespace pv {

// Stores `rows` (ny pointers to rows of nx unsigned 16-bit samples, each
// below 2^bps, top row first) in `path` with `bps` bits per sample. The
// description (null: none) is stored unchanged. "-" is an ordinary name: the
// writer seeks back at the end. An image outside the interface (bps other
// than 1 to 16 and 32, a size below 1) or one whose file could reach 2^32
// bytes is refused with "<path> : file not stored." before anything is
// created.
void StoreImageFile(const char* path, int nx, int ny, int bps, const std::uint16_t* const* rows,
                    const char* description);

}  // namespace pv
