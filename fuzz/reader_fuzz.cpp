// libFuzzer harness for both TIFF readers. The readers take a path, so each
// input is written to a scratch file first. Every output is requested, so
// the whole directory phase and strip phase run; a FatalError is the
// normal end of a bad file. Run with -close_fd_mask=2 to keep the readers'
// warning lines out of the way.
//
// Two kinds of input:
//  - a whole file (it starts with "I" or "M", like a TIFF file);
//  - a point of the format's grid and strip data (first byte 0x80 or
//    above): the harness builds a well-formed directory for the chosen bit
//    depth, sample format, byte order, compression, fill order, predictor,
//    size and rows per strip, and the rest of the input becomes the strips,
//    so that mutations go into the decoders instead of the directory.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "common/tiff.h"
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

class Out {
 public:
  explicit Out(bool big) : big_(big) {}
  void Put2(unsigned v) {
    if (big_) bytes.push_back(std::uint8_t(v >> 8));
    bytes.push_back(std::uint8_t(v));
    if (!big_) bytes.push_back(std::uint8_t(v >> 8));
  }
  void Put4(std::uint32_t v) {
    if (big_) {
      Put2(v >> 16);
      Put2(v & 0xFFFF);
    } else {
      Put2(v & 0xFFFF);
      Put2(v >> 16);
    }
  }
  void Entry(unsigned tag, unsigned type, std::uint32_t count, std::uint32_t value) {
    Put2(tag);
    Put2(type);
    Put4(count);
    if (type == tiff::kShort && count == 1) {
      Put2(value);
      Put2(0);
    } else {
      Put4(value);
    }
  }
  std::vector<std::uint8_t> bytes;

 private:
  bool big_;
};

// A grid point (two bytes, plus size bytes) and strip data as a file.
std::vector<std::uint8_t> GridFile(const std::uint8_t* data, std::size_t size) {
  static constexpr std::uint16_t kBits[16] = {1, 2, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 24, 31, 32, 64};
  const unsigned a = data[0], b = data[1];
  const unsigned bits = kBits[a & 15];
  const bool floating = (a & 0x10) != 0;
  const bool big = b & 1, fill2 = b & 2, predictor = b & 4;
  const unsigned compression = (b >> 3 & 3) == 0   ? tiff::kCompressionNone
                               : (b >> 3 & 3) == 2 ? tiff::kCompressionPackBits
                                                   : tiff::kCompressionLZW;
  const std::uint32_t width = 1u + data[2], height = 1u + (data[3] & 63);
  const std::uint32_t rps = std::max<std::uint32_t>(1, height * (b >> 5) / 7);
  const std::uint32_t strips = (height + rps - 1) / rps;
  data += 4;
  size -= 4;

  Out o(big);
  const std::uint8_t mark = big ? tiff::kBigEndian : tiff::kLittleEndian;
  o.bytes = {mark, mark};
  o.Put2(tiff::kMagic);
  o.Put4(0);
  std::vector<std::uint32_t> offsets, counts;
  for (std::uint32_t s = 0; s < strips; ++s) {
    const std::size_t from = size * s / strips, to = size * (s + 1) / strips;
    offsets.push_back(std::uint32_t(o.bytes.size()));
    counts.push_back(std::uint32_t(to - from));
    o.bytes.insert(o.bytes.end(), data + from, data + to);
  }
  auto table = [&](const std::vector<std::uint32_t>& v) {
    if (v.size() == 1) return v[0];
    const auto at = std::uint32_t(o.bytes.size());
    for (auto x : v) o.Put4(x);
    return at;
  };
  const std::uint32_t offsets_at = table(offsets), counts_at = table(counts);
  const auto ifd = std::uint32_t(o.bytes.size());
  o.Put2(12);
  using namespace tiff;
  o.Entry(kImageWidth, kLong, 1, width);
  o.Entry(kImageLength, kLong, 1, height);
  o.Entry(kBitsPerSample, kShort, 1, bits);
  o.Entry(kCompression, kShort, 1, compression);
  o.Entry(kPhotometricInterpretation, kShort, 1, kBlackIsZero);
  o.Entry(kFillOrder, kShort, 1, fill2 ? kFillLsbFirst : kFillMsbFirst);
  o.Entry(kStripOffsets, kLong, strips, offsets_at);
  o.Entry(kSamplesPerPixel, kShort, 1, 1);
  o.Entry(kRowsPerStrip, kLong, 1, rps);
  o.Entry(kStripByteCounts, kLong, strips, counts_at);
  o.Entry(kPredictor, kShort, 1, predictor ? kPredictorHorizontal : kPredictorNone);
  o.Entry(kSampleFormat, kShort, 1, floating ? kSampleIEEEFloat : kSampleUnsigned);
  o.Put4(0);
  Out i(big);
  i.Put4(ifd);
  for (int k = 0; k < 4; ++k) o.bytes[4 + k] = i.bytes[k];
  return o.bytes;
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
  try {
    pv::RowTable<double> rows;
    pv::ReadImageFile_Float(path, &width, &height, &rows, &description);
  } catch (const pv::FatalError&) {
  }
  try {
    int bits = 0;
    pv::RowTable<std::uint16_t> rows;
    pv::ReadImageFile(path, &width, &height, &bits, &rows, &description);
  } catch (const pv::FatalError&) {
  }
  // Samples as stored, into one image reused from input to input.
  try {
    static pv::StoredImage image;
    image.SetThreads(1);
    pv::ReadImageFile_Float(path, &width, &height, &image, &description);
    std::vector<double> row(static_cast<std::size_t>(image.width()));
    for (std::int32_t y = 0; y < image.height(); ++y) image.RowToDoubles(y, row.data());
  } catch (const pv::FatalError&) {
  }
  // Classification only: the directory phase with nothing requested.
  try {
    pv::ReadImageFile_Float(path, nullptr, nullptr, nullptr, nullptr);
  } catch (const pv::FatalError&) {
  }
  return 0;
}
