#include "tiffread/image.h"

#include "common/pages.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

// Under AddressSanitizer (PV_EXACT_BUFFERS) the buffer comes from malloc,
// at its exact size, so that a decoder writing past what it was given is
// caught; otherwise large buffers are anonymous mappings, which grow in
// place or move without a copy (mremap).
namespace pv {

StoredImage::~StoredImage() { Release(); }

StoredImage::StoredImage(StoredImage&& other) noexcept { *this = std::move(other); }

StoredImage& StoredImage::operator=(StoredImage&& other) noexcept {
  if (this != &other) {
    Release();
    width_ = other.width_;
    height_ = other.height_;
    type_ = other.type_;
    row_size_ = other.row_size_;
    threads_ = other.threads_;
    data_ = std::exchange(other.data_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    other.width_ = other.height_ = 0;
    other.row_size_ = 0;
  }
  return *this;
}

void StoredImage::Release() {
  if (data_ == nullptr) return;
#ifdef PV_EXACT_BUFFERS
  std::free(data_);
#else
  UnmapPages(data_, capacity_);
#endif
  data_ = nullptr;
  capacity_ = 0;
}

void StoredImage::Reserve(std::size_t bytes, std::size_t keep) {
  if (bytes <= capacity_) return;
  std::size_t want = bytes;
  // Growth while data is held goes in steps of half the capacity at least,
  // so that an image that grows strip by strip is moved a few times only.
  if (keep > 0) want = std::max(bytes, capacity_ + capacity_ / 2);
#ifdef PV_EXACT_BUFFERS
  void* p = keep > 0 ? std::realloc(data_, want) : std::malloc(want);
  if (p == nullptr && want > bytes) {
    want = bytes;
    p = keep > 0 ? std::realloc(data_, want) : std::malloc(want);
  }
  if (p == nullptr) throw std::bad_alloc();
  if (keep == 0) std::free(data_);
  data_ = static_cast<std::uint8_t*>(p);
  capacity_ = want;
#else
  auto attempt = [&](std::size_t n) {
    const std::size_t size = MappingSize(n);
    if (size == 0) return false;
    void* p = nullptr;
    if (data_ != nullptr && keep > 0) {
      p = ::mremap(data_, capacity_, size, MREMAP_MAYMOVE);
      if (p == MAP_FAILED) return false;
    } else {
      p = MapPages(size);
      if (p == nullptr) return false;
    }
    if (keep == 0) Release();
    AdviseHugePages(p, size);
    data_ = static_cast<std::uint8_t*>(p);
    capacity_ = size;
    return true;
  };
  if (!attempt(want) && !(want > bytes && attempt(bytes))) throw std::bad_alloc();
#endif
}

}  // namespace pv
