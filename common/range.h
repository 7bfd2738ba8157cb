// The suite's range of values: the smallest and the largest of the finite
// values, wherever they stand. NaN, +inf and -inf are never an extreme (a
// reconstruction leaves NaN outside its field of view, and a corner pixel,
// the first of the image, is always outside it); among equal extremes (+0
// and -0 compare equal) the first in order stays. A block without any
// finite value has no range: both ends are then the positive quiet NaN,
// printed as "nan" (never "-nan") and stored as the float 0x7FC00000.
//
// A Range keeps the extremes found so far, so that ranges of consecutive
// blocks can be found apart, on several threads, and joined in order with
// the same result as one pass. Before any finite value the minimum stands
// at +inf and the maximum at -inf; the first finite value replaces both.
//
// Add scans a block in independent lanes that the compiler can vectorise,
// and joins the lanes. Where several values equal an extreme they have the
// same bits, except for zeros: when an extreme is zero, Add looks up the
// first zero of the block, which is the one a pass in order keeps.
#pragma once

#include <cstddef>
#include <limits>

namespace pv {

class Range {
 public:
  // The ends when no finite value was added.
  static constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

  // The range of a block whose extremes are `lo` and `hi`, as a writer
  // reports them (NaN: the block had no finite value).
  static Range Spanning(double lo, double hi) {
    Range r;
    if (lo <= hi) {
      r.min_ = lo;
      r.max_ = hi;
    }
    return r;
  }

  // Whether a finite value was added.
  bool found() const { return min_ <= max_; }
  double min() const { return found() ? min_ : kNone; }
  double max() const { return found() ? max_ : kNone; }

  template <class T>
  void Add(const T* v, std::size_t n) {
    if (n == 0) return;
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const double start_min = min_, start_max = max_;
    double lo[4] = {min_, min_, min_, min_}, hi[4] = {max_, max_, max_, max_};
    // A NaN fails every comparison; -inf is refused as a minimum and +inf as
    // a maximum, and neither can pass the other test (+inf < lo fails from
    // the start, where lo is +inf, and so does -inf > hi).
    auto take = [](double x, double& l, double& h) {
      l = x < l && x > -kInf ? x : l;
      h = x > h && x < kInf ? x : h;
    };
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4)
      for (int l = 0; l < 4; ++l) take(static_cast<double>(v[i + l]), lo[l], hi[l]);
    for (; i < n; ++i) take(static_cast<double>(v[i]), lo[0], hi[0]);
    for (int l = 1; l < 4; ++l) {
      lo[0] = lo[l] < lo[0] ? lo[l] : lo[0];
      hi[0] = hi[l] > hi[0] ? hi[l] : hi[0];
    }
    min_ = lo[0] == 0 ? FirstZero(start_min, v, n) : lo[0];
    max_ = hi[0] == 0 ? FirstZero(start_max, v, n) : hi[0];
  }

  // Adds the values of `later`, a range of the values that follow this
  // one's: the result is that of adding them here one by one.
  void Join(const Range& later) {
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

  double min_ = std::numeric_limits<double>::infinity();
  double max_ = -std::numeric_limits<double>::infinity();
};

}  // namespace pv
