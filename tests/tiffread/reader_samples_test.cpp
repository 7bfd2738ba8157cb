// Sample assembly on crafted uncompressed strips: bit unpacking of every
// width, byte order, horizontal differencing, floating-point samples, and
// the widening to doubles.
#include <cstring>

#include "common/tiff.h"
#include "tests/tiffread/reader_test_util.h"
#include "tests/support/tiff_builder.h"

namespace pvtest {
namespace {

namespace tiff = pv::tiff;

using B = TiffBuilder;

struct Case {
  const char* name;
  int bits;
  bool big_endian;
  bool floating;
  bool predictor;
  std::uint32_t width, height;
  Bytes stored;                // one strip holding every row
  std::vector<double> values;  // as ReadImageFile_Float delivers them
};

class Samples : public testing::TestWithParam<Case> {};

TEST_P(Samples, Assemble) {
  const Case& c = GetParam();
  B b(c.big_endian);
  if (c.floating) b.Short(tiff::kSampleFormat, 3);
  if (c.predictor) b.Short(tiff::kPredictor, 2);
  b.Strip(c.stored).Grey(c.width, c.height, static_cast<std::uint16_t>(c.bits));
  TempDir dir;
  const std::string path = dir / "in.tif";
  WriteFile(path, b.Build());

  const ReadResult f = ReadFloat(path);
  EXPECT_EQ(f.error, "");
  EXPECT_EQ(f.warnings, "");
  EXPECT_EQ(f.result, c.floating ? 0 : c.bits);
  EXPECT_EQ(f.values, c.values);
  // As stored: the narrowest of the sample types that holds the values.
  pv::StoredImage image;
  pv::ReadImageFile_Float(path.c_str(), nullptr, nullptr, &image, nullptr);
  using T = pv::SampleType;
  EXPECT_EQ(image.type(), c.floating ? (c.bits == 32 ? T::kFloat32 : T::kFloat64)
                          : c.bits == 8 ? T::kUint8 : c.bits <= 16 ? T::kUint16 : T::kUint32);

  const ReadResult i = ReadInt(path);
  if (c.floating || c.bits > 16) {
    EXPECT_EQ(i.error, "bad bits per sample.");
  } else {
    EXPECT_EQ(i.error, "");
    EXPECT_EQ(i.warnings, "");
    EXPECT_EQ(i.values, c.values);
  }
}

double FloatFromBits(std::uint32_t u) {
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}

Bytes DoubleBytes(double d, bool big) {
  std::uint64_t u;
  std::memcpy(&u, &d, 8);
  Bytes b;
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(u >> (8 * (big ? 7 - i : i))));
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Reader, Samples,
    testing::Values(
        Case{"OneBitRowOfTen", 1, false, false, false, 10, 1, {0xA0, 0x40}, {1, 0, 1, 0, 0, 0, 0, 0, 0, 1}},
        Case{"OneBitUnusedBitsIgnored", 1, false, false, false, 10, 2, {0xA0, 0x7F, 0xFF, 0xC0},
             {1, 0, 1, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
        Case{"TwoBitPredictor", 2, false, false, true, 4, 1, {0xD8}, {3, 0, 2, 2}},
        Case{"FourBit", 4, false, false, false, 4, 1, {0x12, 0x34}, {1, 2, 3, 4}},
        Case{"FourBitPredictor", 4, true, false, true, 4, 1, {0x12, 0x34}, {1, 3, 6, 10}},
        Case{"EightBitPredictorWraps", 8, false, false, true, 3, 1, {10, 250, 10}, {10, 4, 14}},
        Case{"PredictorPerRow", 8, false, false, true, 2, 2, {1, 1, 5, 1}, {1, 2, 5, 6}},
        Case{"PredictorWidthOne", 8, false, false, true, 1, 2, {7, 9}, {7, 9}},
        Case{"TwelveBitRowsStartOnFreshBytes", 12, true, false, false, 3, 2,
             {0xAB, 0xC1, 0x23, 0xFF, 0xF0, 0x00, 0x10, 0x02, 0x00, 0x30},
             {0xABC, 0x123, 0xFFF, 1, 2, 3}},
        Case{"NineBit", 9, false, false, false, 3, 1, {0xFF, 0x80, 0x00, 0x20}, {511, 0, 1}},
        Case{"FifteenBit", 15, false, false, false, 2, 1, {0xFF, 0xFE, 0x00, 0x04}, {32767, 1}},
        Case{"SixteenBitLittleEndian", 16, false, false, false, 1, 1, {1, 2}, {513}},
        Case{"SixteenBitBigEndian", 16, true, false, false, 1, 1, {1, 2}, {258}},
        Case{"SixteenBitPredictorWraps", 16, false, false, true, 2, 1, {0xFF, 0xFF, 2, 0}, {65535, 1}},
        Case{"SeventeenBit", 17, false, false, false, 2, 1, {0xFF, 0xFF, 0x80, 0x00, 0x40},
             {131071, 1}},
        Case{"TwentyFourBitSameInBothOrders", 24, false, false, false, 1, 1, {1, 2, 3}, {66051}},
        Case{"TwentyFourBitBigEndian", 24, true, false, false, 1, 1, {1, 2, 3}, {66051}},
        Case{"ThirtyOneBit", 31, false, false, false, 2, 1, {0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 4},
             {2147483647, 1}},
        Case{"ThirtyTwoBitUnsigned", 32, false, false, false, 1, 1, {0xFF, 0xFF, 0xFF, 0xFF},
             {4294967295.0}},
        Case{"ThirtyTwoBitLittleEndian", 32, false, false, false, 1, 1, {1, 2, 0, 0}, {513}},
        Case{"ThirtyTwoBitBigEndian", 32, true, false, false, 1, 1, {0, 0, 1, 2}, {258}},
        Case{"ThirtyTwoBitPredictorWraps", 32, true, false, true, 2, 1,
             {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 2}, {4294967295.0, 1}},
        Case{"FloatLittleEndian", 32, false, true, false, 1, 1, {0x00, 0x00, 0x80, 0x3F}, {1.0}},
        Case{"FloatBigEndian", 32, true, true, false, 1, 1, {0x00, 0x00, 0x80, 0x3F},
             {FloatFromBits(0x0000803F)}},
        Case{"FloatBigEndianOne", 32, true, true, false, 1, 1, {0x3F, 0x80, 0x00, 0x00}, {1.0}},
        Case{"DoubleLittleEndian", 64, false, true, false, 1, 1, DoubleBytes(-1.5e300, false),
             {-1.5e300}},
        Case{"DoubleBigEndian", 64, true, true, false, 1, 1, DoubleBytes(0.1, true), {0.1}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// WhiteIsZero samples come back as stored, not inverted.
TEST(Reader, WhiteIsZeroDeliversStoredValues) {
  TempDir dir;
  const std::string path = dir / "in.tif";
  WriteFile(path, B().Short(tiff::kPhotometricInterpretation, 0).Strip({0, 200}).Grey(2, 1, 8).Build());
  EXPECT_EQ(ReadFloat(path).values, (std::vector<double>{0, 200}));
  EXPECT_EQ(ReadInt(path).values, (std::vector<double>{0, 200}));
}

// SHORT strip tables hold up to two values in the entry itself, LONG ones
// one; beyond that they point elsewhere.
TEST(Reader, StripTableForms) {
  TempDir dir;
  const std::string path = dir / "in.tif";
  for (B::Type type : {B::kShort, B::kLong}) {
    for (std::uint32_t height : {1u, 2u, 3u}) {
      B b;
      for (std::uint32_t s = 0; s < height; ++s) b.Strip({static_cast<std::uint8_t>(10 + s)});
      b.Long(tiff::kImageWidth, 1).Long(tiff::kImageLength, height).Short(tiff::kBitsPerSample, 8).Short(tiff::kPhotometricInterpretation, 1).Short(tiff::kRowsPerStrip, 1).StripTables(type);
      WriteFile(path, b.Build());
      const ReadResult r = ReadFloat(path);
      EXPECT_EQ(r.error, "") << type << " " << height;
      std::vector<double> expected;
      for (std::uint32_t s = 0; s < height; ++s) expected.push_back(10 + s);
      EXPECT_EQ(r.values, expected);
    }
  }
}

}  // namespace
}  // namespace pvtest
