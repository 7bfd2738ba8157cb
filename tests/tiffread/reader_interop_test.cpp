// Files written with libtiff read to exactly the values libtiff reads, and
// without a warning: every sample kind, compression, predictor and byte
// order, in strips and in tiles.
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "tests/tiffread/reader_test_util.h"
#include "tests/support/libtiff_oracle.h"
#include "tests/support/tiff_layout.h"

namespace pvtest {
namespace {

struct Variant {
  int bits = 8;
  bool floating = false;
  std::uint16_t compression = COMPRESSION_NONE;
  std::uint16_t predictor = PREDICTOR_NONE;
  bool big_endian = false;
  bool reverse_fill = false;
  std::uint32_t rows_per_strip = 0;  // 0: the whole image
  std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
  std::uint32_t width = 37, height = 23;
  bool is_signed = false;  // SampleFormat 2
  std::uint32_t tile = 0;  // tiles of tile x tile samples (0: strips)
  bool planar2 = false;    // PlanarConfiguration 2
};

bool IsDeflate(const Variant& v) {
  return v.compression == COMPRESSION_ADOBE_DEFLATE || v.compression == COMPRESSION_DEFLATE;
}

std::string Name(const Variant& v) {
  std::string n = std::to_string(v.bits) + (v.floating ? "f" : v.is_signed ? "s" : "i");
  n += v.compression == COMPRESSION_LZW ? "_lzw" : v.compression == COMPRESSION_PACKBITS ? "_mpb"
       : v.compression == COMPRESSION_ADOBE_DEFLATE ? "_zip8" : v.compression == COMPRESSION_DEFLATE ? "_zip" : "_none";
  if (v.predictor != PREDICTOR_NONE) n += "_pred" + std::to_string(v.predictor);
  if (v.tile != 0) n += "_tile" + std::to_string(v.tile);
  if (v.planar2) n += "_planar2";
  n += v.big_endian ? "_be" : "_le";
  if (v.reverse_fill) n += "_fill2";
  n += "_rps" + std::to_string(v.rows_per_strip);
  if (v.photometric == PHOTOMETRIC_MINISWHITE) n += "_white";
  return n + "_" + std::to_string(v.width) + "x" + std::to_string(v.height);
}

// CT-like content: smooth structure plus noise, over the full range of the
// sample width (so every bit of every sample is exercised).
std::vector<std::uint8_t> Content(const Variant& v, std::uint32_t seed) {
  std::mt19937 rng(seed);
  const std::size_t row_bytes = (std::size_t(v.width) * v.bits + 7) / 8;
  std::vector<std::uint8_t> data(row_bytes * v.height);
  if (v.floating && v.bits == 16) {
    // Any half, NaNs and infinities among them.
    for (auto& b : data) b = static_cast<std::uint8_t>(rng());
    return data;
  }
  if (v.floating) {
    std::normal_distribution<double> noise(0, 5);
    for (std::uint32_t y = 0; y < v.height; ++y)
      for (std::uint32_t x = 0; x < v.width; ++x) {
        const double value = 1000.0 * std::sin(x * 0.1) * std::cos(y * 0.07) + noise(rng);
        std::uint8_t* p = data.data() + y * row_bytes + std::size_t(x) * (v.bits / 8);
        if (v.bits == 32) {
          const float f = static_cast<float>(value);
          std::memcpy(p, &f, 4);
        } else {
          std::memcpy(p, &value, 8);
        }
      }
    return data;
  }
  // Integers: written through libtiff's native layout (host order for 16
  // and 32 bits, packed MSB-first otherwise).
  const std::uint64_t top = v.bits >= 32 ? 0xFFFFFFFFull : (1ull << v.bits) - 1;
  std::uniform_int_distribution<std::uint64_t> any(0, top);
  for (std::uint32_t y = 0; y < v.height; ++y) {
    std::uint8_t* row = data.data() + y * row_bytes;
    for (std::uint32_t x = 0; x < v.width; ++x) {
      std::uint64_t s = (rng() % 4 == 0) ? any(rng) : (top * (x + y) / (v.width + v.height));
      s &= top;
      if (v.bits == 16) {
        const std::uint16_t u = static_cast<std::uint16_t>(s);
        std::memcpy(row + 2 * x, &u, 2);
      } else if (v.bits == 32) {
        const std::uint32_t u = static_cast<std::uint32_t>(s);
        std::memcpy(row + 4 * x, &u, 4);
      } else {
        for (int b = v.bits - 1; b >= 0; --b) {
          const std::uint64_t bit = std::uint64_t(x) * v.bits + (v.bits - 1 - b);
          if ((s >> b) & 1) row[bit / 8] |= static_cast<std::uint8_t>(0x80u >> (bit % 8));
        }
      }
    }
  }
  return data;
}

void WriteWithLibtiff(const std::string& path, const Variant& v, const std::vector<std::uint8_t>& data) {
  TIFF* t = TIFFOpen(path.c_str(), v.big_endian ? "wb" : "wl");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, v.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, v.height);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, v.bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, v.floating ? SAMPLEFORMAT_IEEEFP : v.is_signed ? SAMPLEFORMAT_INT : SAMPLEFORMAT_UINT);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, v.photometric);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, v.planar2 ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(t, TIFFTAG_COMPRESSION, v.compression);
  if (v.predictor != PREDICTOR_NONE) TIFFSetField(t, TIFFTAG_PREDICTOR, v.predictor);
  if (v.reverse_fill) TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, "0.5 1.25");
  const std::size_t row_bytes = (std::size_t(v.width) * v.bits + 7) / 8;
  if (v.tile != 0) {
    // Each tile's rows cut from the image's (on whole bytes: the tile width
    // is a multiple of 8), zeros past its edges.
    TIFFSetField(t, TIFFTAG_TILEWIDTH, v.tile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, v.tile);
    const std::size_t tile_row = std::size_t(v.tile) * v.bits / 8;
    std::uint32_t index = 0;
    for (std::uint32_t y = 0; y < v.height; y += v.tile)
      for (std::uint32_t x = 0; x < v.width; x += v.tile) {
        std::vector<std::uint8_t> tile(tile_row * v.tile, 0);
        const std::size_t from = std::size_t(x) * v.bits / 8;
        const std::size_t n = std::min(tile_row, row_bytes - from);
        for (std::uint32_t r = 0; r < v.tile && y + r < v.height; ++r)
          std::memcpy(tile.data() + r * tile_row, data.data() + (y + r) * row_bytes + from, n);
        ASSERT_GE(TIFFWriteEncodedTile(t, index++, tile.data(), static_cast<tmsize_t>(tile.size())), 0);
      }
    TIFFClose(t);
    return;
  }
  const std::uint32_t rps = v.rows_per_strip == 0 ? v.height : v.rows_per_strip;
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rps);
  for (std::uint32_t s = 0, y = 0; y < v.height; ++s, y += rps) {
    const std::uint32_t n = std::min(rps, v.height - y);
    std::vector<std::uint8_t> strip(data.begin() + y * row_bytes, data.begin() + (y + n) * row_bytes);
    ASSERT_GE(TIFFWriteEncodedStrip(t, s, strip.data(), static_cast<tmsize_t>(strip.size())), 0);
  }
  TIFFClose(t);
}

