// The full floating-point writer's strip layout in both builds: strip
// arithmetic, SHORT/LONG width; the LZW build's strips decode to exactly the
// rows' floats, as the uncompressed build's strips hold them, and libtiff
// reads the same values from both. What every writer guarantees (the
// description's place too) is in tests/tiffwrite/writers_test.cpp.
#include <gtest/gtest.h>

#include <cstring>

#include "common/tiff.h"
#include "tests/support/files.h"
#include "tests/support/images.h"
#include "tests/support/libtiff_oracle.h"
#include "tests/support/row_tables.h"
#include "tests/support/tiff_layout.h"
#include "tiffwrite/sif_f.h"

namespace pvtest {
namespace {

namespace tiff = pv::tiff;

const struct Build {
  const char* name;
  pv::FloatLayout layout;
  std::uint16_t compression;
} kBuilds[] = {
    {"lzw", pv::FloatLayout::kLzwStrips, tiff::kCompressionLZW},
    {"nolzw", pv::FloatLayout::kStrips, tiff::kCompressionNone},
};

struct Layout {
  std::uint32_t rows_per_strip, strips, first_strip;
  std::uint16_t width_type;
};

// Checks one build's file against the layout rules (CheckStripFile), each
// strip against its rows' little-endian floats.
void CheckFile(const Bytes& file, const Build& build, const Image& img, const Layout& want) {
  Bytes rows;
  for (double v : img.values) {
    const float f = static_cast<float>(v);
    std::uint8_t b[4];
    std::memcpy(b, &f, 4);
    rows.insert(rows.end(), b, b + 4);
  }
  CheckStripFile(file, {.floating = true,
                        .width = std::uint32_t(img.nx),
                        .height = std::uint32_t(img.ny),
                        .width_type = want.width_type,
                        .bits = 32,
                        .compression = build.compression,
                        .rows_per_strip = want.rows_per_strip,
                        .strips = want.strips,
                        .first_strip = want.first_strip,
                        .rows = std::move(rows)});
}

constexpr std::uint16_t S = tiff::kShort, L = tiff::kLong;

TEST(FullFloatWriter, Layouts) {
  const struct {
    const char* name;
    int nx, ny;
    Layout want;
  } cases[] = {
      {"width 2048: a strip per row", 2048, 3, {1, 3, 8, S}},
      {"width 2049", 2049, 2, {1, 2, 8, S}},
      {"width 1024 x 5: 2, 2 and 1 rows", 1024, 5, {2, 3, 8, S}},
      {"10 x 10: one strip, R beyond the height", 10, 10, {204, 1, 8, S}},
      {"width 10 x 500", 10, 500, {204, 3, 8, S}},
      {"width 65536: LONG", 65536, 1, {1, 1, 8, L}},
      {"1024 x 300: batches of strips on all CPUs", 1024, 300, {2, 150, 8, S}},
  };
  TempDir dir;
  std::uint32_t seed = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Image img = SmoothImage(c.nx, c.ny, ++seed);
    for (const Build& build : kBuilds) {
      SCOPED_TRACE(build.name);
      const std::string path = dir / "f.tif";
      StoreRows_Float(path.c_str(), c.nx, c.ny, img.rows().data(), nullptr, build.layout);
      CheckFile(ReadFile(path), build, img, c.want);
      const LibtiffImage back = ReadWithLibtiff(path);
      EXPECT_LIBTIFF_CLEAN(back);
      EXPECT_EQ(back.values, AsFloat32(img.values));
    }
  }
}

}  // namespace
}  // namespace pvtest
