// The shared mechanisms that the speed of the programs rests on: ranges
// found block by block (and joined) must equal one pass in order, and work
// spread over threads must come out in order, failing where one thread
// would fail.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/parallel.h"
#include "common/range.h"

namespace {

// Equal bits; a missing range is the positive NaN.
bool Same(double a, double b) {
  if (std::isnan(b)) return std::isnan(a) && !std::signbit(a);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Values drawn from few numbers, both zeros, NaN and both infinities, so
// that ties, zero signs and blocks without a finite value occur all the time.
TEST(Range, BlocksAndJoinsGiveTheFiniteExtremesOfOnePassInOrder) {
  std::mt19937 gen(7);
  const double pool[] = {0.0, -0.0, NAN, INFINITY, -INFINITY, -2, -1, 1, 2};
  for (int trial = 0; trial < 20000; ++trial) {
    std::vector<double> v(1 + gen() % 23);
    for (double& x : v) x = pool[gen() % 9];
    // The plain model: the first finite value starts both extremes, a later
    // finite value replaces one only when strictly beyond it; none: NaN.
    double lo = NAN, hi = NAN;
    for (double x : v) {
      if (!std::isfinite(x)) continue;
      if (std::isnan(lo)) lo = hi = x;
      if (x < lo) lo = x;
      if (x > hi) hi = x;
    }
    const std::size_t a = gen() % (v.size() + 1), b = a + gen() % (v.size() - a + 1);
    pv::Range whole, first, second, third;
    whole.Add(v.data(), a);
    whole.Add(v.data() + a, b - a);
    whole.Add(v.data() + b, v.size() - b);
    first.Add(v.data(), a);
    second.Add(v.data() + a, b - a);
    third.Add(v.data() + b, v.size() - b);
    second.Join(third);
    first.Join(second);
    ASSERT_TRUE(Same(whole.min(), lo) && Same(whole.max(), hi)) << trial;
    ASSERT_TRUE(Same(first.min(), lo) && Same(first.max(), hi)) << trial;
  }
}

// Every item's emit in order; a failing item is reported in place of its
// emit, after every earlier emit and before any later one, whatever the
// threads were doing.
TEST(OrderedParallel, EmitsInOrderAndFailsWhereOneThreadWould) {
  for (unsigned threads : {1u, 2u, 4u}) {
    for (std::size_t fail_at : {std::size_t(0), std::size_t(37), std::size_t(1000)}) {
      std::vector<int> slot_item(3, -1);
      std::vector<std::size_t> emitted;
      std::string error;
      try {
        pv::OrderedParallel(
            200, 3,
            [&](std::size_t i, std::size_t slot) {
              if (i == fail_at) throw std::runtime_error("item " + std::to_string(i));
              slot_item[slot] = int(i);
            },
            [&](std::size_t i, std::size_t slot) {
              if (slot_item[slot] != int(i)) throw std::logic_error("slot reused too early");
              emitted.push_back(i);
            },
            threads);
      } catch (const std::runtime_error& e) {
        error = e.what();
      }
      const std::size_t expected = fail_at < 200 ? fail_at : 200;
      ASSERT_EQ(emitted.size(), expected) << threads;
      for (std::size_t i = 0; i < emitted.size(); ++i) ASSERT_EQ(emitted[i], i);
      EXPECT_EQ(error, fail_at < 200 ? "item " + std::to_string(fail_at) : "");
    }
  }
}

}  // namespace
