// The shared mechanisms that the speed of the programs rests on: ranges
// found block by block (and joined) must equal one pass in order, and work
// spread over threads must come out in order, failing where one thread
// would fail. The description's mappings and the texts of its numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/description.h"
#include "common/parallel.h"
#include "common/range.h"

namespace {

// Equal bits; a missing range is the positive NaN.
bool Same(double a, double b) {
  if (std::isnan(b)) return std::isnan(a) && !std::signbit(a);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Values drawn from few numbers, both zeros, NaN and both infinities, so
// that ties, zero signs and blocks without a finite value occur all the time;
// as doubles and as floats (compared in lanes of their own).
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
    auto check = [&](const auto& values) {
      pv::Range whole, first, second, third;
      whole.Add(values.data(), a);
      whole.Add(values.data() + a, b - a);
      whole.Add(values.data() + b, values.size() - b);
      first.Add(values.data(), a);
      second.Add(values.data() + a, b - a);
      third.Add(values.data() + b, values.size() - b);
      second.Join(third);
      first.Join(second);
      ASSERT_TRUE(Same(whole.min(), lo) && Same(whole.max(), hi)) << trial;
      ASSERT_TRUE(Same(first.min(), lo) && Same(first.max(), hi)) << trial;
    };
    check(v);
    check(std::vector<float>(v.begin(), v.end()));
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

// Batched work as each kind plans it: the batches take every item once, in
// order; threads and slots follow the kind's rule (no thread where the work
// is not worth two, one slot for one thread, no more slots than batches);
// and the range of rows found band by band is that of one pass.
TEST(BatchPlan, CutsEveryItemOnceAndSizesThreadsAndSlotsByTheRule) {
  struct Case {
    pv::BatchPlan plan;
    std::size_t batches;
    unsigned threads;
    std::size_t slots;
  };
  const Case cases[] = {
      // Decoding: two batches a thread, else no thread at all.
      {{.items = 10, .per_batch = 3, .batches_per_thread = 2, .most_threads = 4}, 4, 2, 4},
      {{.items = 5, .per_batch = 3, .batches_per_thread = 2, .most_threads = 4}, 2, 1, 1},
      // Encoding and ranges: two slots a thread, never more than the batches.
      {{.items = 7, .per_batch = 7, .most_threads = 2}, 1, 1, 1},
      {{.items = 9, .per_batch = 4, .most_threads = 2}, 3, 2, 3},
      {{.items = 100, .per_batch = 4, .most_threads = 2}, 25, 2, 4},
      {{.items = 100, .per_batch = 64, .most_threads = 1}, 2, 1, 1},
      {{.items = 0, .per_batch = 64, .most_threads = 2}, 0, 1, 1},
      // Slices: one ahead of those in work, five slots at the most.
      {{.items = 48, .ahead = 1, .most_slots = 5, .most_threads = 2}, 48, 2, 3},
      {{.items = 48, .ahead = 1, .most_slots = 5, .most_threads = 8}, 48, 8, 5},
      {{.items = 48, .ahead = 1, .most_slots = 5, .most_threads = 1}, 48, 1, 1},
  };
  for (const Case& c : cases) {
    const pv::BatchPlan& plan = c.plan;
    EXPECT_EQ(plan.batches(), c.batches) << plan.items;
    EXPECT_EQ(plan.threads(), c.threads) << plan.items;
    EXPECT_EQ(plan.slots(), c.slots) << plan.items;
    for (std::size_t b = 0; b < plan.batches(); ++b) {
      ASSERT_GT(plan.End(b), b * plan.per_batch) << plan.items;
    }
    EXPECT_EQ(plan.batches() > 0 ? plan.End(plan.batches() - 1) : 0, plan.items);
    // Row y holds y or -y: both extremes stand in the last rows.
    std::vector<double> v(plan.items);
    for (std::size_t y = 0; y < v.size(); ++y) v[y] = y % 2 ? double(y) : -double(y);
    pv::Range one;
    one.Add(v.data(), v.size());
    const pv::Range rows =
        pv::RangeOfRows(plan, [&](pv::Range& r, std::size_t y, std::size_t) { r.Add(&v[y], 1); });
    EXPECT_TRUE(Same(rows.min(), one.min()) && Same(rows.max(), one.max())) << plan.items;
  }
}

TEST(Description, Mappings) {
  const std::string long_word(2048, 'x');
  struct Case {
    std::string text;
    int bits;
    bool found;
    double base, step;
  };
  const Case cases[] = {
      // Two or six words: a range lo hi.
      {"10.000000\t20.000000", 8, true, 10, 10.0 / 255},
      {std::string("10.000000\t20.000000\0", 20), 8, true, 10, 10.0 / 255},
      {"a b c d 0 255", 8, true, 0, 1},
      {"0 65535", 16, true, 0, 1},
      {"0 4294967295", 32, true, 0, 1},
      {"-1 1", 1, true, -1, 2},
      {"1e1 2e1", 8, true, 10, 10.0 / 255},
      {"20 10", 8, false, 0, 1},
      {"10 10", 8, false, 0, 1},
      {"10 abc", 8, false, 0, 1},
      {"nan 1", 8, false, 0, 1},
      // Only a whole word is a number; a mapping's numbers are finite.
      {"{\"shape\": [6, 4, 5]}", 16, false, 0, 1},
      {"10.000000\t20.000000x", 8, false, 0, 1},
      {"-inf 1", 8, false, 0, 1},
      {"-1e308 1e308", 8, false, 0, 1},  // the step would be infinite
      {"9.9999999999999995e-08\t4.2e-05", 16, true, 1e-7, (4.2e-5 - 1e-7) / 65535},
      // Three, four or eight words: a base and a step.
      {"x 5 0.5", 8, true, 5, 0.5},
      {"a b 5 0.5", 8, true, 5, 0.5},
      {"1 2 3 4 5 6 -2 0.25", 8, true, -2, 0.25},
      {"1 2 3 4 5 6 7 8 9 10", 8, true, 7, 8},  // only eight words are read
      {"x 5 0", 8, false, 0, 1},
      {"x 5 -1", 8, false, 0, 1},
      {"x 5 step", 8, false, 0, 1},
      {"x 5 inf", 8, false, 0, 1},
      {"pvquant\t0.000000\t0.100000", 16, true, 0, 0.1},
      // ImageJ: the straight-line calibration only, whatever the word count.
      {"ImageJ=1.54f\nimages=1\ncf=0\nc0=-33792.0\nc1=1.0\nvunit=HU\n", 16, true, -33792, 1},
      {"ImageJ=1.54f\ncf=0\nc0=-1\nc1=0.5", 8, true, -1, 0.5},
      {"ImageJ=1.54f\ncf=1\nc0=-1\nc1=0.5", 8, false, 0, 1},
      {"ImageJ=1.54f\nmin=0\nmax=255", 8, false, 0, 1},
      {"ImageJ=\ncf=0\nc0=x\nc1=1", 8, false, 0, 1},
      // Any other count.
      {"", 8, false, 0, 1},
      {" \t\n", 8, false, 0, 1},
      {"5", 8, false, 0, 1},
      {"a 0 1 2 3", 8, false, 0, 1},
      {"a b c d 0 1 2", 8, false, 0, 1},
      {std::string("10 20\0 30 40", 12), 8, true, 10, 10.0 / 255},  // the text ends at its NUL
      // A word too long for its 2048-byte buffer: no mapping at all.
      {long_word + " 5 0.5", 8, false, 0, 1},
      {long_word.substr(1) + " 5 0.5", 8, true, 5, 0.5},
  };
  for (const Case& c : cases) {
    const pv::Mapping m = pv::DescriptionMapping(c.text, c.bits);
    SCOPED_TRACE(testing::PrintToString(c.text.substr(0, 40)) + " bits " + std::to_string(c.bits));
    EXPECT_EQ(m.found, c.found);
    EXPECT_EQ(m.base, c.base);
    EXPECT_EQ(m.step, c.step);
  }
}

// The texts of ranges and mappings: six decimals where they read back
// within a tenth of the finest step, else 17 digits.
TEST(Description, NumberTexts) {
  EXPECT_EQ(pv::RangeText(0, 255), "0.000000\t255.000000");
  EXPECT_EQ(pv::RangeText(-2.25, 13.125), "-2.250000\t13.125000");
  EXPECT_EQ(pv::RangeText(7.5, 7.5), "7.500000\t7.500000");
  EXPECT_EQ(pv::RangeText(NAN, NAN), "nan\tnan");
  EXPECT_EQ(pv::RangeText(2.5e-6, 4.2e-5), "2.5000000000000002e-06\t4.1999999999999998e-05");
  EXPECT_EQ(pv::RangeText(1e-7, 1e-7), "9.9999999999999995e-08\t9.9999999999999995e-08");
  EXPECT_EQ(pv::RangeText(0.1234567, 1000.5), "0.123457\t1000.500000");
  EXPECT_EQ(pv::RangeText(0.1234567, 1.5), "0.123457\t1.500000");     // misses 3e-7 of 2.1e-6
  EXPECT_EQ(pv::RangeText(0.1234567, 0.2), "0.1234567\t0.20000000000000001");  // of 1.2e-7
  EXPECT_EQ(pv::BaseStepText(0, 0.1, 65535), "pvquant\t0.000000\t0.100000");
  EXPECT_EQ(pv::BaseStepText(10, 0.04, 255), "pvquant\t10.000000\t0.040000");
  EXPECT_EQ(pv::BaseStepText(10, 10.0 / 255, 255), "pvquant\t10\t0.039215686274509803");
  EXPECT_EQ(pv::BaseStepText(10, 10.0 / 65535, 65535),
            "pvquant\t10\t0.00015259021896696422");
  // Every text reads back as the mapping it states.
  for (int bits : {1, 8, 16})
    for (double lo : {-1e-9, 2e-6, 0.3, -1000.25})
      for (double width : {1e-7, 0.04, 1.0, 3e5}) {
        const std::uint32_t top = (1u << bits) - 1;
        const double step = width / top;
        const pv::Mapping range = pv::DescriptionMapping(pv::RangeText(lo, lo + width), bits);
        const pv::Mapping base = pv::DescriptionMapping(pv::BaseStepText(lo, step, top), bits);
        EXPECT_TRUE(pv::SameMapping(range, lo, step, top)) << pv::RangeText(lo, lo + width);
        EXPECT_TRUE(pv::SameMapping(base, lo, step, top)) << pv::BaseStepText(lo, step, top);
      }
  // Off by more than a tenth of a 16-bit step at either end (1.5e-5 here)
  // is another mapping.
  const pv::Mapping m = {true, 10, 10.0 / 255};
  EXPECT_TRUE(pv::SameMapping(m, 10 + 1e-6, 10.0 / 255, 255));
  EXPECT_FALSE(pv::SameMapping(m, 10 + 1e-4, 10.0 / 255, 255));
  EXPECT_FALSE(pv::SameMapping(m, 10, 10.02 / 255, 255));
}

}  // namespace
