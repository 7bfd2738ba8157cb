// The full floating-point writer in both builds: strip layout, extremes and
// description, refusals; the LZW build's strips decode to exactly the
// uncompressed build's strips, and libtiff reads the same values from both.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <utility>

#include "common/error.h"
#include "tests/quant/lzw_check.h"
#include "tests/support/files.h"
#include "tests/support/images.h"
#include "tests/support/libtiff_oracle.h"
#include "tiffwrite/sif_f.h"

namespace pvtest {
namespace {

using Writer = void (*)(const char*, int, int, const double* const*, const char*);
using SourceWriter = void (*)(const char*, int, int, const pv::FloatRows&, const char*);
const struct Build {
  const char* name;
  Writer store;
  SourceWriter store_rows;
  std::uint16_t compression;
} kBuilds[] = {
    {"lzw", pv::sif_f_full_lzw::StoreImageFile_Float,
     pv::sif_f_full_lzw::StoreImageFile_Float, 5},
    {"nolzw", pv::sif_f_full_nolzw::StoreImageFile_Float,
     pv::sif_f_full_nolzw::StoreImageFile_Float, 1},
};

using pvtest::Image;

Image MakeImage(int nx, int ny, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> noise(-0.01, 0.01);
  Image img{nx, ny, {}};
  for (int i = 0; i < ny; ++i)
    for (int j = 0; j < nx; ++j) img.values.push_back(std::sin(0.01 * (i + 2 * j)) + noise(rng));
  return img;
}

// The stored bytes of rows [first, end): little-endian floats.
Bytes FloatBytes(const Image& img, std::size_t first, std::size_t end) {
  Bytes out;
  for (std::size_t k = first * img.nx; k < end * img.nx; ++k) {
    const float f = static_cast<float>(img.values[k]);
    std::uint8_t b[4];
    std::memcpy(b, &f, 4);
    out.insert(out.end(), b, b + 4);
  }
  return out;
}

struct Layout {
  std::uint32_t rows_per_strip, strips, first_strip;
  std::uint16_t width_type;
};

// Checks one build's file against the layout rules (CheckStripFile), each
// strip against its rows' floats; returns the strips' contents as stored
// (decoded in the LZW build).
std::vector<Bytes> CheckFile(const Bytes& file, const Build& build, const Image& img,
                             bool with_description, const Layout& want) {
  const StripFile f = CheckStripFile(file, {.description = with_description,
                                            .floating = true,
                                            .width = std::uint32_t(img.nx),
                                            .height = std::uint32_t(img.ny),
                                            .width_type = want.width_type,
                                            .bits = 32,
                                            .compression = build.compression,
                                            .rows_per_strip = want.rows_per_strip,
                                            .strips = want.strips,
                                            .first_strip = want.first_strip});
  for (std::size_t k = 0; k < f.strips.size(); ++k) {
    const std::size_t first = k * want.rows_per_strip;
    EXPECT_TRUE(f.strips[k] ==
                FloatBytes(img, first, std::min<std::size_t>(img.ny, first + want.rows_per_strip)))
        << "strip " << k;
  }
  return f.strips;
}

TEST(FullFloatWriter, Layouts) {
  const struct {
    const char* name;
    int nx, ny;
    Layout want;
  } cases[] = {
      {"width 2048: a strip per row", 2048, 3, {1, 3, 8, 3}},
      {"width 2049", 2049, 2, {1, 2, 8, 3}},
      {"width 1024 x 5: 2, 2 and 1 rows", 1024, 5, {2, 3, 8, 3}},
      {"10 x 10: one strip, R beyond the height", 10, 10, {204, 1, 8, 3}},
      {"width 10 x 500", 10, 500, {204, 3, 8, 3}},
      {"width 65536: LONG", 65536, 1, {1, 1, 8, 4}},
      {"1024 x 300: batches of strips on all CPUs", 1024, 300, {2, 150, 8, 3}},
  };
  TempDir dir;
  std::uint32_t seed = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Image img = MakeImage(c.nx, c.ny, ++seed);
    std::vector<Bytes> per_build[2];
    for (int b = 0; b < 2; ++b) {
      SCOPED_TRACE(kBuilds[b].name);
      const std::string path = dir / "f.tif";
      kBuilds[b].store(path.c_str(), c.nx, c.ny, img.rows().data(), nullptr);
      per_build[b] = CheckFile(ReadFile(path), kBuilds[b], img, false, c.want);
      const LibtiffImage back = ReadWithLibtiff(path);
      EXPECT_LIBTIFF_CLEAN(back);
      EXPECT_EQ(back.values, AsFloat32(img.values));
    }
    EXPECT_TRUE(per_build[0] == per_build[1]);
  }
}

TEST(FullFloatWriter, UncompressedCounts) {
  // 1024 x 5: counts 8192, 8192, 4096, strips back to back; 10 x 10: 400.
  TempDir dir;
  const struct {
    int nx, ny;
    std::vector<std::uint32_t> counts;
  } cases[] = {{1024, 5, {8192, 8192, 4096}}, {10, 10, {400}}};
  for (const auto& c : cases) {
    const Image img = MakeImage(c.nx, c.ny, 5);
    pv::sif_f_full_nolzw::StoreImageFile_Float((dir / "u.tif").c_str(), c.nx, c.ny,
                                               img.rows().data(), nullptr);
    const Bytes f = ReadFile(dir / "u.tif");
    EXPECT_EQ(Strips(f, ParseDirectory(f)).counts, c.counts);
  }
}

TEST(FullFloatWriter, ExtremesAndDescriptions) {
  const Image img{3, 1, {1, 5, 3}};
  const struct {
    const char* name;
    const char* given;  // null: none; "own": SIF_F_desc
    std::string text;
    std::uint32_t first_strip;
  } cases[] = {
      {"own description of the extremes", "own", "1.000000\t5.000000", 26},
      {"19 characters: L = 20 at 8, strip at 28", "0123456789012345678", "0123456789012345678", 28},
      {"18 characters: L = 19 and a pad byte, strip at 28", "012345678901234567",
       "012345678901234567", 28},
      {"3 characters in the entry", "abc", "abc", 8},
      {"no description", nullptr, "", 8},
  };
  TempDir dir;
  for (const auto& build : kBuilds)
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(build.name) + ": " + c.name);
      std::strcpy(pv::SIF_F_desc, "stale");
      pv::SIF_F_min = pv::SIF_F_max = -99;
      const char* given =
          c.given == nullptr ? nullptr : std::strcmp(c.given, "own") == 0 ? pv::SIF_F_desc : c.given;
      const std::string path = dir / "e.tif";
      build.store(path.c_str(), 3, 1, img.rows().data(), given);
      EXPECT_EQ(pv::SIF_F_min, 1.0);
      EXPECT_EQ(pv::SIF_F_max, 5.0);
      if (given == pv::SIF_F_desc) {
        EXPECT_STREQ(pv::SIF_F_desc, c.text.c_str());
      } else {
        EXPECT_STREQ(pv::SIF_F_desc, "stale");
      }
      const Bytes f = ReadFile(path);
      CheckFile(f, build, img, given != nullptr, {682, 1, c.first_strip, 3});
      const LibtiffImage back = ReadWithLibtiff(path);
      EXPECT_LIBTIFF_CLEAN(back);
      EXPECT_EQ(back.description,
                given ? std::optional<std::string>(c.text) : std::optional<std::string>());
      const TiffDirectory d = ParseDirectory(f);
      EXPECT_EQ(LeFloat(f, d.offset + 2 + 12 * (d.entries.size() - 2) + 8), 1.0f);
      EXPECT_EQ(LeFloat(f, d.offset + 2 + 12 * (d.entries.size() - 1) + 8), 5.0f);
    }
}

