// libFuzzer harness for the LZW encoder: any bytes must come back as they
// went in.
//  - Encoded byte by byte and as one block, the strip is the same, no longer
//    than WorstCaseBytes, and nothing is written beyond the room the
//    writers give a strip.
//  - Stored by the integer writer as an 8-bit image of one row (one strip),
//    the file reads back to the same bytes through our reader, without a
//    warning, and through libtiff (TIFFReadEncodedStrip), without a warning
//    or an error.
// Any difference aborts.
#include <tiffio.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/error.h"
#include "tests/support/fatal.h"
#include "tests/support/row_tables.h"
#include "tiffread/rif.h"
#include "tiffwrite/lzw_encode.h"
#include "tiffwrite/sif.h"

namespace {

// Never destroyed, so that the exit handler that removes the files can use it.
const std::string& ScratchPath() {
  static const std::string* const path = [] {
    auto* p = new std::string("/tmp/pv_lzw_fuzz." + std::to_string(getpid()));
    std::atexit([] { std::remove((ScratchPath() + ".tif").c_str()); });
    return p;
  }();
  return *path;
}

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "lzw round trip: %s\n", what);
    std::abort();
  }
}

void LibtiffMessage(const char*, const char*, va_list) { Check(false, "libtiff complained"); }

void EncodeTwoWays(const std::uint8_t* data, std::size_t size) {
  static pv::LzwEncoder encoder;
  const std::size_t room = pv::LzwEncoder::WorstCaseBytes(size) + pv::LzwEncoder::kSlack;
  constexpr std::uint8_t kGuard = 0xA5;
  std::vector<std::uint8_t> block(room + 16, kGuard), bytes(room + 16, kGuard);
  encoder.StartStrip(block.data());
  encoder.EncodeBlock(data, size);
  const std::size_t n = encoder.EndStrip();
  encoder.StartStrip(bytes.data());
  for (std::size_t i = 0; i < size; ++i) encoder.EncodeBlock(data + i, 1);
  Check(encoder.EndStrip() == n, "byte and block forms differ in length");
  Check(n <= pv::LzwEncoder::WorstCaseBytes(size), "longer than the worst case");
  Check(std::memcmp(block.data(), bytes.data(), n) == 0, "byte and block forms differ");
  for (std::size_t i = room; i < block.size(); ++i)
    Check(block[i] == kGuard && bytes[i] == kGuard, "written beyond the room");
}

void ReadWithOurs(const std::string& path, const std::uint8_t* data, std::size_t size) {
  pv::WarningCapture warnings;
  std::int32_t w = 0, h = 0;
  pvtest::RowTable<std::uint16_t> rows;
  const std::string refusal =
      pvtest::FatalLine([&] { pvtest::ReadRows(path.c_str(), &w, &h, nullptr, &rows, nullptr); });
  if (!refusal.empty()) std::fprintf(stderr, "%s", refusal.c_str());
  Check(refusal.empty(), "our reader refused the file");
  Check(warnings.Take().empty(), "our reader warned");
  Check(w == std::int32_t(size) && h == 1, "our reader: wrong size");
  for (std::size_t i = 0; i < size; ++i) Check(rows[0][i] == data[i], "our reader: bytes differ");
}

void ReadWithLibtiff(const std::string& path, const std::uint8_t* data, std::size_t size) {
  TIFFSetWarningHandler(LibtiffMessage);
  TIFFSetErrorHandler(LibtiffMessage);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  Check(tif != nullptr, "libtiff cannot open");
  Check(TIFFNumberOfStrips(tif) == 1, "libtiff: not one strip");
  std::vector<std::uint8_t> back(size + 1);
  const tmsize_t got = TIFFReadEncodedStrip(tif, 0, back.data(), tmsize_t(back.size()));
  TIFFClose(tif);
  Check(got == tmsize_t(size), "libtiff: wrong length");
  Check(std::memcmp(back.data(), data, size) == 0, "libtiff: bytes differ");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  EncodeTwoWays(data, size);
  if (size == 0 || size > 0x7FFFFFFF) return 0;  // no image of that width
  const std::vector<std::uint16_t> row(data, data + size);
  const std::uint16_t* rows[] = {row.data()};
  const std::string path = ScratchPath() + ".tif";
  pvtest::StoreRows(path.c_str(), int(size), 1, 8, rows, nullptr);
  ReadWithOurs(path, data, size);
  ReadWithLibtiff(path, data, size);
  return 0;
}
