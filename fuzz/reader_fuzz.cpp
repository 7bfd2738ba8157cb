// libFuzzer harness for both TIFF readers. The readers take a path, so each
// input is written to a scratch file first. Every output is requested, so
// the whole directory phase and strip phase run; a FatalError is the
// normal end of a bad file. Run with -close_fd_mask=2 to keep the readers'
// warning lines out of the way.
//
// Every page of a stack in one file is read too, as pvstack walks them.
//
// Two kinds of input:
//  - a whole file (it starts with "I" or "M", like a TIFF file);
//  - a point of the format's grid and block data (first byte 0x80 or
//    above): the harness builds a well-formed directory for the chosen bit
//    depth, sample format, byte order, compression, fill order, predictor,
//    size, and rows per strip or tile size, and the rest of the input
//    becomes the strips or tiles, so that mutations go into the decoders
//    instead of the directory.
//
// Grid point: byte 0 = 0x80 | signed 0x20 | floating 0x10 | bit depth
// index; byte 1 = rows per strip (3 bits) | compression (2 bits: none,
// LZW, PackBits, Deflate) | predictor 4 (the floating-point one for
// floating samples) | FillOrder 2 | big-endian 1; byte 2 = width − 1;
// byte 3 = tile size 32 (0x80, else 16) | tiled 0x40 | height − 1.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "common/tiff.h"
#include "tests/support/fatal.h"
#include "tests/support/tiff_builder.h"
#include "tests/support/image_access.h"
#include "tests/support/row_tables.h"
#include "tiffread/rif.h"
#include "tiffread/rif_f.h"

namespace {

namespace tiff = pv::tiff;

// Never destroyed, so that the exit handler that removes the file can use it.
const std::string& ScratchPath() {
  static const std::string* const path = [] {
    auto* p = new std::string("/tmp/pv_reader_fuzz." + std::to_string(getpid()) + ".tif");
    std::atexit([] { std::remove(ScratchPath().c_str()); });
    return p;
  }();
  return *path;
}

bool WriteInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(ScratchPath().c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

// A grid point (two bytes, plus size bytes) and block data as a file.
std::vector<std::uint8_t> GridFile(const std::uint8_t* data, std::size_t size) {
  using namespace tiff;
  static constexpr std::uint16_t kBits[16] = {1, 2, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 24, 31, 32, 64};
  static constexpr std::uint16_t kCompressions[4] = {kCompressionNone, kCompressionLZW, kCompressionPackBits,
                                                     kCompressionDeflate};
  const unsigned a = data[0], b = data[1];
  const unsigned bits = kBits[a & 15];
  const bool floating = (a & 0x10) != 0, is_signed = (a & 0x20) != 0;
  const bool big = b & 1, fill2 = b & 2, predictor = b & 4;
  const unsigned compression = kCompressions[b >> 3 & 3];
  const std::uint32_t width = 1u + data[2], height = 1u + (data[3] & 63);
  const bool tiled = (data[3] & 0x40) != 0;
  const std::uint32_t tile = (data[3] & 0x80) != 0 ? 32 : 16;
  const std::uint32_t rps = std::max<std::uint32_t>(1, height * (b >> 5) / 7);
  const std::uint32_t blocks =
      tiled ? ((width + tile - 1) / tile) * ((height + tile - 1) / tile) : (height + rps - 1) / rps;
  data += 4;
  size -= 4;

  pvtest::TiffBuilder file(big);
  for (std::uint32_t s = 0; s < blocks; ++s)
    file.Strip(pvtest::Bytes(data + size * s / blocks, data + size * (s + 1) / blocks));
  file.Long(kImageWidth, width)
      .Long(kImageLength, height)
      .Short(kBitsPerSample, bits)
      .Short(kCompression, compression)
      .Short(kPhotometricInterpretation, kBlackIsZero)
      .Short(kFillOrder, fill2 ? kFillLsbFirst : kFillMsbFirst)
      .Short(kSamplesPerPixel, 1)
      .Short(kPredictor, !predictor ? kPredictorNone : floating ? kPredictorFloatingPoint : kPredictorHorizontal)
      .Short(kSampleFormat, floating ? kSampleIEEEFloat : is_signed ? kSampleSigned : kSampleUnsigned);
  if (tiled) file.TileTables(tile, tile);
  else file.StripOffsets().Long(kRowsPerStrip, rps).StripByteCounts();
  return file.Build();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> grid;
  if (size >= 4 && data[0] >= 0x80) {
    grid = GridFile(data, size);
    data = grid.data();
    size = grid.size();
  }
  if (!WriteInput(data, size)) return 0;
  const char* path = ScratchPath().c_str();
  std::int32_t width = 0, height = 0;
  std::optional<std::string> description;
  pvtest::FatalLine([&] {
    pvtest::RowTable<double> rows;
    pvtest::ReadRows_Float(path, &width, &height, &rows, &description);
  });
  pvtest::FatalLine([&] {
    int bits = 0;
    pvtest::RowTable<std::uint16_t> rows;
    pvtest::ReadRows(path, &width, &height, &bits, &rows, &description);
  });
  // Samples as stored, into one image reused from input to input.
  pvtest::FatalLine([&] {
    static pv::StoredImage image;
    pv::StoredImageAccess::SetThreads(image, 1);
    pv::ReadImageFile_Float(path, &width, &height, &image, &description);
    pvtest::row_tables::Copy<double>(path, image);  // every sample touched
  });
  // Classification only: the directory phase with nothing requested.
  pvtest::FatalLine([&] { pv::ReadImageFile_Float(path, nullptr, nullptr, nullptr, nullptr); });
  // Every later page, as a stack's reader walks them, each read whole.
  pvtest::FatalLine([&] {
    static pv::StoredImage image;
    pv::StoredImageAccess::SetThreads(image, 1);
    pv::TiffPages pages(path);
    while (pages.Next()) pv::ReadPage_Float(pages, &width, &height, &image, &description);
  });
  return 0;
}
