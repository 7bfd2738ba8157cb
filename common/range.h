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
// and joins the lanes; only a block that holds an infinity is scanned twice. Where several values equal an extreme they have the
// same bits, except for zeros: when an extreme is zero, Add looks up the
// first zero of the block, which is the one a pass in order keeps.
#pragma once

#include <cstddef>
#include <limits>
#include <type_traits>
#include <vector>

#include "common/parallel.h"

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
    // A NaN fails every comparison, so the plain extremes never take one.
    // They take an infinity only as -inf for the minimum or +inf for the
    // maximum (+inf < lo fails from the start, where lo is +inf, and so does
    // -inf > hi): only such a block is scanned again with infinities
    // refused, which costs two more comparisons a value.
    using Lane = LaneOf<T>;
    constexpr Lane kInf = std::numeric_limits<Lane>::infinity();
    Lane lo, hi;
    Scan(v, n, lo, hi, [](Lane x, Lane& l, Lane& h) {
      l = x < l ? x : l;
      h = x > h ? x : h;
    });
    if (lo == -kInf || hi == kInf) {
      Scan(v, n, lo, hi, [](Lane x, Lane& l, Lane& h) {
        l = x < l && x > -kInf ? x : l;
        h = x > h && x < kInf ? x : h;
      });
    }
    // The block's extremes follow the ones before it, which stay where they
    // are equal; a zero extreme is the first zero in order.
    const double start_min = min_, start_max = max_;
    min_ = lo < start_min ? lo : start_min;
    max_ = hi > start_max ? hi : start_max;
    if (min_ == 0) min_ = FirstZero(start_min, v, n);
    if (max_ == 0) max_ = FirstZero(start_max, v, n);
  }

  // Adds the values of `later`, a range of the values that follow this
  // one's: the result is that of adding them here one by one.
  void Join(const Range& later) {
    if (later.min_ < min_) min_ = later.min_;
    if (later.max_ > max_) max_ = later.max_;
  }

 private:
  // Values are compared in their own type where it holds them (floats: twice
  // the lanes of doubles in a vector register), else as doubles; either
  // order is that of the doubles.
  template <class T>
  using LaneOf = std::conditional_t<std::is_same_v<T, float>, float, double>;

  // The extremes of v[0 .. n) by `take` (+inf and -inf when it takes none),
  // in four independent lanes that the compiler can vectorise.
  template <class T, class L, class Take>
  static void Scan(const T* v, std::size_t n, L& lo, L& hi, Take take) {
    constexpr L kInf = std::numeric_limits<L>::infinity();
    L l[4] = {kInf, kInf, kInf, kInf}, h[4] = {-kInf, -kInf, -kInf, -kInf};
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4)
      for (int k = 0; k < 4; ++k) take(static_cast<L>(v[i + k]), l[k], h[k]);
    for (; i < n; ++i) take(static_cast<L>(v[i]), l[0], h[0]);
    for (int k = 1; k < 4; ++k) {
      l[0] = l[k] < l[0] ? l[k] : l[0];
      h[0] = h[k] > h[0] ? h[k] : h[0];
    }
    lo = l[0];
    hi = h[0];
  }

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

// The range of rows 0 .. bands.items - 1 on the pool, add_row(range, y, slot) adding row y.
template <class AddRow>
Range RangeOfRows(const BatchPlan& bands, const AddRow& add_row) {
  std::vector<Range> band(bands.slots());
  Range range;
  OrderedParallel(bands.batches(), band.size(), [&](std::size_t b, std::size_t s) {
    band[s] = Range();
    for (std::size_t y = b * bands.per_batch, end = bands.End(b); y < end; ++y) add_row(band[s], y, s);
  }, [&](std::size_t, std::size_t s) { range.Join(band[s]); }, bands.threads());
  return range;
}

}  // namespace pv
