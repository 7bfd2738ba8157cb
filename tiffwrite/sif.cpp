// Integer TIFF writer (layout in directory.h). Each row is turned into the
// bytes it is stored as and fed to the LZW encoder; the strips are
// compressed on all CPUs (lzw_strips.h). The stored bytes of a row:
//   8 bits   one byte per sample
//   16 bits  two bytes per sample, low byte first
//   other    samples packed most significant bit first without gaps, the
//            row's last byte completed with zero bits
// so every row begins on a byte boundary and is B = (nx bps + 7) / 8 bytes.
#include "common/error.h"
#include "common/messages.h"
#include "tiffwrite/sif.h"

#include <bit>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "tiffwrite/directory.h"
#include "tiffwrite/lzw_strips.h"
#include "tiffwrite/tiff_out.h"

namespace pv {

namespace {

// The stored bytes of a row of nx samples.
void PackRow(const std::uint16_t* row, std::uint32_t nx, int bps, std::uint8_t* out) {
  switch (bps) {
    case 8:
      for (std::uint32_t j = 0; j < nx; ++j) out[j] = static_cast<std::uint8_t>(row[j]);
      break;
    case 16:
      if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, row, 2 * std::size_t(nx));
      } else {
        for (std::uint32_t j = 0; j < nx; ++j) {
          out[2 * j] = static_cast<std::uint8_t>(row[j]);
          out[2 * j + 1] = static_cast<std::uint8_t>(row[j] >> 8);
        }
      }
      break;
    default: {
      const std::uint32_t mask = (1u << bps) - 1;
      std::uint32_t acc = 0;  // at most 7 + 15 bits pending
      int bits = 0;
      for (std::uint32_t j = 0; j < nx; ++j) {
        acc = (acc << bps) | (row[j] & mask);
        bits += bps;
        while (bits >= 8) {
          bits -= 8;
          *out++ = static_cast<std::uint8_t>(acc >> bits);
        }
      }
      if (bits > 0) *out = static_cast<std::uint8_t>(acc << (8 - bits));
    }
  }
}

}  // namespace

void StoreImageFile(const char* path, int nx, int ny, int bps, const IntRows& rows,
                    const char* description) {
  TiffFileOut file(path, /*allow_stdout=*/false);
  StoreImagePage(file, nx, ny, bps, rows, description);
}

void StoreImagePage(TiffFileOut& file, int nx, int ny, int bps, const IntRows& rows,
                    const char* description) {
  const char* path = file.path();
  if (nx < 1 || ny < 1 || bps < 1 || bps > 16) Error(path, msg::kFileNotStored);
  const auto width = std::uint32_t(nx), height = std::uint32_t(ny);
  const std::uint64_t row_bytes = (std::uint64_t(width) * unsigned(bps) + 7) / 8;
  const StripPlan plan = PlanStrips(row_bytes, height);
  const std::optional<Description> text = Description::Of(description);
  if (!text) Error(path, msg::kFileNotStored);

  ImageTags tags;
  tags.width = width;
  tags.height = height;
  tags.bits = static_cast<std::uint16_t>(bps);
  tags.compression = tiff::kCompressionLZW;
  tags.photometric = bps == 1 ? tiff::kWhiteIsZero : tiff::kBlackIsZero;
  tags.description = *text;
  StrippedTiff::CheckSize(file, plan, tags, LzwStripBound);

  LzwStrips strips(path, plan);
  const SlotRows<std::uint16_t> scratch(path, strips.slots(), width, row_bytes);
  StrippedTiff page(file, plan, tags, LzwStripBound);
  strips.Write(page, [&](std::uint32_t y, std::size_t slot) -> const std::uint8_t* {
    const std::uint16_t* row = rows(y, scratch.samples(slot));
    // Rows of 16-bit samples are stored as they lie in a little-endian host.
    if (bps == 16 && std::endian::native == std::endian::little)
      return reinterpret_cast<const std::uint8_t*>(row);
    PackRow(row, width, bps, scratch.bytes(slot));
    return scratch.bytes(slot);
  });
  page.Finish();
}

}  // namespace pv
