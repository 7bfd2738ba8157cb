// The fast floating-point writer: file layout byte by byte, the extremes and
// their description, refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "common/error.h"
#include "tests/support/files.h"
#include "tests/support/images.h"
#include "tests/support/libtiff_oracle.h"
#include "tiffwrite/sif_f.h"

namespace {

using pv::SIF_F_desc;
using pv::sif_f_fast::StoreImageFile_Float;
using pvtest::Bytes;
using pvtest::Le16;
using pvtest::Le32;
using pvtest::LeFloat;

using pvtest::Image;

Bytes Store(const Image& img, const char* description, const std::string& path) {
  StoreImageFile_Float(path.c_str(), img.nx, img.ny, img.rows().data(), description);
  return pvtest::ReadFile(path);
}

// Value field of the directory entry with `tag`, or -1 when absent.
struct Entry {
  std::uint16_t type = 0;
  std::uint32_t count = 0, value = 0;
  bool present = false;
};
Entry Find(const Bytes& f, std::uint16_t tag) {
  std::uint32_t ifd = Le32(f, 4);
  for (std::uint32_t i = 0, n = Le16(f, ifd); i < n; ++i) {
    std::size_t e = ifd + 2 + 12 * i;
    if (Le16(f, e) == tag) return {Le16(f, e + 2), Le32(f, e + 4), Le32(f, e + 8), true};
  }
  return {};
}

TEST(FastFloatWriter, TwoPixelsWithoutDescription) {
  pvtest::TempDir dir;
  Bytes f = Store({2, 1, {0, 1}}, nullptr, dir / "a.tif");
  ASSERT_EQ(f.size(), 178u);
  EXPECT_EQ(f[0], 'I');
  EXPECT_EQ(f[1], 'I');
  EXPECT_EQ(Le16(f, 2), 42);
  EXPECT_EQ(Le32(f, 4), 16u);
  EXPECT_EQ(LeFloat(f, 8), 0.0f);
  EXPECT_EQ(LeFloat(f, 12), 1.0f);
  EXPECT_EQ(Le16(f, 16), 13);
  // Entries in ascending tag order, then a zero next-directory offset.
  const std::uint16_t tags[] = {256, 257, 258, 259, 262, 273, 277, 278, 279, 284, 339, 340, 341};
  for (int i = 0; i < 13; ++i) EXPECT_EQ(Le16(f, 18 + 12 * i), tags[i]) << "entry " << i;
  EXPECT_EQ(Le32(f, 174), 0u);
  EXPECT_EQ(Find(f, 278).value, 1u);
  EXPECT_EQ(Find(f, 279).value, 8u);
  EXPECT_EQ(Find(f, 273).value, 8u);
  EXPECT_EQ(Find(f, 339).value, 3u);
  EXPECT_EQ(Find(f, 340).type, 11);
  EXPECT_EQ(LeFloat(f, 18 + 12 * 11 + 8), 0.0f);
  EXPECT_EQ(LeFloat(f, 18 + 12 * 12 + 8), 1.0f);
  EXPECT_FALSE(Find(f, 270).present);
  EXPECT_EQ(pv::SIF_F_min, 0.0);
  EXPECT_EQ(pv::SIF_F_max, 1.0);
}

TEST(FastFloatWriter, OwnDescriptionHoldsTheExtremes) {
  pvtest::TempDir dir;
  std::strcpy(SIF_F_desc, "whatever was here before");
  Bytes f = Store({2, 1, {0, 1}}, SIF_F_desc, dir / "a.tif");
  ASSERT_EQ(f.size(), 208u);
  Entry d = Find(f, 270);
  EXPECT_EQ(d.type, 2);
  EXPECT_EQ(d.count, 18u);
  EXPECT_EQ(d.value, 190u);
  EXPECT_EQ(std::string(f.begin() + 190, f.end()), std::string("0.000000\t1.000000\0", 18));
  EXPECT_STREQ(SIF_F_desc, "0.000000\t1.000000");
  pvtest::LibtiffImage back = pvtest::ReadWithLibtiff(dir / "a.tif");
  EXPECT_LIBTIFF_CLEAN(back);
  EXPECT_EQ(back.description, "0.000000\t1.000000");
}

TEST(FastFloatWriter, ShortDescriptionsStandInTheEntry) {
  struct Case {
    const char* text;
    std::uint32_t count;
    Bytes field;  // the value field; empty when the text goes behind the directory
  } cases[] = {
      {"abc", 4, {'a', 'b', 'c', 0}},
      {"", 1, {0, 0, 0, 0}},
      {"abcd", 5, {}},
  };
  for (const Case& c : cases) {
    pvtest::TempDir dir;
    Bytes f = Store({1, 1, {2.5}}, c.text, dir / "a.tif");
    Entry d = Find(f, 270);
    ASSERT_TRUE(d.present) << c.text;
    EXPECT_EQ(d.count, c.count) << c.text;
    if (c.field.empty()) {
      EXPECT_EQ(d.value, 182u + 4u) << c.text;
      EXPECT_EQ(f.size(), 186u + c.count) << c.text;
    } else {
      EXPECT_EQ(f.size(), 186u) << c.text;
      std::uint32_t ifd = Le32(f, 4);
      std::size_t at = ifd + 2 + 12 * 5 + 8;  // the sixth entry is 270
      EXPECT_EQ(Bytes(f.begin() + at, f.begin() + at + 4), c.field) << c.text;
    }
  }
}

TEST(FastFloatWriter, ExtremesFollowTheComparisonRule) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    std::vector<double> values;
    double lo, hi;
    const char* text;
  } cases[] = {
      {{7.5, 7.5, 7.5}, 7.5, 7.5, "7.500000\t7.500000"},
      {{1, nan, -2}, -2, 1, "-2.000000\t1.000000"},
      // Two values that round to the same float still set different extremes.
      {{1.0, 1.0 + 1e-12}, 1.0, 1.0 + 1e-12, "1.000000\t1.000000"},
  };
  for (const Case& c : cases) {
    pvtest::TempDir dir;
    Store({int(c.values.size()), 1, c.values}, SIF_F_desc, dir / "a.tif");
    EXPECT_EQ(pv::SIF_F_min, c.lo);
    EXPECT_EQ(pv::SIF_F_max, c.hi);
    EXPECT_STREQ(SIF_F_desc, c.text);
  }
  pvtest::TempDir dir;
  Store({3, 1, {nan, 1, 2}}, SIF_F_desc, dir / "a.tif");
  EXPECT_TRUE(std::isnan(pv::SIF_F_min));
  EXPECT_TRUE(std::isnan(pv::SIF_F_max));
}