std::vector<Variant> Grid() {
  std::vector<Variant> out;
  for (std::uint16_t c : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS})
    for (int bits : {1, 2, 4, 8, 12, 16, 24, 32})
      for (bool pred : {false, true})
        for (bool big : {false, true}) {
          // libtiff differences 8, 16 and 32-bit samples, and only under LZW
          // (of the compressions read here).
          if (pred && (c != COMPRESSION_LZW || (bits != 8 && bits != 16 && bits != 32))) continue;
          Variant v;
          v.compression = c;
          v.bits = bits;
          v.predictor = pred ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE;
          v.big_endian = big;
          v.rows_per_strip = bits % 3 == 0 ? 5 : 0;
          out.push_back(v);
        }
  for (std::uint16_t c : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS})
    for (int bits : {32, 64})
      for (bool big : {false, true}) {
        Variant v;
        v.compression = c;
        v.bits = bits;
        v.floating = true;
        v.big_endian = big;
        out.push_back(v);
      }
  for (std::uint16_t c : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS})
    for (std::uint32_t rps : {1u, 7u}) {
      Variant v;
      v.compression = c;
      v.bits = 16;
      v.rows_per_strip = rps;
      v.reverse_fill = rps == 7;
      out.push_back(v);
      v.bits = 4;
      v.photometric = PHOTOMETRIC_MINISWHITE;
      out.push_back(v);
    }
  // Rows longer than the readers' conversion chunks, so that unpacking,
  // differencing and LZW strings run across chunk boundaries.
  const Variant wide[] = {
      {16, false, COMPRESSION_LZW, PREDICTOR_HORIZONTAL, false, false, 2, PHOTOMETRIC_MINISBLACK, 70001, 3},
      {12, false, COMPRESSION_NONE, PREDICTOR_NONE, true, false, 0, PHOTOMETRIC_MINISBLACK, 70001, 2},
      {1, false, COMPRESSION_PACKBITS, PREDICTOR_NONE, false, false, 1, PHOTOMETRIC_MINISBLACK, 600001, 2},
      {8, false, COMPRESSION_LZW, PREDICTOR_NONE, false, true, 0, PHOTOMETRIC_MINISBLACK, 140001, 2},
      {32, true, COMPRESSION_LZW, PREDICTOR_NONE, true, false, 1, PHOTOMETRIC_MINISBLACK, 20001, 2},
  };
  out.insert(out.end(), std::begin(wide), std::end(wide));

  // Signed samples, differenced or not.
  for (std::uint16_t c : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE})
    for (int bits : {8, 16, 32})
      for (bool pred : {false, true})
        for (bool big : {false, true}) {
          if (pred && c == COMPRESSION_NONE) continue;
          Variant v{bits, false, c, std::uint16_t(pred ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE), big};
          v.is_signed = true;
          v.rows_per_strip = 5;
          out.push_back(v);
        }
  // Deflate under both numbers.
  for (std::uint16_t c : {COMPRESSION_ADOBE_DEFLATE, COMPRESSION_DEFLATE})
    for (int bits : {1, 4, 8, 12, 16, 24, 32})
      for (bool pred : {false, true})
        for (bool big : {false, true}) {
          if (pred && bits != 8 && bits != 16 && bits != 32) continue;
          Variant v{bits, false, c, std::uint16_t(pred ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE), big};
          v.rows_per_strip = bits % 3 == 0 ? 5 : 0;
          v.reverse_fill = bits == 4 && big;
          out.push_back(v);
        }
  // Half floats, and the floating-point predictor of every float width.
  for (std::uint16_t c : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS, COMPRESSION_ADOBE_DEFLATE,
                          COMPRESSION_DEFLATE})
    for (int bits : {16, 32, 64})
      for (bool pred : {false, true})
        for (bool big : {false, true}) {
          const bool coded = c == COMPRESSION_LZW || IsDeflate(Variant{8, false, c});
          if ((pred && !coded) || (!pred && bits != 16 && !IsDeflate(Variant{8, false, c}))) continue;
          Variant v{bits, true, c, std::uint16_t(pred ? PREDICTOR_FLOATINGPOINT : PREDICTOR_NONE), big};
          v.rows_per_strip = 4;
          out.push_back(v);
        }
  // Tiles, with partial tiles at the right and bottom edges.
  struct Kind {
    int bits;
    bool floating;
    std::uint16_t predictor;
  };
  for (std::uint16_t c : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS, COMPRESSION_ADOBE_DEFLATE})
    for (const Kind k : {Kind{8, false, PREDICTOR_NONE}, Kind{16, false, PREDICTOR_HORIZONTAL}, Kind{1, false, PREDICTOR_NONE},
                         Kind{12, false, PREDICTOR_NONE}, Kind{32, true, PREDICTOR_FLOATINGPOINT}, Kind{16, true, PREDICTOR_NONE},
                         Kind{64, true, PREDICTOR_NONE}})
      for (std::uint32_t tile : {16u, 32u}) {
        const bool coded = c == COMPRESSION_LZW || IsDeflate(Variant{8, false, c});
        Variant v{k.bits, k.floating, c, std::uint16_t(coded ? k.predictor : PREDICTOR_NONE), tile == 32};
        v.tile = tile;
        out.push_back(v);
      }
  // One sample in planes of its own.
  for (std::uint16_t c : {COMPRESSION_NONE, COMPRESSION_ADOBE_DEFLATE}) {
    Variant v{16, false, c};
    v.planar2 = true;
    out.push_back(v);
    v.tile = 16;
    out.push_back(v);
  }
  // Images large enough to be read on several threads, in tiles and in
  // strips.
  for (std::uint16_t c : {COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE}) {
    Variant v{16, false, c, PREDICTOR_HORIZONTAL, false, false, 16};
    v.width = 2000;
    v.height = 1100;
    out.push_back(v);
    v.tile = 128;
    out.push_back(v);
  }
  return out;
}

