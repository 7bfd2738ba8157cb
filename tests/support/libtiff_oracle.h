// libtiff as an independent oracle: reads a TIFF file's first image (or
// every page) into plain values, and records every warning and error libtiff reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pvtest {

struct LibtiffImage {
  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 0, sample_format = 1, compression = 1, photometric = 1;
  std::uint32_t rows_per_strip = 0;
  std::optional<std::string> description;  // without libtiff's terminating NUL
  std::vector<double> values;              // row by row; integer samples as their values
  std::vector<std::string> messages;       // libtiff's warnings and errors, if any
};

// Reads `path` with libtiff. A file libtiff cannot open or decode gives an
// image with no values and the messages that explain it.
LibtiffImage ReadWithLibtiff(const std::string& path);
// Every page of `path` in order, by libtiff's walk of its directories.
std::vector<LibtiffImage> ReadPagesWithLibtiff(const std::string& path);

// Every value must round to single precision as libtiff reads it: for
// comparing our float files with the doubles that went in.
std::vector<double> AsFloat32(const std::vector<double>& v);

}  // namespace pvtest

// Fails the current test when libtiff reported anything for the image.
#define EXPECT_LIBTIFF_CLEAN(image)                                     \
  do {                                                                  \
    for (const auto& m_ : (image).messages) ADD_FAILURE() << "libtiff: " << m_; \
  } while (0)