TEST(FastFloatWriter, HugeValuesBecomeInfinityButKeepTheirDoubleExtreme) {
  pvtest::TempDir dir;
  Bytes f = Store({2, 1, {0, 1e300}}, SIF_F_desc, dir / "a.tif");
  EXPECT_EQ(LeFloat(f, 12), std::numeric_limits<float>::infinity());
  EXPECT_EQ(LeFloat(f, Le32(f, 4) + 2 + 12 * 13 + 8), std::numeric_limits<float>::infinity());
  EXPECT_EQ(pv::SIF_F_max, 1e300);
  char expected[512];
  std::snprintf(expected, sizeof expected, "0.000000\t%lf", 1e300);
  EXPECT_STREQ(SIF_F_desc, expected);
}

TEST(FastFloatWriter, LibtiffReadsTheSameFloats) {
  Image img{37, 11, {}};
  for (int i = 0; i < img.nx * img.ny; ++i) img.values.push_back(std::sin(i * 0.37) * 1e3 + 1e-7 * i);
  pvtest::TempDir dir;
  Store(img, "described", dir / "a.tif");
  pvtest::LibtiffImage back = pvtest::ReadWithLibtiff(dir / "a.tif");
  EXPECT_LIBTIFF_CLEAN(back);
  EXPECT_EQ(back.width, 37u);
  EXPECT_EQ(back.height, 11u);
  EXPECT_EQ(back.bits, 32);
  EXPECT_EQ(back.sample_format, 3);
  EXPECT_EQ(back.values, pvtest::AsFloat32(img.values));
}

TEST(FastFloatWriter, RowsFromASourceGiveTheSameFile) {
  Image img{300, 40, {}};
  for (int i = 0; i < img.nx * img.ny; ++i) img.values.push_back(std::cos(i * 0.01) * 7);
  pvtest::TempDir dir;
  const Bytes from_table = Store(img, SIF_F_desc, dir / "t.tif");
  StoreImageFile_Float(
      (dir / "s.tif").c_str(), img.nx, img.ny,
      [&img](std::uint32_t y, double* scratch) {
        std::copy_n(img.values.begin() + std::ptrdiff_t(y) * img.nx, img.nx, scratch);
        return static_cast<const double*>(scratch);
      },
      SIF_F_desc);
  EXPECT_TRUE(pvtest::ReadFile(dir / "s.tif") == from_table);
}

TEST(FastFloatWriter, RefusesWhatItCannotStore) {
  pvtest::TempDir dir;
  pv::SIF_F_min = 11;
  pv::SIF_F_max = 12;
  std::strcpy(SIF_F_desc, "kept");
  const Image img{1, 1, {5}};
  const std::string missing = dir / "no/such/dir/a.tif";
  try {
    Store(img, SIF_F_desc, missing);
    FAIL() << "stored into a missing directory";
  } catch (const pv::FatalError& e) {
    EXPECT_EQ(e.line(), missing + " : file not stored.\n");
  }
  EXPECT_EQ(pv::SIF_F_min, 11);
  EXPECT_EQ(pv::SIF_F_max, 12);
  EXPECT_STREQ(SIF_F_desc, "kept");

  // A full device: the write fails and is reported, not ignored.
  try {
    StoreImageFile_Float("/dev/full", 1, 1, img.rows().data(), nullptr);
    FAIL() << "stored onto a full device";
  } catch (const pv::FatalError& e) {
    EXPECT_EQ(e.line(), "/dev/full : file not stored.\n");
  }
}

TEST(FastFloatWriter, RefusesOffsetsOf4GiBBeforeWriting) {
  pvtest::TempDir dir;
  const std::string path = dir / "big.tif";
  // The rows are never read for these sizes: the refusal comes first.
  std::vector<const double*> rows(16384, nullptr);
  // 4 * 65536 * 16384 = 2^32 bytes of pixels.
  EXPECT_THROW(StoreImageFile_Float(path.c_str(), 65536, 16384, rows.data(), nullptr), pv::FatalError);
  // 2^32 - 196 bytes of pixels plus 182 and a 15-byte text reach 2^32 + 1.
  std::vector<const double*> rows2(1, nullptr);
  EXPECT_THROW(StoreImageFile_Float(path.c_str(), 1073741775, 1, rows2.data(), "fourteen chars"),
               pv::FatalError);
  EXPECT_FALSE(pvtest::Exists(path));
}

}  // namespace
