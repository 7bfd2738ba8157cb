// The suite's running range of values: the first value starts both the
// minimum and the maximum; after it a value replaces the minimum when it is
// smaller, otherwise the maximum when it is greater. So a NaN never becomes
// an extreme, unless it is the very first value, which then holds both for
// good (every comparison with it fails).
//
// Equivalently: with a NaN first value the range is NaN, NaN; otherwise it
// is the extremes of the values that are not NaN, each extreme being the
// first value in order that equals it. A Range keeps exactly that (the
// first value, and the extremes of the other values) so that ranges of
// consecutive blocks can be found apart, on several threads, and joined in
// order with the same result as one pass.
//
// Add scans a block in independent lanes that the compiler can vectorise,
// and joins the lanes. Where several values equal an extreme they have the
// same bits, except for zeros (+0 and -0 compare equal): when an extreme is
// zero, Add looks up the first zero of the block, which is the one a pass in
// order keeps.
#pragma once

#include <cstddef>

namespace pv {

class Range {
 public:
  // Whether no value has been added.
  bool empty() const { return !started_; }
  // The extremes by the rule above (NaN, NaN after a NaN first value; the
  // first value itself while it is the only one that is not NaN).
  double min() const { return first_ != first_ || !found_ ? first_ : min_; }
  double max() const { return first_ != first_ || !found_ ? first_ : max_; }

  template <class T>
  void Add(const T* v, std::size_t n) {
    if (n == 0) return;
    if (!started_) {
      started_ = true;
      first_ = static_cast<double>(v[0]);
    }
    std::size_t k = 0;
    if (!found_) {
      while (k < n && v[k] != v[k]) ++k;  // NaNs before the first number
      if (k == n) return;
      found_ = true;
      min_ = max_ = static_cast<double>(v[k]);
    }
    const T* block = v + k;
    const std::size_t m = n - k;
    const double start_min = min_, start_max = max_;
    double lo[4] = {min_, min_, min_, min_}, hi[4] = {max_, max_, max_, max_};
    std::size_t i = 0;
    for (; i + 4 <= m; i += 4) {
      for (int l = 0; l < 4; ++l) {
        const double x = static_cast<double>(block[i + l]);
        lo[l] = x < lo[l] ? x : lo[l];
        hi[l] = x > hi[l] ? x : hi[l];
      }
    }
    for (; i < m; ++i) {
      const double x = static_cast<double>(block[i]);
      lo[0] = x < lo[0] ? x : lo[0];
      hi[0] = x > hi[0] ? x : hi[0];
    }
    for (int l = 1; l < 4; ++l) {
      lo[0] = lo[l] < lo[0] ? lo[l] : lo[0];
      hi[0] = hi[l] > hi[0] ? hi[l] : hi[0];
    }
    min_ = lo[0] == 0 ? FirstZero(start_min, block, m) : lo[0];
    max_ = hi[0] == 0 ? FirstZero(start_max, block, m) : hi[0];
  }

  // Adds the values of `later`, a range of the values that follow this
  // one's: the result is that of adding them here one by one.
  void Join(const Range& later) {
    if (!later.started_) return;
    if (!started_) {
      *this = later;
      return;
    }
    if (!later.found_) return;
    if (!found_) {
      found_ = true;
      min_ = later.min_;
      max_ = later.max_;
      return;
    }
    if (later.min_ < min_) min_ = later.min_;
    if (later.max_ > max_) max_ = later.max_;
  }

 private:
  // The first zero of the sequence `start`, v[0 .. n): the extreme that a
  // pass in order keeps when the extreme is zero.
  template <class T>
  static double FirstZero(double start, const T* v, std::size_t n) {
    if (start == 0) return start;
    for (std::size_t k = 0; k < n; ++k)
      if (v[k] == 0) return static_cast<double>(v[k]);
    return start;  // not reached: a zero extreme is one of the values
  }

  bool started_ = false;  // a value was added
  bool found_ = false;    // a value that is not NaN was added
  double first_ = 0;      // the first value added
  double min_ = 0, max_ = 0;  // extremes of the values that are not NaN
};

}  // namespace pv
