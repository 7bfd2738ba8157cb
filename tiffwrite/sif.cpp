// Integer TIFF writer (layout in strip_layout.h). Each row is turned into
// the bytes it is stored as and fed to the LZW encoder, a chunk at a time:
//   8 bits   one byte per sample
//   16 bits  two bytes per sample, low byte first
//   32 bits  the sample widened to 32 bits, four bytes, low byte first
//   other    samples packed most significant bit first without gaps, the
//            row's last byte completed with zero bits
// so every row begins on a byte boundary and is B = (nx bps + 7) / 8 bytes.
#include "tiffwrite/sif.h"

#include <cstring>
#include <string>

#include "tiffwrite/lzw_encode.h"
#include "tiffwrite/strip_layout.h"
#include "tiffwrite/tiff_out.h"

namespace pv {

namespace {

LzwEncoder encoder;  // one strip of one file at a time

std::uint64_t LzwStripBound(std::uint64_t n) { return LzwEncoder::WorstCaseBytes(n) + 1; }

// Stored bytes of a row, produced in chunks and handed to the encoder.
class RowFeeder {
 public:
  explicit RowFeeder(int bps) : bps_(bps) {}

  void Feed(const std::uint16_t* row, std::uint32_t nx) {
    switch (bps_) {
      case 8:
        for (std::uint32_t j = 0; j < nx; ++j) Put(static_cast<std::uint8_t>(row[j]));
        break;
      case 16:
        for (std::uint32_t j = 0; j < nx; ++j) {
          Put(static_cast<std::uint8_t>(row[j]));
          Put(static_cast<std::uint8_t>(row[j] >> 8));
        }
        break;
      case 32:
        for (std::uint32_t j = 0; j < nx; ++j) {
          Put(static_cast<std::uint8_t>(row[j]));
          Put(static_cast<std::uint8_t>(row[j] >> 8));
          Put(0);
          Put(0);
        }
        break;
      default: {
        const std::uint32_t mask = (1u << bps_) - 1;
        std::uint32_t acc = 0;  // at most 7 + 15 bits pending
        int bits = 0;
        for (std::uint32_t j = 0; j < nx; ++j) {
          acc = (acc << bps_) | (row[j] & mask);
          bits += bps_;
          while (bits >= 8) {
            bits -= 8;
            Put(static_cast<std::uint8_t>(acc >> bits));
          }
        }
        if (bits > 0) Put(static_cast<std::uint8_t>(acc << (8 - bits)));
      }
    }
  }

  void Flush() {
    encoder.EncodeBlock(chunk_, used_);
    used_ = 0;
  }

 private:
  void Put(std::uint8_t b) {
    chunk_[used_++] = b;
    if (used_ == sizeof chunk_) Flush();
  }

  int bps_;
  std::size_t used_ = 0;
  std::uint8_t chunk_[4096];
};

}  // namespace

void StoreImageFile(const char* path, int nx, int ny, int bps, const std::uint16_t* const* rows,
                    const char* description) {
  if (nx < 1 || ny < 1 || bps < 1 || (bps > 16 && bps != 32)) TiffOut::NotStored(path);
  const std::uint64_t row_bytes = (std::uint64_t(nx) * unsigned(bps) + 7) / 8;
  const StripPlan plan = PlanStrips(row_bytes, std::uint32_t(ny));
  const std::size_t text_length = description != nullptr ? std::strlen(description) : 0;
  if (text_length >= 0xFFFFFFFFu) TiffOut::NotStored(path);  // no 32-bit count holds it
  const std::uint32_t length =
      description != nullptr ? static_cast<std::uint32_t>(text_length + 1) : 0;
  const int entries = description != nullptr ? 11 : 10;

  StrippedTiff file(path, plan, length, entries, LzwStripBound);
  file.PutDescription(description);
  RowFeeder feeder(bps);
  for (std::uint32_t k = 0; k < plan.strips; ++k) {
    encoder.InitLZWEncode(file.out());
    const std::uint32_t first = k * plan.rows_per_strip, end = first + plan.RowsOf(k);
    for (std::uint32_t r = first; r < end; ++r) feeder.Feed(rows[r], std::uint32_t(nx));
    feeder.Flush();
    file.EndStrip(encoder.TermLZWEncode());
  }
  file.Finish(std::uint32_t(nx), std::uint32_t(ny), static_cast<std::uint16_t>(bps), 5,
              bps == 1 ? 0 : 1, description, nullptr, 0);
}

}  // namespace pv
