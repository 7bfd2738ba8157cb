// An image as the reader delivers it: every sample in its stored width, row
// after row in one contiguous buffer that the object owns and reuses from one
// read to the next (a stack of slices read into one StoredImage costs one
// buffer, not one per slice).
//
// Sample types, by what the file stores:
//
// | stored                             | ReadImageFile | ReadImageFile_Float |
// |------------------------------------|---------------|---------------------|
// | 8-bit integers                     | uint16        | uint8               |
// | 16-bit integers                    | uint16        | uint16              |
// | integers of 1 to 7, 9 to 15 bits   | uint16        | uint16              |
// | integers of 17 to 32 bits          | (refused)     | uint32              |
// | signed 8-bit (SampleFormat 2)      | int16         | int8                |
// | signed 16-bit                      | int16         | int16               |
// | signed 32-bit                      | (refused)     | int32               |
// | IEEE half (SampleFormat 3, 16)     | (refused)     | float (exact)       |
// | IEEE single (SampleFormat 3, 32)   | (refused)     | float               |
// | IEEE double (SampleFormat 3, 64)   | (refused)     | double              |
//
// Values are final: in host byte order, unpacked, and with the predictor
// (horizontal or floating-point differencing) already undone. A read that fails leaves the object with no
// image (0 x 0), its buffer kept for the next read.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace pv {

namespace reader {
class BlockReader;
}

enum class SampleType { kUint8, kUint16, kUint32, kInt8, kInt16, kInt32, kFloat32, kFloat64 };

// Bytes per sample of a type.
constexpr std::size_t SampleSize(SampleType t) {
  switch (t) {
    case SampleType::kUint8: return 1;
    case SampleType::kUint16: return 2;
    case SampleType::kUint32: return 4;
    case SampleType::kInt8: return 1;
    case SampleType::kInt16: return 2;
    case SampleType::kInt32: return 4;
    case SampleType::kFloat32: return 4;
    case SampleType::kFloat64: return 8;
  }
  return 0;
}

// The sample type that a C++ type stands for.
template <class T>
constexpr SampleType SampleTypeOf() {
  if constexpr (std::is_same_v<T, std::uint8_t>) return SampleType::kUint8;
  else if constexpr (std::is_same_v<T, std::uint16_t>) return SampleType::kUint16;
  else if constexpr (std::is_same_v<T, std::uint32_t>) return SampleType::kUint32;
  else if constexpr (std::is_same_v<T, std::int8_t>) return SampleType::kInt8;
  else if constexpr (std::is_same_v<T, std::int16_t>) return SampleType::kInt16;
  else if constexpr (std::is_same_v<T, std::int32_t>) return SampleType::kInt32;
  else if constexpr (std::is_same_v<T, float>) return SampleType::kFloat32;
  else {
    static_assert(std::is_same_v<T, double>, "not a sample type");
    return SampleType::kFloat64;
  }
}

class StoredImage {
 public:
  StoredImage() = default;
  ~StoredImage();
  StoredImage(StoredImage&& other) noexcept;
  StoredImage& operator=(StoredImage&& other) noexcept;
  StoredImage(const StoredImage&) = delete;
  StoredImage& operator=(const StoredImage&) = delete;

  std::int32_t width() const { return width_; }
  std::int32_t height() const { return height_; }
  SampleType type() const { return type_; }
  // Bytes of one row: width × sample size.
  std::size_t row_size() const { return row_size_; }

  // Row y (0 is the top row) as samples of T, which must be type().
  template <class T>
  const T* Row(std::int32_t y) const {
    assert(SampleTypeOf<T>() == type_);
    return reinterpret_cast<const T*>(RowData(y));
  }
  const void* RowData(std::int32_t y) const {
    assert(y >= 0 && y < height_);
    return data_ + static_cast<std::size_t>(y) * row_size_;
  }

  // No image (0 x 0); the buffer is kept.
  void Clear() {
    width_ = height_ = 0;
    row_size_ = 0;
  }

 private:
  friend class reader::BlockReader;
  // Tests and benchmarks set the threads and look at the buffer held
  // (tests/support/image_access.h).
  friend struct StoredImageAccess;

  // Makes room for `bytes` bytes, keeping the first `keep` bytes held
  // (std::bad_alloc when the memory cannot be had).
  void Reserve(std::size_t bytes, std::size_t keep);
  void Release();

  std::int32_t width_ = 0, height_ = 0;
  SampleType type_ = SampleType::kUint16;
  std::size_t row_size_ = 0;
  // The most threads a read may decode strips on: 0 for every usable CPU.
  unsigned threads_ = 0;

  std::uint8_t* data_ = nullptr;
  std::size_t capacity_ = 0;
};

// Calls f with row y as a pointer to samples of the image's own type, so
// that a loop over the row is compiled once per type, without a branch per
// sample.
template <class F>
decltype(auto) VisitRow(const StoredImage& image, std::int32_t y, F&& f) {
  switch (image.type()) {
    case SampleType::kUint8: return f(image.Row<std::uint8_t>(y));
    case SampleType::kUint16: return f(image.Row<std::uint16_t>(y));
    case SampleType::kUint32: return f(image.Row<std::uint32_t>(y));
    case SampleType::kInt8: return f(image.Row<std::int8_t>(y));
    case SampleType::kInt16: return f(image.Row<std::int16_t>(y));
    case SampleType::kInt32: return f(image.Row<std::int32_t>(y));
    case SampleType::kFloat32: return f(image.Row<float>(y));
    case SampleType::kFloat64: break;
  }
  return f(image.Row<double>(y));
}

}  // namespace pv
