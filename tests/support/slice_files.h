// Slice images for the stack tests, written with libtiff: one strip,
// uncompressed, grey, of any bit depth; and stacks of them in one file.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace pvtest {

struct SliceImage {
  int width = 1, height = 1;
  int bits = 32;          // bits per sample
  bool floating = false;  // IEEE samples (bits 32 or 64), else unsigned integers
  std::vector<double> values;              // row by row
  std::optional<std::string> description;  // stored with its NUL
};

// Writes `image` to `path`; a test failure when libtiff refuses.
void WriteSlice(const std::string& path, const SliceImage& image);
// A stack in one file: every image a page, in order (BigTIFF on request).
void WriteStack(const std::string& path, const std::vector<SliceImage>& pages,
                bool big_tiff = false);

// A floating-point slice of 32-bit samples.
inline SliceImage FloatSlice(int width, int height, std::vector<double> values,
                             std::optional<std::string> description = std::nullopt) {
  return {width, height, 32, true, std::move(values), std::move(description)};
}

// An integer slice of `bits` bits per sample.
inline SliceImage IntSlice(int width, int height, int bits, std::vector<double> values,
                           std::optional<std::string> description = std::nullopt) {
  return {width, height, bits, false, std::move(values), std::move(description)};
}

}  // namespace pvtest
