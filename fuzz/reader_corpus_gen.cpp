// Writes the reader's seed corpus with libtiff: small images over the grid
// of accepted variants (bit depth x byte order x compression x fill order x
// predictor x strip layout), so that the fuzzer starts from every path.
// Usage: reader_corpus_gen <directory>
#include <tiffio.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// One image as the current directory of `t`.
void WriteImage(TIFF* t, int bits, bool floating, std::uint16_t compression, bool predictor,
                bool fill2, std::uint32_t rps, std::uint32_t w, std::uint32_t h) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, floating ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
  if (predictor) TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  if (fill2) TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rps);
  TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, "0 255");
  const std::size_t row_bytes = (std::size_t(w) * bits + 7) / 8;
  std::vector<std::uint8_t> row(row_bytes);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::size_t i = 0; i < row_bytes; ++i)
      row[i] = static_cast<std::uint8_t>(40 * std::sin(0.3 * double(i + y)) + 60 + (i * 7 + y) % 5);
    if (TIFFWriteScanline(t, row.data(), y, 0) < 0) break;
  }
}

void Write(const std::string& path, int bits, bool floating, std::uint16_t compression, bool predictor,
           bool big, bool fill2, std::uint32_t rps, std::uint32_t w, std::uint32_t h) {
  TIFF* t = TIFFOpen(path.c_str(), big ? "wb" : "wl");
  if (t == nullptr) return;
  WriteImage(t, bits, floating, compression, predictor, fill2, rps, w, h);
  TIFFClose(t);
}

// A stack in one file (`mode` "wl", "w8" for BigTIFF, ...): pages of
// several sizes and depths, the second a reduced-resolution copy.
void WritePages(const std::string& path, const char* mode) {
  TIFF* t = TIFFOpen(path.c_str(), mode);
  if (t == nullptr) return;
  WriteImage(t, 32, true, COMPRESSION_LZW, false, false, 3, 5, 7);
  TIFFWriteDirectory(t);
  TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
  WriteImage(t, 8, false, COMPRESSION_NONE, false, false, 2, 3, 4);
  TIFFWriteDirectory(t);
  WriteImage(t, 16, false, COMPRESSION_PACKBITS, false, false, 2, 6, 5);
  TIFFWriteDirectory(t);
  WriteImage(t, 64, true, COMPRESSION_NONE, false, false, 7, 4, 7);
  TIFFClose(t);
}

// A grid-mode seed of the harness: the grid point, then the one strip
// libtiff wrote for it.
void WriteGridSeed(const std::string& dir, unsigned bits_index, int bits, bool floating,
                   std::uint16_t compression, bool predictor, bool big, bool fill2) {
  const std::uint32_t w = 9, h = 7;
  const std::string tmp = dir + "/.grid.tif";
  Write(tmp, bits, floating, compression, predictor, big, fill2, h, w, h);
  TIFF* t = TIFFOpen(tmp.c_str(), "r");
  if (t == nullptr) return;
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(TIFFRawStripSize(t, 0)));
  const tmsize_t got = TIFFReadRawStrip(t, 0, raw.data(), static_cast<tmsize_t>(raw.size()));
  TIFFClose(t);
  std::remove(tmp.c_str());
  if (got < 0) return;
  const unsigned c = compression == COMPRESSION_NONE ? 0 : compression == COMPRESSION_LZW ? 1 : 2;
  std::vector<std::uint8_t> seed = {
      std::uint8_t(0x80 | (floating ? 0x10 : 0) | bits_index),
      std::uint8_t(0xE0 | c << 3 | (predictor ? 4 : 0) | (fill2 ? 2 : 0) | (big ? 1 : 0)),
      std::uint8_t(w - 1), std::uint8_t(h - 1)};
  seed.insert(seed.end(), raw.begin(), raw.begin() + got);
  const std::string name = dir + "/grid" + std::to_string(bits) + (floating ? "f" : "i") + "_" +
                           std::to_string(compression) + (predictor ? "p" : "") + (big ? "m" : "") +
                           (fill2 ? "r" : "");
  if (std::FILE* f = std::fopen(name.c_str(), "wb")) {
    std::fwrite(seed.data(), 1, seed.size(), f);
    std::fclose(f);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage : reader_corpus_gen directory\n");
    return 1;
  }
  const std::string dir = argv[1];
  const std::uint16_t comps[] = {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS};
  for (std::uint16_t c : comps) {
    for (int bits : {1, 4, 8, 12, 16, 24, 32}) {
      const bool big = bits % 3 == 0, fill2 = bits == 4;
      const bool pred = c == COMPRESSION_LZW && (bits == 8 || bits == 16);
      Write(dir + "/int" + std::to_string(bits) + "_" + std::to_string(c) + ".tif", bits, false, c,
            pred, big, fill2, bits == 8 ? 1 : 3, 9, 7);
    }
    for (int bits : {32, 64})
      Write(dir + "/float" + std::to_string(bits) + "_" + std::to_string(c) + ".tif", bits, true, c,
            false, bits == 64, false, 7, 5, 7);
  }
  // Grid-mode seeds: bit depth index as the harness counts it.
  const struct {
    unsigned index;
    int bits;
  } depths[] = {{0, 1}, {3, 4}, {6, 8}, {8, 12}, {10, 16}, {12, 24}, {14, 32}};
  for (std::uint16_t c : comps)
    for (const auto& d : depths) {
      const bool pred = c == COMPRESSION_LZW && (d.bits == 8 || d.bits == 16);
      WriteGridSeed(dir, d.index, d.bits, false, c, pred, d.bits == 16, d.bits == 4);
    }
  WriteGridSeed(dir, 14, 32, true, COMPRESSION_LZW, false, true, false);
  WriteGridSeed(dir, 15, 64, true, COMPRESSION_PACKBITS, false, false, true);
  // One larger LZW strip that reaches 10-bit codes.
  Write(dir + "/int8_lzw_wide.tif", 8, false, COMPRESSION_LZW, false, false, false, 40, 64, 40);
  // Stacks in one file: later pages, BigTIFF in both byte orders.
  WritePages(dir + "/pages.tif", "wl");
  WritePages(dir + "/pages_big.tif", "w8l");
  WritePages(dir + "/pages_big_m.tif", "w8b");
  return 0;
}
