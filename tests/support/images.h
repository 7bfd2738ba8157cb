// An image of doubles held as one block, with the row table the writers take.
#pragma once

#include <cstddef>
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

}  // namespace pvtest
