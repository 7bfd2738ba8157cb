// The integer writer's file layout: strip arithmetic, row bytes by depth,
// pad bytes, SHORT/LONG size entries, photometric, the depths it refuses.
// Every layout is also read back by libtiff. What every writer guarantees
// (the description's place too) is in tests/tiffwrite/writers_test.cpp.
#include <gtest/gtest.h>

#include <random>

#include "common/tiff.h"
#include "tests/support/fatal.h"
#include "tests/support/files.h"
#include "tests/support/libtiff_oracle.h"
#include "tests/support/row_tables.h"
#include "tests/support/tiff_layout.h"
#include "tiffwrite/sif.h"

namespace pvtest {
namespace {

struct Image {
  int nx, ny, bps;
  std::vector<std::vector<std::uint16_t>> rows;
  std::vector<const std::uint16_t*> pointers() const {
    std::vector<const std::uint16_t*> p;
    for (const auto& r : rows) p.push_back(r.data());
    return p;
  }
};

Image MakeImage(int nx, int ny, int bps, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Image img{nx, ny, bps, {}};
  const std::uint32_t limit = bps >= 16 ? 65536 : 1u << bps;
  for (int i = 0; i < ny; ++i) {
    std::vector<std::uint16_t> row(nx);
    // Smooth with some noise, so strips are neither trivial nor random.
    for (int j = 0; j < nx; ++j) row[j] = std::uint16_t(((i + j) / 3 + rng() % 3) % limit);
    img.rows.push_back(std::move(row));
  }
  return img;
}

// The bytes a row is stored as, packed sample by sample and bit by bit.
Bytes RowBytes(const std::vector<std::uint16_t>& row, int bps) {
  Bytes out;
  std::size_t bit = 0;
  for (std::uint16_t s : row)
    for (int b = bps - 1; b >= 0; --b, ++bit) {
      if (bit % 8 == 0) out.push_back(0);
      if ((s >> b) & 1) out.back() |= std::uint8_t(0x80 >> (bit % 8));
    }
  if (bps == 16)  // stored low byte first
    for (std::size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
  return out;
}

struct Layout {
  std::uint32_t rows_per_strip, strips, first_strip;
  std::uint16_t width_type, height_type;
};

// Checks the file against the layout rules (CheckStripFile), each strip
// against its rows' bytes.
void CheckFile(const Bytes& file, const Image& img, const Layout& want) {
  Bytes rows;
  for (const auto& row : img.rows) {
    const Bytes b = RowBytes(row, img.bps);
    rows.insert(rows.end(), b.begin(), b.end());
  }
  using namespace pv::tiff;
  CheckStripFile(file, {.width = std::uint32_t(img.nx),
                        .height = std::uint32_t(img.ny),
                        .width_type = want.width_type,
                        .height_type = want.height_type,
                        .bits = std::uint16_t(img.bps),
                        .photometric = img.bps == 1 ? kWhiteIsZero : kBlackIsZero,
                        .rows_per_strip = want.rows_per_strip,
                        .strips = want.strips,
                        .first_strip = want.first_strip,
                        .rows = std::move(rows)});
}

constexpr std::uint16_t S = pv::tiff::kShort, L = pv::tiff::kLong;

TEST(StoreImageFile, Layouts) {
  const struct {
    const char* name;
    int nx, ny, bps;
    Layout want;
  } cases[] = {
      {"8-bit 100x10: one strip, R beyond the height", 100, 10, 8, {81, 1, 8, S, S}},
      {"8-bit 100x100: two strips and arrays", 100, 100, 8, {81, 2, 8, S, S}},
      {"row of 8192 bytes: R = 1", 8192, 3, 8, {1, 3, 8, S, S}},
      {"row of 4096 bytes: R = 2", 2048, 5, 16, {2, 3, 8, S, S}},
      {"row beyond 8192 bytes: R = 1", 9000, 2, 8, {1, 2, 8, S, S}},
      {"1-bit width 10: two bytes a row, WhiteIsZero", 10, 7, 1, {4096, 1, 8, S, S}},
      {"12-bit odd width", 5, 4, 12, {1024, 1, 8, S, S}},
      {"16-bit", 300, 40, 16, {13, 4, 8, S, S}},
      {"3-bit", 33, 9, 3, {630, 1, 8, S, S}},
      {"width 65535: SHORT", 65535, 1, 1, {1, 1, 8, S, S}},
      {"width 65536: LONG", 65536, 1, 1, {1, 1, 8, L, S}},
      {"height 65536: LONG", 1, 65536, 8, {8192, 8, 8, S, L}},
      {"8-bit 1024x512: batches of strips on all CPUs", 1024, 512, 8, {8, 64, 8, S, S}},
  };
  TempDir dir;
  std::uint32_t seed = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Image img = MakeImage(c.nx, c.ny, c.bps, ++seed);
    const std::string path = dir / "out.tif";
    StoreRows(path.c_str(), c.nx, c.ny, c.bps, img.pointers().data(), nullptr);
    CheckFile(ReadFile(path), img, c.want);
    const LibtiffImage back = ReadWithLibtiff(path);
    EXPECT_LIBTIFF_CLEAN(back);
    EXPECT_EQ(back.photometric, c.bps == 1 ? pv::tiff::kWhiteIsZero : pv::tiff::kBlackIsZero);
    ASSERT_EQ(back.values.size(), std::size_t(c.nx) * c.ny);
    for (int i = 0; i < c.ny; ++i)
      for (int j = 0; j < c.nx; ++j)
        if (back.values[std::size_t(i) * c.nx + j] != img.rows[i][j])
          FAIL() << "sample " << i << "," << j;
  }
}

TEST(StoreImageFile, RefusesDepthsOutsideTheInterface) {
  TempDir dir;
  const std::uint16_t sample = 0;
  const std::uint16_t* rows[] = {&sample};
  for (int bps : {0, 17, 32}) {
    SCOPED_TRACE(bps);
    const std::string path = dir / "a.tif";
    EXPECT_EQ(FatalLine([&] { StoreRows(path.c_str(), 1, 1, bps, rows, nullptr); }),
              path + " : file not stored.\n");
    EXPECT_FALSE(Exists(path));
  }
}

}  // namespace
}  // namespace pvtest