TEST(FullFloatWriter, RowsFromASourceGiveTheSameFile) {
  // A source that fills the writer's scratch, called on several threads at
  // once and twice a row (extremes, then strips), against the table.
  TempDir dir;
  const Image img = MakeImage(1000, 200, 8);
  for (const auto& build : kBuilds) {
    SCOPED_TRACE(build.name);
    build.store((dir / "t.tif").c_str(), img.nx, img.ny, img.rows().data(), pv::SIF_F_desc);
    const std::string from_table = pv::SIF_F_desc;
    const pv::FloatRows source = [&img](std::uint32_t y, double* scratch) {
      std::copy_n(img.values.begin() + std::ptrdiff_t(y) * img.nx, img.nx, scratch);
      return static_cast<const double*>(scratch);
    };
    build.store_rows((dir / "s.tif").c_str(), img.nx, img.ny, source, pv::SIF_F_desc);
    EXPECT_EQ(pv::SIF_F_desc, from_table);
    EXPECT_TRUE(ReadFile(dir / "t.tif") == ReadFile(dir / "s.tif"));
  }
}

TEST(FullFloatWriter, ExtremesOfLargeImagesFollowTheRule) {
  // The extremes of an image of many rows are found in bands on all CPUs:
  // they must be those of one pass in order (the first value starts both, a
  // NaN never replaces, of +0 and -0 the first stays), here with the
  // deciding values in different bands.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const int nx = 1024, ny = 300;
  const auto at = [](int row) { return std::size_t(row) * nx + 7; };
  const struct {
    const char* name;
    double background;
    std::vector<std::pair<std::size_t, double>> set;
    const char* text;
  } cases[] = {
      {"NaN first holds both", 0.5, {{0, nan}, {at(100), -3}, {at(250), 9}}, "nan\tnan"},
      {"NaN later never replaces", 0.5, {{at(70), nan}, {at(200), -1e-300}},
       "-0.000000\t0.500000"},
      {"first zero of the minimum: +0 before -0", 0.5, {{at(64), 0.0}, {at(260), -0.0}},
       "0.000000\t0.500000"},
      {"first zero of the minimum: -0 before +0", 0.5, {{at(64), -0.0}, {at(260), 0.0}},
       "-0.000000\t0.500000"},
      {"first zero of the maximum", -2, {{at(1), -0.0}, {at(299), 0.0}}, "-2.000000\t-0.000000"},
  };
  TempDir dir;
  for (const auto& build : kBuilds)
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(build.name) + ": " + c.name);
      Image img{nx, ny, std::vector<double>(std::size_t(nx) * ny, c.background)};
      for (const auto& [k, v] : c.set) img.values[k] = v;
      build.store((dir / "r.tif").c_str(), nx, ny, img.rows().data(), pv::SIF_F_desc);
      EXPECT_STREQ(pv::SIF_F_desc, c.text);
    }
}

