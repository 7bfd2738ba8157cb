// The header and directory checks of both readers on crafted files: each
// check's message, the order of the checks, and which tags are looked at
// for which requested outputs.
#include <functional>

#include "tests/tiffread/reader_test_util.h"

namespace pvtest {
namespace {

// A valid 2 x 1 8-bit image whose entries a case may extend; entries added
// before the base ones come first in the directory and so win the lookup
// (which every row that overrides a base entry relies on).
Bytes Image(const std::function<void(B&)>& first = {}, bool big = false) {
  B b(big);
  if (first) first(b);
  b.Strip({7, 9}).Grey(2, 1, 8);
  return b.Build();
}

Bytes Header(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes Truncated(Bytes b, std::size_t n) {
  b.resize(n);
  return b;
}

Bytes WithIfdOffset(Bytes b, std::uint32_t off) {
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<std::uint8_t>(off >> (8 * i));
  return b;
}

// Only the first directory counts: a directory with no entries.
Bytes EmptyDirectory() { return Header(std::string("II*\0\x08\0\0\0\0\0\0\0\0\0", 14)); }

const char* kEof = "unexpected end of file.";
const char* kMagic = "bad magic number.";
const char* kBits = "bad bits per sample.";
const char* kSize = "missing image size.";
const char* kPhoto = "bad photometric interpretation.";

// Each check's message from both readers, rows requested; "" : read fine.
TEST(Reader, DirectoryChecks) {
  const struct {
    const char* name;
    std::optional<Bytes> file;  // none: no such file
    const char* float_error;    // ReadImageFile_Float
    const char* int_error;      // ReadImageFile
  } cases[] = {
      {"MissingFile", std::nullopt, "file not found.", "file not found."},
      {"EmptyFile", Bytes{}, kEof, kEof},
      {"OneByte", Header("I"), kEof, kEof},
      {"MixedMarksIM", Header("IM*\0"), kMagic, kMagic},
      {"MixedMarksMI", Header("MI\0*"), kMagic, kMagic},
      {"OtherMark", Header("XX*\0"), kMagic, kMagic},
      {"FortyTwoInWrongOrder", Header(std::string("II\0*\x08\0\0\0", 8)), kMagic, kMagic},
      {"HeaderCutInOffset", Header(std::string("II*\0\x08\0", 6)), kEof, kEof},
      {"BigTiffOffsetsOf4", Header(std::string("II+\0\x04\0\0\0", 8)), kMagic, kMagic},
      {"BigTiffCutInOffset", Header(std::string("II+\0\x08\0\0\0\x10\0\0\0", 12)), kEof, kEof},
      // A file's first image is read alone: a fault of a later page is none of its.
      {"LaterPageBad", B().Strip({7, 9}).Grey(2, 1, 8).NextDirectory().Short(tiff::kBitsPerSample, 40).Build(),
          "", ""},
      {"NoDirectory", WithIfdOffset(Image(), 0), "no image file directory.",
          "no image file directory."},
      {"DirectoryBeyondEnd", WithIfdOffset(Image(), 100000), kEof, kEof},
      {"DirectoryCut", Truncated(Image(), Image().size() - 20), kEof, kEof},
      {"NoEntries", EmptyDirectory(), kSize, kSize},
      {"SignedSamples", Image([](B& b) { b.Short(tiff::kSampleFormat, 2); }), "", ""},
      // Signed samples of 8, 16 (and, for the float reader, 32) bits only.
      {"SignedTwelveBit", Image([](B& b) { b.Short(tiff::kSampleFormat, 2).Short(tiff::kBitsPerSample, 12); }),
          "unknown sample format.", "unknown sample format."},
      {"SignedWithoutBits",
          B().Short(tiff::kSampleFormat, 2).Long(tiff::kImageWidth, 1).Long(tiff::kImageLength, 1).Short(tiff::kPhotometricInterpretation, 1).Strip({0})
              .StripTables().Build(),
          "unknown sample format.", "unknown sample format."},
      {"SignedThirtyTwoBit", Image([](B& b) { b.Short(tiff::kSampleFormat, 2).Short(tiff::kBitsPerSample, 32); }),
          "too few codes.", kBits},
      {"Signed40BitsBeforeSize", Image([](B& b) { b.Short(tiff::kSampleFormat, 2).Short(tiff::kBitsPerSample, 40).Long(tiff::kImageWidth, 0); }),
          "unknown sample format.", kSize},
      {"SampleFormatVoid", Image([](B& b) { b.Short(tiff::kSampleFormat, 4); }), "unknown sample format.",
          "unknown sample format."},
      {"SampleFormatAsLongIsAbsent", Image([](B& b) { b.Long(tiff::kSampleFormat, 2); }), "", ""},
      {"Bits33", Image([](B& b) { b.Short(tiff::kBitsPerSample, 33); }), kBits, kBits},
      {"Bits17", Image([](B& b) { b.Short(tiff::kBitsPerSample, 17); }), "too few codes.", kBits},
      {"Bits0", Image([](B& b) { b.Short(tiff::kBitsPerSample, 0); }), kBits, kBits},
      // Half floats: two bytes per sample, of which the strip holds one.
      {"Float16", Image([](B& b) { b.Short(tiff::kSampleFormat, 3).Short(tiff::kBitsPerSample, 16); }), "too few codes.",
          "unknown sample format."},
      {"Float24", Image([](B& b) { b.Short(tiff::kSampleFormat, 3).Short(tiff::kBitsPerSample, 24); }), kBits,
          kBits},
      {"Float32BitsBeforeSampleFormat", Image([](B& b) { b.Short(tiff::kSampleFormat, 3).Short(tiff::kBitsPerSample, 32); }),
          "too few codes.", kBits},
      {"FloatWithoutBits",
          B().Short(tiff::kSampleFormat, 3).Long(tiff::kImageWidth, 1).Long(tiff::kImageLength, 1).Short(tiff::kPhotometricInterpretation, 1).Strip({0})
              .StripTables().Build(),
          kBits, "unknown sample format."},
      {"NoWidth", B().Long(tiff::kImageLength, 1).Short(tiff::kBitsPerSample, 8).Short(tiff::kPhotometricInterpretation, 1).Strip({1}).StripTables().Build(),
          kSize, kSize},
      {"WidthAsTwoShorts", Image([](B& b) { b.Shorts(tiff::kImageWidth, {2, 2}); }), kSize, kSize},
      {"WidthZero", Image([](B& b) { b.Long(tiff::kImageWidth, 0); }), kSize, kSize},
      {"HeightZero", Image([](B& b) { b.Short(tiff::kImageLength, 0); }), kSize, kSize},
      {"Width2To31", Image([](B& b) { b.Long(tiff::kImageWidth, 0x80000000u); }), "too large image size.",
          "too large image size."},
      {"Height2To31", Image([](B& b) { b.Long(tiff::kImageLength, 0x80000000u); }), "too large image size.",
          "too large image size."},
      {"DescriptionBeyondEnd", Image([](B& b) { b.Raw(tiff::kImageDescription, B::kAscii, 10, 5000); }),
          "missing image description.", "missing image description."},
      {"Compression7", Image([](B& b) { b.Short(tiff::kCompression, 7); }),
          "unknown image compression method.", "unknown image compression method."},
      // Deflate under either number (the strip is no zlib stream).
      {"Compression8", Image([](B& b) { b.Short(tiff::kCompression, 8); }),
          DeflateOr("Deflate bad or short data."), DeflateOr("Deflate bad or short data.")},
      {"Compression32946", Image([](B& b) { b.Short(tiff::kCompression, 32946); }),
          DeflateOr("Deflate bad or short data."), DeflateOr("Deflate bad or short data.")},
      {"CompressionLzma", Image([](B& b) { b.Short(tiff::kCompression, 34925); }),
          "unknown image compression method.", "unknown image compression method."},
      {"CompressionZstd", Image([](B& b) { b.Short(tiff::kCompression, 50000); }),
          "unknown image compression method.", "unknown image compression method."},
      {"CompressionAsLongIsNone", Image([](B& b) { b.Long(tiff::kCompression, 5); }), "", ""},
      {"PhotometricRgb", Image([](B& b) { b.Short(tiff::kPhotometricInterpretation, 2); }), kPhoto, kPhoto},
      {"PhotometricAsLong", Image([](B& b) { b.Long(tiff::kPhotometricInterpretation, 1); }), kPhoto, kPhoto},
      {"PhotometricAbsent", B().Strip({1}).Long(tiff::kImageWidth, 1).Long(tiff::kImageLength, 1).Short(tiff::kBitsPerSample, 8)
                                   .StripTables().Build(),
          kPhoto, kPhoto},
      {"Photometric5", Image([](B& b) { b.Short(tiff::kPhotometricInterpretation, 5); }), kPhoto, kPhoto},
      {"WhiteIsZero", Image([](B& b) { b.Short(tiff::kPhotometricInterpretation, 0); }), "", ""},
      {"Palette", Image([](B& b) { b.Short(tiff::kPhotometricInterpretation, 3); }), "", ""},
      {"Mask", Image([](B& b) { b.Short(tiff::kPhotometricInterpretation, 4); }), "", ""},
      {"FillOrder3", Image([](B& b) { b.Short(tiff::kFillOrder, 3); }), "unknown fill order.",
          "unknown fill order."},
      {"ThreeSamples", Image([](B& b) { b.Short(tiff::kSamplesPerPixel, 3); }), "bad samples per pixel.",
          "bad samples per pixel."},
      {"SamplesAsLongIsOne", Image([](B& b) { b.Long(tiff::kSamplesPerPixel, 3); }), "", ""},
      {"RowsPerStripZero", Image([](B& b) { b.Long(tiff::kRowsPerStrip, 0); }), "bad rows per strip.",
          "bad rows per strip."},
      // With one sample per pixel, planes are the same layout.
      {"Planar2", Image([](B& b) { b.Short(tiff::kPlanarConfiguration, 2); }), "", ""},
      {"Planar3", Image([](B& b) { b.Short(tiff::kPlanarConfiguration, 3); }), "bad planar configuration.",
          "bad planar configuration."},
      {"Planar2ThreeSamples", Image([](B& b) { b.Short(tiff::kPlanarConfiguration, 2).Short(tiff::kSamplesPerPixel, 3); }),
          "bad samples per pixel.", "bad samples per pixel."},
      {"FloatPredictor", Image([](B& b) { b.Short(tiff::kSampleFormat, 3).Short(tiff::kBitsPerSample, 32).Short(tiff::kPredictor, 2); }),
          "unapplicable differencing predictor.", kBits},
      {"Predictor3", Image([](B& b) { b.Short(tiff::kPredictor, 3); }),
          "unknown differencing predictor.", "unknown differencing predictor."},
      // The floating-point predictor of floating-point samples (the strip
      // holds two bytes of eight).
      {"FloatPredictor3", Image([](B& b) { b.Short(tiff::kSampleFormat, 3).Short(tiff::kBitsPerSample, 32).Short(tiff::kPredictor, 3); }),
          "too few codes.", kBits},
      {"FloatPredictor4", Image([](B& b) { b.Short(tiff::kSampleFormat, 3).Short(tiff::kBitsPerSample, 32).Short(tiff::kPredictor, 4); }),
          "unknown differencing predictor.", kBits},
      {"NoStripOffsets", GreyEntries(1, 1).Long(tiff::kStripByteCounts, 1).Build(), "missing strip offset.",
          "missing strip offset."},
      // A tile size that is not whole leaves neither tiles nor strips.
      {"TileWidth", Image([](B& b) { b.Short(tiff::kTileWidth, 2); }), "missing strip offset.",
          "missing strip offset."},
      {"TileLengthOfAnyType", Image([](B& b) { b.Data(tiff::kTileLength, B::kByte, 1, {1}); }),
          "missing strip offset.", "missing strip offset."},
      {"TileWidthZero", Image([](B& b) { b.Long(tiff::kTileWidth, 0).Long(tiff::kTileLength, 16); }),
          "missing strip offset.", "missing strip offset."},
      {"TilesWithoutTileOffsets", Image([](B& b) { b.Long(tiff::kTileWidth, 16).Long(tiff::kTileLength, 16); }),
          "missing tile offset.", "missing tile offset."},
      {"TileCountsAsBytes",
          GreyEntries(2, 1).Long(tiff::kTileWidth, 16).Long(tiff::kTileLength, 16).Long(tiff::kTileOffsets, 8)
              .Data(tiff::kTileByteCounts, B::kByte, 1, {1}).Build(),
          "missing tile bytes count.", "missing tile bytes count."},
      {"FourTilesThreeOffsets",
          GreyEntries(17, 17).Long(tiff::kTileWidth, 16).Long(tiff::kTileLength, 16)
              .Longs(tiff::kTileOffsets, {8, 8, 8}).Longs(tiff::kTileByteCounts, {1, 1, 1, 1}).Build(),
          "bad number of tile offset.", "bad number of tile offset."},
      {"FourTilesFiveCounts",
          GreyEntries(17, 17).Long(tiff::kTileWidth, 16).Long(tiff::kTileLength, 16)
              .Longs(tiff::kTileOffsets, {8, 8, 8, 8}).Longs(tiff::kTileByteCounts, {1, 1, 1, 1, 1}).Build(),
          "bad number of tile bytes count.", "bad number of tile bytes count."},
      // More tiles than a count can say.
      {"TilesBeyondACount",
          GreyEntries(0x7FFFFFFF, 0x7FFFFFFF).Long(tiff::kTileWidth, 1).Long(tiff::kTileLength, 1)
              .Longs(tiff::kTileOffsets, {8}).Longs(tiff::kTileByteCounts, {1}).Build(),
          "bad number of tile offset.", "bad number of tile offset."},
      {"RowsPerStripCheckedWhenTiled",
          GreyEntries(2, 1).Long(tiff::kRowsPerStrip, 0).Long(tiff::kTileWidth, 16).Long(tiff::kTileLength, 16).Build(),
          "bad rows per strip.", "bad rows per strip."},
      {"ByteCountsAsBytes",
          GreyEntries(1, 1).Long(tiff::kStripOffsets, 8).Data(tiff::kStripByteCounts, B::kByte, 1, {1}).Build(),
          "missing strip bytes count.", "missing strip bytes count."},
      {"ThreeStripsTwoOffsets",
          GreyEntries(1, 5).Long(tiff::kRowsPerStrip, 2)
              .Longs(tiff::kStripOffsets, {8, 8}).Longs(tiff::kStripByteCounts, {1, 1, 1}).Build(),
          "bad number of strip offset.", "bad number of strip offset."},
      {"ThreeStripsFourCounts",
          GreyEntries(1, 5).Long(tiff::kRowsPerStrip, 2)
              .Longs(tiff::kStripOffsets, {8, 8, 8}).Longs(tiff::kStripByteCounts, {1, 1, 1, 1}).Build(),
          "bad number of strip bytes count.", "bad number of strip bytes count."},
      // The checks run in a fixed order: the first failing one is reported.
      {"CompressionBeforePhotometric",
          Image([](B& b) { b.Short(tiff::kCompression, 7).Short(tiff::kPhotometricInterpretation, 2); }),
          "unknown image compression method.", "unknown image compression method."},
      {"FillOrderBeforeRowsPerStrip", Image([](B& b) { b.Short(tiff::kFillOrder, 0).Long(tiff::kRowsPerStrip, 0); }),
          "unknown fill order.", "unknown fill order."},
      {"PlanarBeforePredictor", Image([](B& b) { b.Short(tiff::kPlanarConfiguration, 3).Short(tiff::kPredictor, 9); }),
          "bad planar configuration.", "bad planar configuration."},
      {"SampleFormatBeforeSize", Image([](B& b) { b.Short(tiff::kSampleFormat, 4).Long(tiff::kImageWidth, 0); }),
          "unknown sample format.", kSize},
      {"FloatBitsBeforeSize", Image([](B& b) { b.Short(tiff::kBitsPerSample, 40).Long(tiff::kImageWidth, 0); }), kBits,
          kSize},
      {"SizeBeforeDescription",
          Image([](B& b) { b.Long(tiff::kImageWidth, 0).Raw(tiff::kImageDescription, B::kAscii, 10, 5000); }), kSize, kSize},
      {"DescriptionBeforeCompression",
          Image([](B& b) { b.Raw(tiff::kImageDescription, B::kAscii, 10, 5000).Short(tiff::kCompression, 7); }),
          "missing image description.", "missing image description."},
      {"RowTablesAfterPredictor", GreyEntries(1, 1).Short(tiff::kPredictor, 3).Build(),
          "unknown differencing predictor.", "unknown differencing predictor."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TempTiff t(c.file);
    EXPECT_EQ(Messages(ReadFloat(t.path), ReadInt(t.path)), (Strings{c.float_error, c.int_error, "", ""}));
  }
}

// What is requested decides what is checked.
TEST(Reader, ChecksOnlyWhatIsRequested) {
  const TempTiff t;
  // Zero entries: a 1-bit integer image when nothing is requested.
  WriteFile(t.path, EmptyDirectory());
  EXPECT_EQ(pv::ReadImageFile_Float(t.path.c_str(), nullptr, nullptr, nullptr, nullptr), 1);
  std::optional<std::string> desc = "x";
  EXPECT_EQ(pv::ReadImageFile_Float(t.path.c_str(), nullptr, nullptr, nullptr, &desc), 1);
  EXPECT_FALSE(desc.has_value());

  // Sizes and description requested: the rows tags are never looked at.
  WriteFile(t.path, Image([](B& b) { b.Short(tiff::kCompression, 7).Short(tiff::kPhotometricInterpretation, 2).Ascii(tiff::kImageDescription, "abc"); }));
  std::int32_t w = 0, h = 0;
  EXPECT_EQ(pv::ReadImageFile_Float(t.path.c_str(), &w, &h, nullptr, &desc), 8);
  EXPECT_EQ(w, 2);
  EXPECT_EQ(h, 1);
  EXPECT_EQ(desc, std::string("abc"));

  // ReadImageFile without bits or rows lets any BitsPerSample pass.
  WriteFile(t.path, Image([](B& b) { b.Short(tiff::kBitsPerSample, 40); }));
  EXPECT_NO_THROW(pv::ReadImageFile(t.path.c_str(), &w, &h, nullptr, nullptr, nullptr));
  int bits = 0;
  EXPECT_THROW(pv::ReadImageFile(t.path.c_str(), nullptr, nullptr, &bits, nullptr, nullptr),
               pv::FatalError);

  // The float reader always checks SampleFormat and BitsPerSample, but not
  // the sizes, when only the description is requested.
  WriteFile(t.path, Image([](B& b) { b.Long(tiff::kImageWidth, 0).Short(tiff::kSampleFormat, 3).Short(tiff::kBitsPerSample, 64); }));
  EXPECT_EQ(pv::ReadImageFile_Float(t.path.c_str(), nullptr, nullptr, nullptr, &desc), 0);
  WriteFile(t.path, Image([](B& b) { b.Short(tiff::kSampleFormat, 5); }));
  EXPECT_THROW(pv::ReadImageFile_Float(t.path.c_str(), nullptr, nullptr, nullptr, &desc),
               pv::FatalError);

  // The bits through ReadImageFile's pointer, 1 when absent.
  WriteFile(t.path, B().Long(tiff::kImageWidth, 1).Long(tiff::kImageLength, 1).Build());
  pv::ReadImageFile(t.path.c_str(), nullptr, nullptr, &bits, nullptr, nullptr);
  EXPECT_EQ(bits, 1);
}

// The description: in the value field up to 4 bytes, elsewhere beyond;
// handed over exactly as stored; none when it is not ASCII.
TEST(Reader, Description) {
  struct D {
    std::function<void(B&)> entry;
    std::optional<std::string> expected;
  };
  const D cases[] = {
      {[](B& b) { b.Ascii(tiff::kImageDescription, std::string("abc\0", 4)); }, std::string("abc\0", 4)},
      {[](B& b) { b.Ascii(tiff::kImageDescription, std::string("abcd\0", 5)); }, std::string("abcd\0", 5)},
      {[](B& b) { b.Ascii(tiff::kImageDescription, ""); }, std::string()},
      {[](B& b) { b.Ascii(tiff::kImageDescription, std::string("1.5 2\0junk\0", 11)); }, std::string("1.5 2\0junk\0", 11)},
      {[](B& b) { b.Data(tiff::kImageDescription, B::kUndefined, 4, {'a', 'b', 'c', 0}); }, std::nullopt},
      {[](B&) {}, std::nullopt},
  };
  const TempTiff t;
  for (bool big : {false, true}) {
    for (const D& d : cases) {
      WriteFile(t.path, Image(d.entry, big));
      const ReadResult f = ReadFloat(t.path);
      EXPECT_EQ(f.error, "");
      EXPECT_EQ(f.description, d.expected);
      EXPECT_EQ(ReadInt(t.path).description, d.expected);
    }
  }
}

}  // namespace
}  // namespace pvtest
