// Writes the reader's seed corpus with libtiff: small images over the grid
// of accepted variants (bit depth x sample format x byte order x
// compression x fill order x predictor x strips or tiles), and stacks of
// pages in classic TIFF and BigTIFF, so that the fuzzer starts from every
// path.
// Usage: reader_corpus_gen <directory>
#include <tiffio.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Content of a row: a smooth wave and a little noise.
std::uint8_t Byte(std::size_t i, std::uint32_t y) {
  return static_cast<std::uint8_t>(40 * std::sin(0.3 * double(i + y)) + 60 + (i * 7 + y) % 5);
}

// One image as the current directory of `t`. `format` is the
// SampleFormat, `predictor` the Predictor (1: none); a `tile` of 0 writes
// strips of `rps` rows, else tiles of tile x tile.
void WriteImage(TIFF* t, int bits, std::uint16_t format, std::uint16_t compression,
                std::uint16_t predictor, bool fill2, std::uint32_t rps, std::uint32_t w,
                std::uint32_t h, std::uint32_t tile = 0) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, format);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
  if (predictor != PREDICTOR_NONE) TIFFSetField(t, TIFFTAG_PREDICTOR, predictor);
  if (fill2) TIFFSetField(t, TIFFTAG_FILLORDER, FILLORDER_LSB2MSB);
  TIFFSetField(t, TIFFTAG_IMAGEDESCRIPTION, "0 255");
  if (tile != 0) {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, tile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, tile);
    const std::size_t tile_row = std::size_t(tile) * bits / 8;
    std::vector<std::uint8_t> block(tile_row * tile);
    for (std::uint32_t k = 0; k < TIFFNumberOfTiles(t); ++k) {
      for (std::size_t i = 0; i < block.size(); ++i) block[i] = Byte(i % tile_row + k, std::uint32_t(i / tile_row));
      if (TIFFWriteEncodedTile(t, k, block.data(), static_cast<tmsize_t>(block.size())) < 0) break;
    }
    return;
  }
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rps);
  const std::size_t row_bytes = (std::size_t(w) * bits + 7) / 8;
  std::vector<std::uint8_t> row(row_bytes);
  for (std::uint32_t y = 0; y < h; ++y) {
    for (std::size_t i = 0; i < row_bytes; ++i) row[i] = Byte(i, y);
    if (TIFFWriteScanline(t, row.data(), y, 0) < 0) break;
  }
}

void Write(const std::string& path, int bits, std::uint16_t format, std::uint16_t compression,
           std::uint16_t predictor, bool big, bool fill2, std::uint32_t rps, std::uint32_t w,
           std::uint32_t h, std::uint32_t tile = 0) {
  TIFF* t = TIFFOpen(path.c_str(), big ? "wb" : "wl");
  if (t == nullptr) return;
  WriteImage(t, bits, format, compression, predictor, fill2, rps, w, h, tile);
  TIFFClose(t);
}