TEST(Reader, ReadsWhatLibtiffReads) {
  for (const Variant& v : Grid()) {
    SCOPED_TRACE(Name(v));
    const TempTiff t;
    WriteWithLibtiff(t.path, v, Content(v, 17));
    if (IsDeflate(v) && !kDeflateRead) {
      EXPECT_EQ(ReadFloat(t.path).error, DeflateOr(""));
      continue;
    }
    LibtiffImage expected = ReadWithLibtiff(t.path);
    EXPECT_LIBTIFF_CLEAN(expected);
    EXPECT_EQ(expected.values.size(), std::size_t(v.width) * v.height);
    // libtiff turns the 3-byte samples of a big-endian file around (it takes
    // them as integers in the file's byte order); ours are packed most
    // significant bit first in either byte order, so they are the stored
    // bytes in their stored order.
    if (v.bits == 24 && v.big_endian) {
      for (double& x : expected.values) {
        const auto u = static_cast<std::uint32_t>(x);
        x = (u & 0xFF) << 16 | (u & 0xFF00) | u >> 16;
      }
    }
    const ReadResult f = ExpectClean(t.path, v.bits, v.floating, expected.values);
    EXPECT_EQ(f.width, std::int32_t(v.width));
    EXPECT_EQ(f.height, std::int32_t(v.height));
    EXPECT_EQ(f.description, std::string("0.5 1.25\0", 9));
  }
}

