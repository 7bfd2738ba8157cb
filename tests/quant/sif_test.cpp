// The integer writer's file layout: strip arithmetic, row bytes by depth,
// pad bytes, description placement, SHORT/LONG size entries, photometric,
// refusals. Every file is also read back by libtiff.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <random>

#include "common/error.h"
#include "tests/quant/lzw_check.h"
#include "tests/support/files.h"
#include "tests/support/libtiff_oracle.h"
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
  if (bps == 32) {
    for (std::uint16_t s : row) out.insert(out.end(), {std::uint8_t(s), std::uint8_t(s >> 8), 0, 0});
    return out;
  }
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
// against its rows' bytes; returns the directory.
TiffDirectory CheckFile(const Bytes& file, const Image& img, const char* description,
                        const Layout& want) {
  const StripFile f = CheckStripFile(
      file, {.description = description != nullptr,
             .width = std::uint32_t(img.nx),
             .height = std::uint32_t(img.ny),
             .width_type = want.width_type,
             .height_type = want.height_type,
             .bits = std::uint16_t(img.bps),
             .photometric = std::uint16_t(img.bps == 1 ? 0 : 1),
             .rows_per_strip = want.rows_per_strip,
             .strips = want.strips,
             .first_strip = want.first_strip});
  for (std::uint32_t k = 0; k < f.strips.size(); ++k) {
    Bytes rows;
    for (std::uint32_t r = k * want.rows_per_strip;
         r < std::min<std::uint32_t>(img.ny, (k + 1) * want.rows_per_strip); ++r) {
      const Bytes row = RowBytes(img.rows[r], img.bps);
      rows.insert(rows.end(), row.begin(), row.end());
    }
    EXPECT_TRUE(f.strips[k] == rows) << "strip " << k;
  }
  return f.dir;
}

constexpr std::uint16_t S = 3, L = 4;

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
      {"32-bit widened samples", 100, 30, 32, {20, 2, 8, S, S}},
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
    pv::StoreImageFile(path.c_str(), c.nx, c.ny, c.bps, img.pointers().data(), nullptr);
    CheckFile(ReadFile(path), img, nullptr, c.want);
    if (c.bps == 32) continue;  // libtiff reads 32-bit integers too, but check values below 32
    const LibtiffImage back = ReadWithLibtiff(path);
    EXPECT_LIBTIFF_CLEAN(back);
    EXPECT_EQ(back.photometric, c.bps == 1 ? 0 : 1);
    ASSERT_EQ(back.values.size(), std::size_t(c.nx) * c.ny);
    for (int i = 0; i < c.ny; ++i)
      for (int j = 0; j < c.nx; ++j)
        if (back.values[std::size_t(i) * c.nx + j] != img.rows[i][j])
          FAIL() << "sample " << i << "," << j;
  }
}

TEST(StoreImageFile, OneBitAndTwelveBitPacking) {
  // Width 10 at 1 bit: samples 0..7 in the first byte from the top bit, 8
  // and 9 in the top of the second. Width 3 at 12 bits: the last sample's
  // low four bits in the top half of the fifth byte.
  const struct {
    int bps;
    std::vector<std::uint16_t> row;
    Bytes stored;
  } cases[] = {
      {1, {1, 0, 1, 1, 0, 0, 0, 1, 1, 1}, {0xB1, 0xC0}},
      {12, {0xABC, 0x123, 0xFED}, {0xAB, 0xC1, 0x23, 0xFE, 0xD0}},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bps);
    const std::uint16_t* rows[] = {c.row.data()};
    pv::StoreImageFile((dir / "p.tif").c_str(), int(c.row.size()), 1, c.bps, rows, nullptr);
    const Bytes file = ReadFile(dir / "p.tif");
    const StripTable t = Strips(file, ParseDirectory(file));
    ASSERT_EQ(t.offsets.size(), 1u);
    EXPECT_TRUE(DecodeStrip(Bytes(file.begin() + t.offsets[0],
                                  file.begin() + t.offsets[0] + t.counts[0]))
                    .data == c.stored);
  }
}

