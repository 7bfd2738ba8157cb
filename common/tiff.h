// The TIFF vocabulary of the suite: the tags, field types and values that
// the reader checks and the writers produce, by their TIFF 6.0 names. Every
// module, test builder and fuzzer uses these names; no bare tag number
// appears anywhere else.
#pragma once

#include <cstdint>

namespace pv::tiff {

// Header: the byte-order mark ("II" little-endian, "MM" big-endian) and 42.
inline constexpr std::uint8_t kLittleEndian = 'I';
inline constexpr std::uint8_t kBigEndian = 'M';
inline constexpr std::uint16_t kMagic = 42;
// BigTIFF: 43, the size of an offset (8) and a reserved 0, then an 8-byte
// first directory offset; entries of 20 bytes with 8-byte counts and value
// fields.
inline constexpr std::uint16_t kBigMagic = 43;
inline constexpr std::uint16_t kBigOffsetSize = 8;

// Tags.
inline constexpr std::uint16_t kNewSubfileType = 254;
inline constexpr std::uint16_t kImageWidth = 256;
inline constexpr std::uint16_t kImageLength = 257;
inline constexpr std::uint16_t kBitsPerSample = 258;
inline constexpr std::uint16_t kCompression = 259;
inline constexpr std::uint16_t kPhotometricInterpretation = 262;
inline constexpr std::uint16_t kFillOrder = 266;
inline constexpr std::uint16_t kImageDescription = 270;
inline constexpr std::uint16_t kStripOffsets = 273;
inline constexpr std::uint16_t kSamplesPerPixel = 277;
inline constexpr std::uint16_t kRowsPerStrip = 278;
inline constexpr std::uint16_t kStripByteCounts = 279;
inline constexpr std::uint16_t kPlanarConfiguration = 284;
inline constexpr std::uint16_t kPredictor = 317;
inline constexpr std::uint16_t kTileWidth = 322;
inline constexpr std::uint16_t kTileLength = 323;
inline constexpr std::uint16_t kTileOffsets = 324;
inline constexpr std::uint16_t kTileByteCounts = 325;
inline constexpr std::uint16_t kSampleFormat = 339;
inline constexpr std::uint16_t kSMinSampleValue = 340;
inline constexpr std::uint16_t kSMaxSampleValue = 341;

// Field types.
inline constexpr std::uint16_t kByte = 1;
inline constexpr std::uint16_t kAscii = 2;
inline constexpr std::uint16_t kShort = 3;
inline constexpr std::uint16_t kLong = 4;
inline constexpr std::uint16_t kFloat = 11;
// BigTIFF's 8-byte integers and directory offsets.
inline constexpr std::uint16_t kLong8 = 16;
inline constexpr std::uint16_t kSLong8 = 17;
inline constexpr std::uint16_t kIfd8 = 18;

// NewSubfileType: a reduced-resolution copy of another image, a
// transparency mask; a directory with either bit is no page of a stack.
inline constexpr std::uint32_t kSubfileReduced = 1;
inline constexpr std::uint32_t kSubfileMask = 4;

// Compression.
inline constexpr std::uint16_t kCompressionNone = 1;
inline constexpr std::uint16_t kCompressionLZW = 5;
inline constexpr std::uint16_t kCompressionPackBits = 32773;
// Deflate (zlib streams): the registered number, and the one that writers
// used before it was registered; the data is the same.
inline constexpr std::uint16_t kCompressionDeflate = 8;
inline constexpr std::uint16_t kCompressionOldDeflate = 32946;

// PhotometricInterpretation.
inline constexpr std::uint16_t kWhiteIsZero = 0;
inline constexpr std::uint16_t kBlackIsZero = 1;
inline constexpr std::uint16_t kRGB = 2;
inline constexpr std::uint16_t kPalette = 3;
inline constexpr std::uint16_t kTransparencyMask = 4;

// FillOrder: bits of each byte from the most significant (1) or the least
// significant (2).
inline constexpr std::uint16_t kFillMsbFirst = 1;
inline constexpr std::uint16_t kFillLsbFirst = 2;

// PlanarConfiguration: samples of a pixel together, or each sample in
// planes of its own (with one sample per pixel, the same layout).
inline constexpr std::uint16_t kPlanarChunky = 1;
inline constexpr std::uint16_t kPlanarSeparate = 2;

// Predictor.
inline constexpr std::uint16_t kPredictorNone = 1;
inline constexpr std::uint16_t kPredictorHorizontal = 2;
inline constexpr std::uint16_t kPredictorFloatingPoint = 3;

// SampleFormat.
inline constexpr std::uint16_t kSampleUnsigned = 1;
inline constexpr std::uint16_t kSampleSigned = 2;
inline constexpr std::uint16_t kSampleIEEEFloat = 3;

// LZW codes: codes of 9 to 12 bits; below 256 a code is its own byte.
inline constexpr unsigned kLzwClear = 256;
inline constexpr unsigned kLzwEnd = 257;
inline constexpr unsigned kLzwFirstFree = 258;
inline constexpr unsigned kLzwCodes = 4096;  // codes 0 .. 4095
inline constexpr unsigned kLzwMinBits = 9;
inline constexpr unsigned kLzwMaxBits = 12;

}  // namespace pv::tiff
