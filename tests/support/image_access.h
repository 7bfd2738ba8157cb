// What tests and benchmarks set and see of a StoredImage beyond its
// samples: the threads a read may decode strips on (1: the calling thread
// only; 0: every usable CPU, as the programs read), and the bytes of the
// buffer it holds.
#pragma once

#include <cstddef>

#include "tiffread/image.h"

namespace pv {

struct StoredImageAccess {
  static void SetThreads(StoredImage& image, unsigned threads) { image.threads_ = threads; }
  static std::size_t Capacity(const StoredImage& image) { return image.capacity_; }
};

}  // namespace pv
