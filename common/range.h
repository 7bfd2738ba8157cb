// The suite's running range of values: the first value starts both the
// minimum and the maximum; after it a value replaces the minimum when it is
// smaller, otherwise the maximum when it is greater. So a NaN never becomes
// an extreme, unless it is the very first value, which then holds both for
// good (every comparison with it fails).
//
// Add takes a block of values at once and is written so that the compiler
// can vectorise it: the block is scanned in independent lanes and the lanes
// are joined. That gives the extremes of one pass in order, bit for bit:
// with the minimum m not NaN, the sequential rule keeps the first value
// equal to m, and every value equal to a non-zero m has the same bits. Only
// a zero extreme can differ (+0 and -0 compare equal), and then the first
// zero of the sequence is the one the sequential rule keeps; Add looks it
// up.
#pragma once

#include <cstddef>

namespace pv {

class Range {
 public:
  bool empty() const { return empty_; }
  double min() const { return min_; }
  double max() const { return max_; }

  template <class T>
  void Add(const T* v, std::size_t n) {
    if (n == 0) return;
    std::size_t k = 0;
    if (empty_) {
      empty_ = false;
      min_ = max_ = static_cast<double>(v[0]);
      k = 1;
    }
    const double start_min = min_, start_max = max_;
    double lo[4] = {min_, min_, min_, min_}, hi[4] = {max_, max_, max_, max_};
    for (; k + 4 <= n; k += 4) {
      for (int l = 0; l < 4; ++l) {
        const double x = static_cast<double>(v[k + l]);
        lo[l] = x < lo[l] ? x : lo[l];
        hi[l] = x > hi[l] ? x : hi[l];
      }
    }
    for (; k < n; ++k) {
      const double x = static_cast<double>(v[k]);
      lo[0] = x < lo[0] ? x : lo[0];
      hi[0] = x > hi[0] ? x : hi[0];
    }
    for (int l = 1; l < 4; ++l) {
      lo[0] = lo[l] < lo[0] ? lo[l] : lo[0];
      hi[0] = hi[l] > hi[0] ? hi[l] : hi[0];
    }
    min_ = lo[0] == 0 ? FirstZero(start_min, v, n) : lo[0];
    max_ = hi[0] == 0 ? FirstZero(start_max, v, n) : hi[0];
  }

 private:
  // The first zero of the sequence `start`, v[0 .. n): the extreme that the
  // sequential rule keeps when the extreme is zero.
  template <class T>
  static double FirstZero(double start, const T* v, std::size_t n) {
    if (start == 0) return start;
    for (std::size_t k = 0; k < n; ++k)
      if (v[k] == 0) return static_cast<double>(v[k]);
    return start;  // not reached: a zero extreme is one of the values
  }

  bool empty_ = true;
  double min_ = 0, max_ = 0;
};

}  // namespace pv