// Horizontal differencing of floating-point samples is refused, whatever
// the writer (the floating-point predictor is read, in the table above).
TEST(Reader, LibtiffFloatPredictorsRefused) {
  for (int bits : {16, 32}) {
    Variant v{bits, true, COMPRESSION_LZW, PREDICTOR_HORIZONTAL};
    v.width = 4;
    v.height = 2;
    const TempTiff t;
    WriteWithLibtiff(t.path, v, Content(v, 17));
    EXPECT_EQ(ReadFloat(t.path).error, "unapplicable differencing predictor.");
  }
}

// libtiff ends a strip with a clear code at 12 bits and the end code at 9
// bits when its table fills on the strip's last data code. Such strips read
// without a warning. Every prefix of one noisy row from 3836 bytes (the
// fewest that can fill the table) on is written as one strip: the number of
// codes grows by at most one per byte, so some length makes the table fill
// on the last code (for this row, 3930 bytes; the range keeps a margin).
bool EndsLikeClearThenEnd(const Bytes& file, std::uint32_t offset, std::uint32_t count) {
  // The last 21 bits before the 0 to 7 pad bits: 256 in 12 bits, 257 in 9
  // (a data code ending in 0x20 followed by a 12-bit end code looks alike).
  const std::uint64_t bits = std::uint64_t{count} * 8;
  for (unsigned pad = 0; pad < 8; ++pad) {
    if (bits < 21 + pad) return false;
    std::uint32_t v = 0;
    for (std::uint64_t b = bits - pad - 21; b < bits - pad; ++b)
      v = v << 1 | ((file[offset + b / 8] >> (7 - b % 8)) & 1u);
    if (v == (256u << 9 | 257u)) return true;
  }
  return false;
}

TEST(Reader, LibtiffStripsEndingInClearThenEnd) {
  std::mt19937 rng(7);
  std::vector<std::uint8_t> noise(6000);
  for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
  const TempTiff t;
  int candidates = 0;
  for (std::uint32_t width = 3836; width <= 4300; ++width) {
    SCOPED_TRACE(width);
    Variant v{8, false, COMPRESSION_LZW};
    v.rows_per_strip = 1;
    v.width = width;
    v.height = 1;
    WriteWithLibtiff(t.path, v, noise);
    ExpectClean(t.path, 8, false, std::vector<double>(noise.begin(), noise.begin() + width));
    const Bytes file = ReadFile(t.path);
    const StripTable strips = Strips(file, ParseDirectory(file));
    candidates += EndsLikeClearThenEnd(file, strips.offsets.at(0), strips.counts.at(0));
  }
  EXPECT_GE(candidates, 1);
}

}  // namespace
}  // namespace pvtest
