#include "tests/support/slice_files.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <cstring>

namespace pvtest {

namespace {

// `image` as the current directory of `tif`.
void WriteImage(TIFF* tif, const std::string& path, const SliceImage& image) {
  ASSERT_EQ(image.values.size(), std::size_t(image.width) * std::size_t(image.height)) << path;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(image.width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(image.height));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, std::uint16_t(image.bits));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, std::uint16_t(1));
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT,
               std::uint16_t(image.floating ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT));
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, std::uint16_t(PHOTOMETRIC_MINISBLACK));
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, std::uint16_t(PLANARCONFIG_CONTIG));
  TIFFSetField(tif, TIFFTAG_COMPRESSION, std::uint16_t(COMPRESSION_NONE));
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, std::uint32_t(image.height));
  if (image.description) TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, image.description->c_str());

  const std::size_t row_bytes = (std::size_t(image.width) * unsigned(image.bits) + 7) / 8;
  std::vector<std::uint8_t> row(row_bytes);
  for (int i = 0; i < image.height; ++i) {
    std::fill(row.begin(), row.end(), 0);
    for (int j = 0; j < image.width; ++j) {
      const double v = image.values[std::size_t(i) * std::size_t(image.width) + std::size_t(j)];
      if (image.floating && image.bits == 32) {
        const float f = static_cast<float>(v);
        std::memcpy(row.data() + 4 * j, &f, 4);
      } else if (image.floating) {
        std::memcpy(row.data() + 8 * j, &v, 8);
      } else if (image.bits % 8 == 0) {
        // Whole bytes in the host's (little-endian) order, as libtiff expects.
        const std::uint32_t s = static_cast<std::uint32_t>(v);
        std::memcpy(row.data() + std::size_t(j) * unsigned(image.bits / 8), &s,
                    unsigned(image.bits / 8));
      } else {
        // Packed samples, most significant bit first.
        const std::uint32_t s = static_cast<std::uint32_t>(v);
        std::uint64_t bit = std::uint64_t(j) * unsigned(image.bits);
        for (int b = image.bits - 1; b >= 0; --b, ++bit)
          if ((s >> b) & 1) row[bit >> 3] |= std::uint8_t(0x80 >> (bit & 7));
      }
    }
    ASSERT_EQ(TIFFWriteScanline(tif, row.data(), std::uint32_t(i), 0), 1) << path;
  }
}

}  // namespace

void WriteSlice(const std::string& path, const SliceImage& image) {
  WriteStack(path, {image});
}

void WriteStack(const std::string& path, const std::vector<SliceImage>& pages, bool big_tiff) {
  TIFF* tif = TIFFOpen(path.c_str(), big_tiff ? "w8" : "w");
  ASSERT_NE(tif, nullptr) << path;
  for (const SliceImage& image : pages) {
    WriteImage(tif, path, image);
    ASSERT_EQ(TIFFWriteDirectory(tif), 1) << path;
  }
  TIFFClose(tif);
}

}  // namespace pvtest
