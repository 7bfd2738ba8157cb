// The fast floating-point writer's file layout byte by byte: one strip from
// offset 8, the directory behind it. What every writer guarantees (the
// description's place and the 4 GiB limit too) is in
// tests/tiffwrite/writers_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/tiff.h"
#include "tests/support/files.h"
#include "tests/support/images.h"
#include "tests/support/row_tables.h"
#include "tests/support/tiff_layout.h"
#include "tiffwrite/sif_f.h"

namespace pvtest {
namespace {

using namespace pv::tiff;

Bytes Store(const Image& img, const char* description, const std::string& path) {
  StoreRows_Float(path.c_str(), img.nx, img.ny, img.rows().data(), description,
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

}  // namespace
}  // namespace pvtest