TEST(StoreImageFile, DescriptionPlacement) {
  const struct {
    const char* text;
    std::uint32_t first_strip;
    bool in_entry;
  } cases[] = {
      {"abcde", 14, false},   // L = 6 at offset 8
      {"abcdef", 16, false},  // L = 7 and a pad byte
      {"abc", 8, true},       // L = 4 in the value field
      {"", 8, true},          // L = 1
      {"0.000000\t255.000000", 28, false},
  };
  TempDir dir;
  const Image img = MakeImage(100, 100, 8, 7);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string path = dir / "d.tif";
    pv::StoreImageFile(path.c_str(), 100, 100, 8, img.pointers().data(), c.text);
    const Bytes file = ReadFile(path);
    const TiffDirectory d = CheckFile(file, img, c.text, {81, 2, c.first_strip, S, S});
    const TiffEntry* e = d.Find(270);
    ASSERT_NE(e, nullptr);
    const std::uint32_t length = std::uint32_t(std::strlen(c.text) + 1);
    EXPECT_EQ(e->type, 2);
    EXPECT_EQ(e->count, length);
    Bytes stored;
    if (c.in_entry) {
      Bytes field(4, 0);
      std::memcpy(field.data(), c.text, length);
      EXPECT_EQ(e->value, Le32(field, 0));
    } else {
      EXPECT_EQ(e->value, 8u);
      EXPECT_EQ(Bytes(file.begin() + 8, file.begin() + 8 + length),
                Bytes(c.text, c.text + length));
      if (length & 1) {
        EXPECT_EQ(file[8 + length], 0);
      }
    }
    const LibtiffImage back = ReadWithLibtiff(path);
    EXPECT_LIBTIFF_CLEAN(back);
    EXPECT_EQ(back.description, std::optional<std::string>(c.text));
  }
}

TEST(StoreImageFile, Refusals) {
  TempDir dir;
  const std::uint16_t sample = 0;
  const std::uint16_t* rows[] = {&sample, &sample};
  const struct {
    const char* name;
    std::string path;
    int nx, ny, bps;
  } cases[] = {
      {"bps 0", dir / "a.tif", 1, 1, 0},
      {"bps 17", dir / "a.tif", 1, 1, 17},
      {"bps 31", dir / "a.tif", 1, 1, 31},
      {"width 0", dir / "a.tif", 0, 1, 8},
      {"height 0", dir / "a.tif", 1, 0, 8},
      // A row of 2^32 bytes: whatever it compresses to, the file could reach
      // 2^32 bytes; refused before the rows are looked at.
      {"file could pass 2^32", dir / "a.tif", INT_MAX, 2, 16},
      {"missing directory", dir / "no/such.tif", 1, 1, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      pv::StoreImageFile(c.path.c_str(), c.nx, c.ny, c.bps, rows, nullptr);
      ADD_FAILURE() << "stored";
    } catch (const pv::FatalError& e) {
      EXPECT_EQ(e.line(), c.path + " : file not stored.\n");
    }
    EXPECT_FALSE(Exists(c.path));
  }
}

TEST(StoreImageFile, RowsFromASourceGiveTheSameFile) {
  // A source that fills the writer's scratch, called on several threads at
  // once, against the table of rows.
  TempDir dir;
  for (int bps : {16, 12}) {
    SCOPED_TRACE(bps);
    const Image img = MakeImage(1500, 300, bps, 5);
    pv::StoreImageFile((dir / "t.tif").c_str(), img.nx, img.ny, bps, img.pointers().data(), "d");
    pv::StoreImageFile(
        (dir / "s.tif").c_str(), img.nx, img.ny, bps,
        [&img](std::uint32_t y, std::uint16_t* scratch) {
          std::copy(img.rows[y].begin(), img.rows[y].end(), scratch);
          return static_cast<const std::uint16_t*>(scratch);
        },
        "d");
    EXPECT_TRUE(ReadFile(dir / "t.tif") == ReadFile(dir / "s.tif"));
  }
}

TEST(StoreImageFile, WriteErrorIsReported) {
  const Image img = MakeImage(100, 100, 8, 1);
  try {
    pv::StoreImageFile("/dev/full", 100, 100, 8, img.pointers().data(), nullptr);
    ADD_FAILURE() << "stored";
  } catch (const pv::FatalError& e) {
    EXPECT_EQ(e.line(), "/dev/full : file not stored.\n");
  }
}

}  // namespace
}  // namespace pvtest