// A stack in one file (`mode` "wl", "w8l" for BigTIFF, ...): pages of
// several sizes and depths, the second a reduced-resolution copy.
void WritePages(const std::string& path, const char* mode) {
  TIFF* t = TIFFOpen(path.c_str(), mode);
  if (t == nullptr) return;
  WriteImage(t, 32, SAMPLEFORMAT_IEEEFP, COMPRESSION_LZW, PREDICTOR_NONE, false, 3, 5, 7);
  TIFFWriteDirectory(t);
  TIFFSetField(t, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
  WriteImage(t, 8, SAMPLEFORMAT_UINT, COMPRESSION_NONE, PREDICTOR_NONE, false, 2, 3, 4);
  TIFFWriteDirectory(t);
  WriteImage(t, 16, SAMPLEFORMAT_UINT, COMPRESSION_PACKBITS, PREDICTOR_NONE, false, 2, 6, 5);
  TIFFWriteDirectory(t);
  WriteImage(t, 64, SAMPLEFORMAT_IEEEFP, COMPRESSION_NONE, PREDICTOR_NONE, false, 7, 4, 7);
  TIFFClose(t);
}

// A grid-mode seed of the harness: the grid point, then the one strip
// libtiff wrote for it.
void WriteGridSeed(const std::string& dir, unsigned bits_index, int bits, bool floating,
                   std::uint16_t compression, bool predictor, bool big, bool fill2, bool is_signed = false) {
  const std::uint32_t w = 9, h = 7;
  const std::string tmp = dir + "/.grid.tif";
  const std::uint16_t format = floating ? SAMPLEFORMAT_IEEEFP : is_signed ? SAMPLEFORMAT_INT : SAMPLEFORMAT_UINT;
  const std::uint16_t kind = !predictor ? PREDICTOR_NONE : floating ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL;
  Write(tmp, bits, format, compression, kind, big, fill2, h, w, h);
  TIFF* t = TIFFOpen(tmp.c_str(), "r");
  if (t == nullptr) return;
  std::vector<std::uint8_t> raw(static_cast<std::size_t>(TIFFRawStripSize(t, 0)));
  const tmsize_t got = TIFFReadRawStrip(t, 0, raw.data(), static_cast<tmsize_t>(raw.size()));
  TIFFClose(t);
  std::remove(tmp.c_str());
  if (got < 0) return;
  const unsigned c = compression == COMPRESSION_NONE       ? 0
                     : compression == COMPRESSION_LZW      ? 1
                     : compression == COMPRESSION_PACKBITS ? 2
                                                           : 3;
  std::vector<std::uint8_t> seed = {
      std::uint8_t(0x80 | (is_signed ? 0x20 : 0) | (floating ? 0x10 : 0) | bits_index),
      std::uint8_t(0xE0 | c << 3 | (predictor ? 4 : 0) | (fill2 ? 2 : 0) | (big ? 1 : 0)),
      std::uint8_t(w - 1), std::uint8_t(h - 1)};
  seed.insert(seed.end(), raw.begin(), raw.begin() + got);
  const std::string name = dir + "/grid" + std::to_string(bits) + (floating ? "f" : is_signed ? "s" : "i") + "_" +
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
      Write(dir + "/int" + std::to_string(bits) + "_" + std::to_string(c) + ".tif", bits, SAMPLEFORMAT_UINT, c,
            pred ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE, big, fill2, bits == 8 ? 1 : 3, 9, 7);
    }
    for (int bits : {32, 64})
      Write(dir + "/float" + std::to_string(bits) + "_" + std::to_string(c) + ".tif", bits, SAMPLEFORMAT_IEEEFP, c,
            PREDICTOR_NONE, bits == 64, false, 7, 5, 7);
  }
  // Deflate, signed and half samples, the floating-point predictor, tiles.
  for (int bits : {1, 8, 12, 16, 32})
    Write(dir + "/int" + std::to_string(bits) + "_deflate.tif", bits, SAMPLEFORMAT_UINT, COMPRESSION_ADOBE_DEFLATE,
          bits == 16 ? PREDICTOR_HORIZONTAL : PREDICTOR_NONE, bits == 12, bits == 1, 3, 9, 7);
  for (int bits : {8, 16, 32})
    Write(dir + "/signed" + std::to_string(bits) + "_lzw.tif", bits, SAMPLEFORMAT_INT, COMPRESSION_LZW,
          PREDICTOR_HORIZONTAL, bits == 16, false, 3, 9, 7);
  for (int bits : {16, 32, 64})
    for (std::uint16_t c : {COMPRESSION_LZW, COMPRESSION_DEFLATE})
      Write(dir + "/float" + std::to_string(bits) + "_pred3_" + std::to_string(c) + ".tif", bits, SAMPLEFORMAT_IEEEFP,
            c, PREDICTOR_FLOATINGPOINT, bits == 32, false, 4, 9, 7);
  Write(dir + "/float16_1.tif", 16, SAMPLEFORMAT_IEEEFP, COMPRESSION_NONE, PREDICTOR_NONE, false, false, 7, 5, 7);
  for (std::uint16_t c : {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS, COMPRESSION_ADOBE_DEFLATE}) {
    Write(dir + "/tiled8_" + std::to_string(c) + ".tif", 8, SAMPLEFORMAT_UINT, c, PREDICTOR_NONE, false, false, 0,
          37, 20, 16);
    Write(dir + "/tiled12_" + std::to_string(c) + ".tif", 12, SAMPLEFORMAT_UINT, c, PREDICTOR_NONE, true, false, 0,
          20, 17, 16);
  }
  Write(dir + "/tiled32f_pred3_deflate.tif", 32, SAMPLEFORMAT_IEEEFP, COMPRESSION_ADOBE_DEFLATE,
        PREDICTOR_FLOATINGPOINT, false, false, 0, 33, 18, 16);
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
  for (const auto& d : depths) {
    const bool pred = d.bits == 8 || d.bits == 16;
    WriteGridSeed(dir, d.index, d.bits, false, COMPRESSION_ADOBE_DEFLATE, pred, d.bits == 16, d.bits == 4);
  }
  WriteGridSeed(dir, 6, 8, false, COMPRESSION_LZW, true, false, false, true);
  WriteGridSeed(dir, 10, 16, false, COMPRESSION_ADOBE_DEFLATE, true, true, false, true);
  WriteGridSeed(dir, 10, 16, true, COMPRESSION_ADOBE_DEFLATE, true, false, false);
  WriteGridSeed(dir, 14, 32, true, COMPRESSION_LZW, true, true, false);
  WriteGridSeed(dir, 15, 64, true, COMPRESSION_ADOBE_DEFLATE, true, false, false);
  // One larger LZW strip that reaches 10-bit codes.
  Write(dir + "/int8_lzw_wide.tif", 8, SAMPLEFORMAT_UINT, COMPRESSION_LZW, PREDICTOR_NONE, false, false, 40, 64, 40);
  // Stacks in one file: later pages, BigTIFF in both byte orders.
  WritePages(dir + "/pages.tif", "wl");
  WritePages(dir + "/pages_big.tif", "w8l");
  WritePages(dir + "/pages_big_m.tif", "w8b");
  return 0;
}
