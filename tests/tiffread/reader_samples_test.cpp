// Sample assembly on crafted uncompressed strips: bit unpacking of every
// width, byte order, horizontal differencing, signed and floating-point
// samples, the floating-point predictor, and the widening to doubles.
#include <limits>
#include <numeric>

#include "tests/tiffread/reader_test_util.h"

namespace pvtest {
namespace {

TEST(Reader, AssemblesSamples) {
  struct Case {
    const char* name;
    int bits;
    bool big_endian, floating, predictor;
    std::uint32_t width, height;
    Bytes stored;                // one strip holding every row
    std::vector<double> values;  // as ReadImageFile_Float delivers them
    std::uint16_t photometric = tiff::kBlackIsZero;
    bool is_signed = false;    // SampleFormat 2
    bool predictor3 = false;   // the floating-point predictor
  };
  constexpr double kInf = std::numeric_limits<double>::infinity();
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr std::uint16_t kBlack = tiff::kBlackIsZero;
  const Case cases[] = {
      {"OneBitRowOfTen", 1, false, false, false, 10, 1, {0xA0, 0x40}, {1, 0, 1, 0, 0, 0, 0, 0, 0, 1}},
      {"OneBitUnusedBitsIgnored", 1, false, false, false, 10, 2, {0xA0, 0x7F, 0xFF, 0xC0},
          {1, 0, 1, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
      {"TwoBitPredictor", 2, false, false, true, 4, 1, {0xD8}, {3, 0, 2, 2}},
      {"FourBit", 4, false, false, false, 4, 1, {0x12, 0x34}, {1, 2, 3, 4}},
      {"FourBitPredictor", 4, true, false, true, 4, 1, {0x12, 0x34}, {1, 3, 6, 10}},
      {"EightBitPredictorWraps", 8, false, false, true, 3, 1, {10, 250, 10}, {10, 4, 14}},
      {"PredictorPerRow", 8, false, false, true, 2, 2, {1, 1, 5, 1}, {1, 2, 5, 6}},
      {"PredictorWidthOne", 8, false, false, true, 1, 2, {7, 9}, {7, 9}},
      {"TwelveBitRowsStartOnFreshBytes", 12, true, false, false, 3, 2,
          {0xAB, 0xC1, 0x23, 0xFF, 0xF0, 0x00, 0x10, 0x02, 0x00, 0x30},
          {0xABC, 0x123, 0xFFF, 1, 2, 3}},
      {"NineBit", 9, false, false, false, 3, 1, {0xFF, 0x80, 0x00, 0x20}, {511, 0, 1}},
      {"FifteenBit", 15, false, false, false, 2, 1, {0xFF, 0xFE, 0x00, 0x04}, {32767, 1}},
      {"SixteenBitLittleEndian", 16, false, false, false, 1, 1, {1, 2}, {513}},
      {"SixteenBitBigEndian", 16, true, false, false, 1, 1, {1, 2}, {258}},
      {"SixteenBitPredictorWraps", 16, false, false, true, 2, 1, {0xFF, 0xFF, 2, 0}, {65535, 1}},
      {"SeventeenBit", 17, false, false, false, 2, 1, {0xFF, 0xFF, 0x80, 0x00, 0x40},
          {131071, 1}},
      {"TwentyFourBitSameInBothOrders", 24, false, false, false, 1, 1, {1, 2, 3}, {66051}},
      {"TwentyFourBitBigEndian", 24, true, false, false, 1, 1, {1, 2, 3}, {66051}},
      {"ThirtyOneBit", 31, false, false, false, 2, 1, {0xFF, 0xFF, 0xFF, 0xFE, 0, 0, 0, 4},
          {2147483647, 1}},
      {"ThirtyTwoBitUnsigned", 32, false, false, false, 1, 1, {0xFF, 0xFF, 0xFF, 0xFF},
          {4294967295.0}},
      {"ThirtyTwoBitLittleEndian", 32, false, false, false, 1, 1, {1, 2, 0, 0}, {513}},
      {"ThirtyTwoBitBigEndian", 32, true, false, false, 1, 1, {0, 0, 1, 2}, {258}},
      {"ThirtyTwoBitPredictorWraps", 32, true, false, true, 2, 1,
          {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 2}, {4294967295.0, 1}},
      {"FloatLittleEndian", 32, false, true, false, 1, 1, {0x00, 0x00, 0x80, 0x3F}, {1.0}},
      // The same bytes the other way round: a subnormal.
      {"FloatBigEndian", 32, true, true, false, 2, 1, {0x3F, 0x80, 0, 0, 0x00, 0x00, 0x80, 0x3F},
          {1.0, 0x803Fp-149}},
      {"DoubleLittleEndian", 64, false, true, false, 1, 1,
          {0x35, 0x58, 0x00, 0x66, 0x2D, 0xEB, 0x41, 0xFE}, {-1.5e300}},
      {"DoubleBigEndian", 64, true, true, false, 1, 1,
          {0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}, {0.1}},
      // WhiteIsZero samples come back as stored, not inverted.
      {"WhiteIsZeroAsStored", 8, false, false, false, 2, 1, {0, 200}, {0, 200}, 0},
      // Signed samples: two's complement, differenced modulo 2^bits.
      {"SignedEightBit", 8, false, false, false, 4, 1, {0xFF, 0x80, 0x7F, 0}, {-1, -128, 127, 0}, kBlack, true},
      {"SignedEightBitPredictorWraps", 8, true, false, true, 3, 1, {0x7F, 0x01, 0xFF}, {127, -128, 127}, kBlack, true},
      {"SignedSixteenBitLittleEndian", 16, false, false, false, 2, 1, {0x00, 0x80, 0xFE, 0xFF}, {-32768, -2}, kBlack, true},
      {"SignedSixteenBitBigEndian", 16, true, false, false, 2, 1, {0xFF, 0xFE, 0x7F, 0xFF}, {-2, 32767}, kBlack, true},
      {"SignedSixteenBitPredictor", 16, false, false, true, 3, 1, {0xFF, 0xFF, 0x02, 0x00, 0x00, 0x80},
          {-1, 1, -32767}, kBlack, true},
      {"SignedThirtyTwoBit", 32, false, false, false, 2, 1, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0x80},
          {-1, -2147483648.0}, kBlack, true},
      {"SignedThirtyTwoBitPredictorBigEndian", 32, true, false, true, 2, 1, {0x7F, 0xFF, 0xFF, 0xFF, 0, 0, 0, 1},
          {2147483647, -2147483648.0}, kBlack, true},
      // Half floats to the exact value: normal, largest, smallest subnormal,
      // infinities, a NaN and a negative zero.
      {"HalfLittleEndian", 16, false, true, false, 7, 1,
          {0x00, 0x3C, 0xFF, 0x7B, 0x01, 0x00, 0x00, 0xFC, 0x00, 0x7C, 0x00, 0x7E, 0x00, 0x80},
          {1.0, 65504, 0x1p-24, -kInf, kInf, kNaN, -0.0}},
      {"HalfBigEndian", 16, true, true, false, 2, 1, {0xBC, 0x00, 0x03, 0xFF}, {-1.0, 0x3FFp-24}},
      // The floating-point predictor: each row's bytes by significance
      // (most significant first), differenced; the same in either byte order.
      {"FloatingPointPredictorSingle", 32, false, true, false, 2, 1, {0x3F, 0x81, 0xC0, 0x80, 0, 0, 0, 0},
          {1.0, -2.0}, kBlack, false, true},
      {"FloatingPointPredictorSingleBigEndian", 32, true, true, false, 2, 1, {0x3F, 0x81, 0xC0, 0x80, 0, 0, 0, 0},
          {1.0, -2.0}, kBlack, false, true},
      {"FloatingPointPredictorHalf", 16, true, true, false, 2, 1, {0x3C, 0x84, 0x40, 0x00}, {1.0, -2.0},
          kBlack, false, true},
      {"FloatingPointPredictorDouble", 64, false, true, false, 1, 1, {0x3F, 0x7A, 0xE0, 0, 0, 0, 0, 0x01}, {0.1},
          kBlack, false, true},
      {"FloatingPointPredictorPerRow", 32, false, true, false, 1, 2, {0x3F, 0x41, 0x80, 0, 0x3F, 0x41, 0x80, 0},
          {1.0, 1.0}, kBlack, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    B b(c.big_endian);
    if (c.floating) b.Short(tiff::kSampleFormat, tiff::kSampleIEEEFloat);
    if (c.is_signed) b.Short(tiff::kSampleFormat, tiff::kSampleSigned);
    if (c.predictor) b.Short(tiff::kPredictor, 2);
    if (c.predictor3) b.Short(tiff::kPredictor, tiff::kPredictorFloatingPoint);
    if (c.photometric != tiff::kBlackIsZero) b.Short(tiff::kPhotometricInterpretation, c.photometric);
    const TempTiff t(b.Strip(c.stored).Grey(c.width, c.height, static_cast<std::uint16_t>(c.bits)).Build());
    ExpectClean(t.path, c.bits, c.floating, c.values);
    // As stored: the narrowest of the sample types that holds the values.
    pv::StoredImage image;
    pv::ReadImageFile_Float(t.path.c_str(), nullptr, nullptr, &image, nullptr);
    using T = pv::SampleType;
    EXPECT_EQ(image.type(), c.floating    ? (c.bits <= 32 ? T::kFloat32 : T::kFloat64)
                            : c.is_signed ? (c.bits == 8 ? T::kInt8 : c.bits == 16 ? T::kInt16 : T::kInt32)
                            : c.bits == 8 ? T::kUint8 : c.bits <= 16 ? T::kUint16 : T::kUint32);
    // ReadImageFile's signed samples are int16.
    if (c.is_signed && c.bits <= 16) {
      pv::ReadImageFile(t.path.c_str(), nullptr, nullptr, nullptr, &image, nullptr);
      EXPECT_EQ(image.type(), T::kInt16);
    }
  }
}

// SHORT strip tables hold up to two values in the entry itself, LONG ones
// one; beyond that they point elsewhere.
TEST(Reader, StripTableForms) {
  for (B::Type type : {B::kShort, B::kLong}) {
    for (std::uint32_t height : {1u, 2u, 3u}) {
      SCOPED_TRACE(testing::Message() << type << " " << height);
      std::vector<double> expected(height);
      std::iota(expected.begin(), expected.end(), 10);
      B b = GreyEntries(1, height);
      for (double v : expected) b.Strip({static_cast<std::uint8_t>(v)});
      const TempTiff t(b.Short(tiff::kRowsPerStrip, 1).StripTables(type).Build());
      ExpectClean(t.path, 8, false, expected);
    }
  }
}

}  // namespace
}  // namespace pvtest