TEST(FullFloatWriter, RefusalsLeaveGlobalsAlone) {
  TempDir dir;
  const double v = 2;
  const double* rows[] = {&v};
  const struct {
    const char* name;
    std::string path;
    int nx, ny;
    bool own_description;
  } cases[] = {
      {"missing directory", dir / "no/such.tif", 1, 1, true},
      // 4 x 2^16 x 2^14 bytes of samples: refused before the image is read
      // (the single row pointer is never followed).
      {"file could pass 2^32", dir / "big.tif", 1 << 16, 1 << 14, false},
  };
  for (const auto& build : kBuilds)
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(build.name) + ": " + c.name);
      pv::SIF_F_min = pv::SIF_F_max = -7;
      std::strcpy(pv::SIF_F_desc, "kept");
      try {
        build.store(c.path.c_str(), c.nx, c.ny, rows, c.own_description ? pv::SIF_F_desc : nullptr);
        ADD_FAILURE() << "stored";
      } catch (const pv::FatalError& e) {
        EXPECT_EQ(e.line(), c.path + " : file not stored.\n");
      }
      EXPECT_FALSE(Exists(c.path));
      EXPECT_EQ(pv::SIF_F_min, -7);
      EXPECT_EQ(pv::SIF_F_max, -7);
      EXPECT_STREQ(pv::SIF_F_desc, "kept");
    }
}

TEST(FullFloatWriter, WriteErrorIsReported) {
  const Image img = MakeImage(100, 100, 1);
  for (const auto& build : kBuilds) {
    SCOPED_TRACE(build.name);
    try {
      build.store("/dev/full", 100, 100, img.rows().data(), nullptr);
      ADD_FAILURE() << "stored";
    } catch (const pv::FatalError& e) {
      EXPECT_EQ(e.line(), "/dev/full : file not stored.\n");
    }
  }
}

}  // namespace
}  // namespace pvtest
