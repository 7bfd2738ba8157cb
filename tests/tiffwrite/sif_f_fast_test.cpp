// The fast floating-point writer's file layout byte by byte: one strip from
// offset 8, the directory behind it, the description block behind that,
// and the 4 GiB limit that the description's length decides. What every
// writer guarantees is in tests/tiffwrite/writers_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/tiff.h"
#include "tests/support/fatal.h"
#include "tests/support/files.h"
#include "tests/support/images.h"
#include "tests/support/tiff_layout.h"
#include "tiffwrite/sif_f.h"

namespace pvtest {
namespace {

using namespace pv::tiff;

Bytes Store(const Image& img, const char* description, const std::string& path) {
  pv::StoreImageFile_Float(path.c_str(), img.nx, img.ny, img.rows().data(), description,
                           pv::FloatLayout::kOneStrip);
  return ReadFile(path);
}

TEST(FastFloatWriter, TwoPixelsWithoutDescription) {
  TempDir dir;
  const Bytes f = Store({2, 1, {0, 1}}, nullptr, dir / "a.tif");
  ASSERT_EQ(f.size(), 178u);
  const TiffDirectory d = ParseDirectory(f);  // no entries unless the header is "II" 42
  EXPECT_EQ(d.offset, 16u);
  EXPECT_EQ(LeFloat(f, 8), 0.0f);
  EXPECT_EQ(LeFloat(f, 12), 1.0f);
  // Entries in ascending tag order, then a zero next-directory offset.
  std::vector<std::uint16_t> tags;
  for (const TiffEntry& e : d.entries) tags.push_back(e.tag);
  EXPECT_EQ(tags, (std::vector<std::uint16_t>{
                      kImageWidth, kImageLength, kBitsPerSample, kCompression,
                      kPhotometricInterpretation, kStripOffsets, kSamplesPerPixel, kRowsPerStrip,
                      kStripByteCounts, kPlanarConfiguration, kSampleFormat, kSMinSampleValue,
                      kSMaxSampleValue}));
  EXPECT_EQ(d.next, 0u);
  if (d.entries.size() != 13) return;
  EXPECT_EQ(d.Find(kRowsPerStrip)->value, 1u);
  EXPECT_EQ(d.Find(kStripByteCounts)->value, 8u);
  EXPECT_EQ(d.Find(kStripOffsets)->value, 8u);
  EXPECT_EQ(d.Find(kSampleFormat)->value, kSampleIEEEFloat);
  EXPECT_EQ(d.Find(kSMinSampleValue)->type, kFloat);
  EXPECT_EQ(LeFloat(f, d.Find(kSMinSampleValue)->at + 8), 0.0f);
  EXPECT_EQ(LeFloat(f, d.Find(kSMaxSampleValue)->at + 8), 1.0f);
}

TEST(FastFloatWriter, DescriptionPlacement) {
  // Up to 4 bytes with the NUL stand in the entry; a longer text follows
  // the directory (14 entries: at 8 + 8 + 2 + 12 * 14 + 4 = 190).
  const struct {
    const char* given;  // null: SIF_F_desc
    std::string stored;
    Bytes field;  // the value field; empty when the text is a block
  } cases[] = {
      {nullptr, std::string("0.000000\t1.000000\0", 18), {}},
      {"abcd", std::string("abcd\0", 5), {}},
      {"abc", std::string("abc\0", 4), {'a', 'b', 'c', 0}},
      {"", std::string(1, '\0'), {0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored);
    TempDir dir;
    const Bytes f = Store({2, 1, {0, 1}}, c.given ? c.given : pv::SIF_F_desc, dir / "a.tif");
    const auto e = ParseDirectory(f).Find(kImageDescription);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->type, kAscii);
    EXPECT_EQ(e->count, c.stored.size());
    if (c.field.empty()) {
      EXPECT_EQ(e->value, 190u);
      EXPECT_EQ(std::string(f.begin() + 190, f.end()), c.stored);
    } else {
      EXPECT_EQ(f.size(), 190u);
      EXPECT_EQ(Bytes(f.begin() + e->at + 8, f.begin() + e->at + 12), c.field);
    }
  }
}

TEST(FastFloatWriter, RefusesOffsetsOf4GiBBeforeWriting) {
  // 2^32 - 196 bytes of pixels plus 182 and a 15-byte text reach 2^32 + 1;
  // the rows are never read.
  TempDir dir;
  const std::string path = dir / "big.tif";
  std::vector<const double*> rows(1, nullptr);
  EXPECT_EQ(FatalLine([&] {
              pv::StoreImageFile_Float(path.c_str(), 1073741775, 1, rows.data(), "fourteen chars",
                                       pv::FloatLayout::kOneStrip);
            }),
            path + " : file not stored.\n");
  EXPECT_FALSE(Exists(path));
}

}  // namespace
}  // namespace pvtest
