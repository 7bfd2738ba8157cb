// Small files that declare far more than they hold: each ends with the
// message of the data actually missing, quickly and without a huge
// allocation; strip data that the file cannot supply fails exactly at the
// first missing byte, however the stored bytes are read ahead.
#include <algorithm>

#include "tests/tiffread/reader_test_util.h"
#include "tests/support/image_access.h"

namespace pvtest {
namespace {

Bytes Ten() { return Bytes(10, 0x55); }

// One strip of ten stored bytes for an image of width x height.
Bytes OneStrip(std::uint32_t width, std::uint32_t height, std::uint16_t compression,
               std::uint16_t bits = 8) {
  return B().Strip(Ten()).Grey(width, height, bits).Short(tiff::kCompression, compression).Build();
}

// RowsPerStrip 1: as many strips as rows, tables far beyond the file.
Bytes StripPerRow(std::uint32_t height) {
  return GreyEntries(1, height).Long(tiff::kRowsPerStrip, 1)
      .Raw(tiff::kStripOffsets, B::kLong, height, 64).Raw(tiff::kStripByteCounts, B::kLong, height, 64).Build();
}

// Stored strip data running to `have` bytes, declared `count` bytes, for
// rows that need `need` bytes.
Bytes LongStrip(std::size_t need, std::size_t count, std::size_t have) {
  Bytes data(have);
  for (std::size_t i = 0; i < have; ++i) data[i] = static_cast<std::uint8_t>(i * 31);
  return GreyEntries(static_cast<std::uint32_t>(need), 1).Strip(data).StripOffsets()
      .Long(tiff::kStripByteCounts, static_cast<std::uint32_t>(count)).Build();
}

Bytes Prefix(const Bytes& b, std::size_t n) { return Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(n)); }

const char* kEof = "unexpected end of file.";

TEST(Reader, HostileFilesEndOnTheMissingData) {
  const struct {
    const char* name;
    Bytes file;
    const char* float_error;
    const char* int_error;
    const char* warnings = "";
  } cases[] = {
      {"TallNone", OneStrip(1, 0x7FFFFFFF, 1), "too few codes.", "too few codes."},
      {"TallPackBits", OneStrip(1, 0x7FFFFFFF, 32773), "MPB too few codes.",
          "MPB too few codes."},
      {"TallLZW", OneStrip(1, 0x7FFFFFFF, 5), "LZW bad code.", "LZW bad code."},
      {"SquareNone", OneStrip(65535, 65535, 1), "too few codes.", "too few codes."},
      {"SquareSixteenBit", OneStrip(65535, 65535, 1, 16), "too few codes.", "too few codes."},
      {"SquarePackBits", OneStrip(65535, 65535, 32773), "MPB too few codes.",
          "MPB too few codes."},
      {"WideNone", OneStrip(0x7FFFFFFF, 1, 1), "too few codes.", "too few codes."},
      {"WideThirtyTwoBit", OneStrip(0x7FFFFFFF, 1, 1, 32), "too few codes.",
          "bad bits per sample."},
      {"WideAndTall", OneStrip(0x7FFFFFFF, 0x7FFFFFFF, 1), "too few codes.", "too few codes."},
      {"StripTablesBeyondFile", StripPerRow(0x7FFFFFFF), kEof, kEof},
      {"HugeStripCountShortFile", LongStrip(200000, 0xFFFFFFFF, 150000), kEof, kEof},
      {"HugeDescription", B().Raw(tiff::kImageDescription, B::kAscii, 0xFFFFFFFF, 8).Strip({1}).Grey(1, 1, 8).Build(),
          "missing image description.", "missing image description."},
      // Read-ahead must not move the failure points.
      {"CountShortOfRowsAcrossBlocks", LongStrip(300000, 250000, 300000), "too few codes.",
          "too few codes."},
      {"FileShortOfCountAcrossBlocks", LongStrip(300000, 300000, 250000), kEof, kEof},
      {"FileEndsBeyondWhatRowsNeed", LongStrip(200000, 300000, 250000), "", "",
          "too many codes (warning).\n"},
      {"ExactAcrossBlocks", LongStrip(300000, 300000, 300000), "", ""},
      {"TallDeflate", OneStrip(1, 0x7FFFFFFF, 8), DeflateOr("Deflate bad or short data."),
          DeflateOr("Deflate bad or short data.")},
      // A Deflate strip whose count runs past the end of the file: a stream
      // cut there, or whole before it.
      {"DeflateCutByFileEnd",
          GreyEntries(300, 1).Strip(Prefix(ZlibStored(Bytes(300, 9)), 100))
              .StripOffsets().Long(tiff::kStripByteCounts, 100000).Short(tiff::kCompression, 8).Build(),
          DeflateOr(kEof), DeflateOr(kEof)},
      {"DeflateWholeBeforeFileEnd",
          GreyEntries(3, 1).Strip(ZlibStored({0, 31, 62})).StripOffsets().Long(tiff::kStripByteCounts, 100000)
              .Short(tiff::kCompression, 8).Build(),
          DeflateOr(""), DeflateOr(""), kDeflateRead ? "Deflate too many code (warning).\n" : ""},
      // Tiles far larger than their data, and tables far beyond the file.
      {"HugeTile", GreyEntries(1, 1).Strip(Ten()).TileTables(0x7FFFFFF0, 0x7FFFFFF0).Build(), "too few codes.",
          "too few codes."},
      {"HugeTileLZW",
          GreyEntries(1, 1).Strip(Ten()).TileTables(0x7FFFFFF0, 0x7FFFFFF0).Short(tiff::kCompression, 5).Build(),
          "LZW bad code.", "LZW bad code."},
      {"TileTablesBeyondFile",
          GreyEntries(16, 0x7FFFFFFF).Long(tiff::kTileWidth, 16).Long(tiff::kTileLength, 1)
              .Raw(tiff::kTileOffsets, B::kLong, 0x7FFFFFFF, 64).Raw(tiff::kTileByteCounts, B::kLong, 0x7FFFFFFF, 64).Build(),
          kEof, kEof},
      // The first tile whole, the second short: a row of tiles that fails
      // before it is placed.
      {"SecondTileShort", GreyEntries(32, 16).Strip(Bytes(256, 3)).Strip(Ten()).TileTables(16, 16).Build(),
          "too few codes.", "too few codes."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const TempTiff t(c.file);
    const ReadResult f = ReadFloat(t.path), i = ReadInt(t.path);
    EXPECT_EQ(Messages(f, i), (Strings{c.float_error, c.int_error, c.warnings, c.warnings}));
    // What is read is every stored byte in place (of LongStrip's data).
    EXPECT_EQ(f.values.size(), f.error.empty() ? std::size_t(f.width) * f.height : 0);
    for (std::size_t k = 0; k < f.values.size(); k += 997)
      EXPECT_EQ(f.values[k], static_cast<std::uint8_t>(k * 31)) << k;
    EXPECT_EQ(i.values, f.values);
    // Memory follows the data: what the file declares is not taken up front.
    pv::StoredImage image;
    Collect<double>(t.path, [&](ReadResult&, RowTable<double>&) {
      pv::ReadImageFile_Float(t.path.c_str(), nullptr, nullptr, &image, nullptr);
    });
    EXPECT_LT(pv::StoredImageAccess::Capacity(image), std::size_t{4} << 20);
  }
}

// A row too large to allocate before its data is there (over 64 MiB of
// doubles) is still delivered whole and right.
TEST(Reader, LargeRowValues) {
  const std::uint32_t width = 8400001;
  Bytes strip;
  for (std::uint32_t done = 0, run = 0; done < width; ++run) {
    const std::uint32_t n = std::min<std::uint32_t>(128, width - done);
    strip.push_back(n >= 2 ? static_cast<std::uint8_t>(257 - n) : 0);
    strip.push_back(static_cast<std::uint8_t>(run % 251));
    done += n;
  }
  const TempTiff t(B().Strip(strip).Grey(width, 1, 8).Short(tiff::kCompression, 32773).Build());
  const ReadResult r = ReadFloat(t.path);
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.values.size(), width);
  for (std::uint32_t k = 0; k < width; k += 4099)
    ASSERT_EQ(r.values[k], double((k / 128) % 251)) << k;
  EXPECT_EQ(r.values[width - 1], double(((width - 1) / 128) % 251));
}

// Strips or tiles decoded on several threads report exactly as on one: the
// warnings of the blocks before a failing one, in block order, then its
// message, and nothing of the blocks after it, which may already be decoded. The image
// object is reused, also after a failed read.
TEST(Reader, ParallelStripsReportInOrder) {
  const std::uint32_t width = 4096, rows_per_strip = 16, strips = 64;  // 64 KiB strips
  const TempTiff t;
  const std::string warning = "MPB too many code (warning).\n";
  for (unsigned threads : {4u, 1u})
  for (bool tiled : {false, true}) {
    SCOPED_TRACE(testing::Message() << threads << (tiled ? " tiles" : " strips"));
    // Tiles: two across each band of rows that a strip would hold.
    const std::uint32_t blocks = tiled ? 2 * strips : strips, block_width = tiled ? width / 2 : width;
    pv::StoredImage image;
    pv::StoredImageAccess::SetThreads(image, threads);
    for (bool fail : {true, false}) {
      SCOPED_TRACE(fail);
      // PackBits strips of 128-byte runs of the strip's number. A lone no-op
      // header at the end warns; the failing strip lacks its last run, which
      // no-op headers stand in for (so that its stored size says nothing).
      B b;
      for (std::uint32_t s = 0; s < blocks; ++s) {
        Bytes data;
        for (std::uint32_t k = 0; k < block_width * rows_per_strip / 128; ++k) {
          data.push_back(0x81);
          data.push_back(static_cast<std::uint8_t>(tiled ? s / 2 : s));
        }
        if (s == 3 || s == 20 || s == 48) data.push_back(0x80);
        if (fail && s == 47) {
          data.erase(data.end() - 2, data.end());
          data.insert(data.end(), 8, 0x80);
        }
        b.Strip(data);
      }
      if (tiled) {
        b.Long(tiff::kImageWidth, width).Long(tiff::kImageLength, strips * rows_per_strip).Short(tiff::kBitsPerSample, 8);
        b.Short(tiff::kPhotometricInterpretation, tiff::kBlackIsZero).TileTables(block_width, rows_per_strip);
      } else {
        b.Grey(width, strips * rows_per_strip, 8).Long(tiff::kRowsPerStrip, rows_per_strip);
      }
      WriteFile(t.path, b.Short(tiff::kCompression, 32773).Build());
      const ReadResult r = Collect<double>(t.path, [&](ReadResult&, RowTable<double>&) {
        pv::ReadImageFile_Float(t.path.c_str(), nullptr, nullptr, &image, nullptr);
      });
      EXPECT_EQ(r.error, fail ? "MPB too few codes." : "");
      EXPECT_EQ(r.warnings, fail ? warning + warning : warning + warning + warning);
      if (fail) continue;
      ASSERT_EQ(image.type(), pv::SampleType::kUint8);
      for (std::int32_t y = 0; y < image.height(); y += 7)
        ASSERT_EQ(image.Row<std::uint8_t>(y)[width - 1], y / rows_per_strip) << y;
    }
  }
}

}  // namespace
}  // namespace pvtest
