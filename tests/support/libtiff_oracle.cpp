#include "tests/support/libtiff_oracle.h"

#include <tiffio.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace pvtest {

namespace {

thread_local std::vector<std::string>* g_messages = nullptr;

void Record(const char* kind, const char* module, const char* fmt, va_list ap) {
  char text[1024];
  std::vsnprintf(text, sizeof text, fmt, ap);
  if (g_messages != nullptr)
    g_messages->push_back(std::string(kind) + " " + (module ? module : "") + ": " + text);
}
void OnWarning(const char* module, const char* fmt, va_list ap) { Record("warning", module, fmt, ap); }
void OnError(const char* module, const char* fmt, va_list ap) { Record("error", module, fmt, ap); }

// Sample k of a row of packed samples, most significant bit first.
std::uint32_t Packed(const std::uint8_t* row, std::uint32_t k, int bits) {
  std::uint64_t bit = std::uint64_t(k) * unsigned(bits);
  std::uint32_t v = 0;
  for (int i = 0; i < bits; ++i, ++bit) v = v << 1 | ((row[bit >> 3] >> (7 - (bit & 7))) & 1);
  return v;
}

// IEEE half to double, by its fields.
double Half(std::uint16_t h) {
  const int exponent = (h >> 10) & 31;
  const double fraction = h & 1023;
  double v;
  if (exponent == 0) v = std::ldexp(fraction, -24);
  else if (exponent == 31) v = fraction == 0 ? HUGE_VAL : NAN;
  else v = std::ldexp(1024 + fraction, exponent - 25);
  return (h & 0x8000) ? -v : v;
}

// Sample k of a row as libtiff hands it over (whole samples in host order).
double Sample(const std::uint8_t* row, std::uint32_t k, int bits, std::uint16_t format) {
  if (format == SAMPLEFORMAT_IEEEFP) {
    if (bits == 16) {
      std::uint16_t h;
      std::memcpy(&h, row + 2 * k, 2);
      return Half(h);
    }
    if (bits == 32) {
      float f;
      std::memcpy(&f, row + 4 * k, 4);
      return f;
    }
    double d;
    std::memcpy(&d, row + 8 * k, 8);
    return d;
  }
  const bool is_signed = format == SAMPLEFORMAT_INT;
  if (bits == 8) return is_signed ? double(std::int8_t(row[k])) : double(row[k]);
  if (bits == 16) {
    std::uint16_t u;
    std::memcpy(&u, row + 2 * k, 2);
    return is_signed ? double(std::int16_t(u)) : double(u);
  }
  if (bits == 32) {
    std::uint32_t u;
    std::memcpy(&u, row + 4 * k, 4);
    return is_signed ? double(std::int32_t(u)) : double(u);
  }
  return Packed(row, k, bits);
}

}  // namespace

namespace {

// The current directory's image.
void ReadImage(TIFF* tif, LibtiffImage& img) {
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &img.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &img.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &img.bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &img.sample_format);
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &img.compression);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &img.photometric);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &img.rows_per_strip);
  char* desc = nullptr;
  if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &desc) && desc != nullptr) img.description = desc;

  // Strips or tiles, each decoded whole, their rows placed in the image.
  const bool tiled = TIFFIsTiled(tif) != 0;
  std::uint32_t block_width = img.width, block_rows = img.rows_per_strip > img.height ? img.height : img.rows_per_strip;
  if (tiled) {
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &block_width);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &block_rows);
  }
  const tmsize_t block_size = tiled ? TIFFTileSize(tif) : TIFFStripSize(tif);
  const std::size_t row_bytes = (std::size_t(block_width) * img.bits + 7) / 8;
  const std::uint32_t across = (img.width + block_width - 1) / block_width;
  const std::uint32_t blocks = tiled ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
  std::vector<std::uint8_t> block(static_cast<std::size_t>(block_size));
  img.values.assign(std::size_t(img.width) * img.height, 0);
  for (std::uint32_t b = 0; b < blocks; ++b) {
    const tmsize_t got = tiled ? TIFFReadEncodedTile(tif, b, block.data(), block_size)
                               : TIFFReadEncodedStrip(tif, b, block.data(), block_size);
    if (got < 0) {
      img.values.clear();
      break;
    }
    const std::uint32_t x0 = (b % across) * block_width, y0 = (b / across) * block_rows;
    for (std::uint32_t r = 0; r < block_rows && y0 + r < img.height; ++r) {
      const std::uint8_t* row = block.data() + std::size_t(r) * row_bytes;
      for (std::uint32_t k = 0; k < block_width && x0 + k < img.width; ++k)
        img.values[std::size_t(y0 + r) * img.width + x0 + k] = Sample(row, k, img.bits, img.sample_format);
    }
  }
}

}  // namespace

LibtiffImage ReadWithLibtiff(const std::string& path) {
  LibtiffImage img;
  g_messages = &img.messages;
  TIFFSetWarningHandler(OnWarning);
  TIFFSetErrorHandler(OnError);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif != nullptr) {
    ReadImage(tif, img);
    TIFFClose(tif);
  }
  g_messages = nullptr;
  return img;
}

std::vector<LibtiffImage> ReadPagesWithLibtiff(const std::string& path) {
  std::vector<LibtiffImage> pages(1);
  g_messages = &pages[0].messages;
  TIFFSetWarningHandler(OnWarning);
  TIFFSetErrorHandler(OnError);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif != nullptr) {
    ReadImage(tif, pages[0]);
    while (TIFFReadDirectory(tif)) {
      pages.emplace_back();
      g_messages = &pages.back().messages;
      ReadImage(tif, pages.back());
    }
    TIFFClose(tif);
  }
  g_messages = nullptr;
  return pages;
}

std::vector<double> AsFloat32(const std::vector<double>& v) {
  std::vector<double> r;
  r.reserve(v.size());
  for (double d : v) r.push_back(static_cast<double>(static_cast<float>(d)));
  return r;
}

}  // namespace pvtest
