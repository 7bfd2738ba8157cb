#include "tests/support/libtiff_oracle.h"

#include <tiffio.h>

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

  const tmsize_t strip_size = TIFFStripSize(tif);
  const tmsize_t row_bytes = TIFFScanlineSize(tif);
  std::vector<std::uint8_t> strip(static_cast<std::size_t>(strip_size));
  const std::uint32_t rps = img.rows_per_strip > img.height ? img.height : img.rows_per_strip;
  img.values.reserve(std::size_t(img.width) * img.height);
  for (std::uint32_t s = 0; s < TIFFNumberOfStrips(tif); ++s) {
    if (TIFFReadEncodedStrip(tif, s, strip.data(), strip_size) < 0) {
      img.values.clear();
      break;
    }
    for (std::uint32_t r = 0; r < rps && s * rps + r < img.height; ++r) {
      const std::uint8_t* row = strip.data() + std::size_t(r) * std::size_t(row_bytes);
      for (std::uint32_t k = 0; k < img.width; ++k) {
        double v;
        if (img.sample_format == SAMPLEFORMAT_IEEEFP && img.bits == 32) {
          float f;
          std::memcpy(&f, row + 4 * k, 4);
          v = f;
        } else if (img.sample_format == SAMPLEFORMAT_IEEEFP && img.bits == 64) {
          std::memcpy(&v, row + 8 * k, 8);
        } else if (img.bits == 8) {
          v = row[k];
        } else if (img.bits == 16) {
          std::uint16_t u;
          std::memcpy(&u, row + 2 * k, 2);
          v = u;
        } else if (img.bits == 32) {
          std::uint32_t u;
          std::memcpy(&u, row + 4 * k, 4);
          v = u;
        } else {
          v = Packed(row, k, img.bits);
        }
        img.values.push_back(v);
      }
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
