// An image of doubles held as one block, with the row table the writers take.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace pvtest {

struct Image {
  int nx, ny;
  std::vector<double> values;  // row by row
  std::vector<const double*> rows() const {
    std::vector<const double*> r;
    for (int i = 0; i < ny; ++i) r.push_back(values.data() + std::size_t(i) * std::size_t(nx));
    return r;
  }
};

// A smooth image with a little noise: neither trivial nor random to a
// compressor, and every value with a fraction.
inline Image SmoothImage(int nx, int ny, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> noise(-0.01, 0.01);
  Image img{nx, ny, {}};
  for (int i = 0; i < ny; ++i)
    for (int j = 0; j < nx; ++j) img.values.push_back(std::sin(0.01 * (i + 2 * j)) + noise(rng));
  return img;
}

}  // namespace pvtest
