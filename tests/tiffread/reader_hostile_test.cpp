// Small files that declare far more than they hold: each ends with the
// message of the data actually missing, quickly and without a huge
// allocation; strip data that the file cannot supply fails exactly at the
// first missing byte, however the stored bytes are read ahead.
#include <algorithm>

#include "common/tiff.h"
#include "tests/tiffread/reader_test_util.h"
#include "tests/support/tiff_builder.h"
#include "tests/support/image_access.h"

namespace pvtest {
namespace {

namespace tiff = pv::tiff;

using B = TiffBuilder;

struct Case {
  const char* name;
  Bytes file;
  const char* float_error;
  const char* int_error;
  const char* warnings = "";
};

class Hostile : public testing::TestWithParam<Case> {};

TEST_P(Hostile, EndsOnTheMissingData) {
  const Case& c = GetParam();
  TempDir dir;
  const std::string path = dir / "in.tif";
  WriteFile(path, c.file);
  const ReadResult f = ReadFloat(path);
  EXPECT_EQ(f.error, c.float_error);
  EXPECT_EQ(f.warnings, c.warnings);
  const ReadResult i = ReadInt(path);
  EXPECT_EQ(i.error, c.int_error);
  EXPECT_EQ(i.warnings, c.warnings);
  // Memory follows the data: what the file declares is not taken up front.
  pv::StoredImage image;
  Collect<double>(path, [&](ReadResult&, RowTable<double>&) {
    pv::ReadImageFile_Float(path.c_str(), nullptr, nullptr, &image, nullptr);
  });
  EXPECT_LT(pv::StoredImageAccess::Capacity(image), std::size_t{4} << 20);
}

Bytes Ten() { return Bytes(10, 0x55); }

// One strip of ten stored bytes for an image of width x height.
Bytes OneStrip(std::uint32_t width, std::uint32_t height, std::uint16_t compression,
               std::uint16_t bits = 8) {
  return B().Strip(Ten()).Grey(width, height, bits).Short(tiff::kCompression, compression).Build();
}

// RowsPerStrip 1: as many strips as rows, tables far beyond the file.
Bytes StripPerRow(std::uint32_t height) {
  return B().Long(tiff::kImageWidth, 1).Long(tiff::kImageLength, height).Short(tiff::kBitsPerSample, 8).Short(tiff::kPhotometricInterpretation, 1).Long(tiff::kRowsPerStrip, 1)
      .Raw(tiff::kStripOffsets, B::kLong, height, 64).Raw(tiff::kStripByteCounts, B::kLong, height, 64).Build();
}

// Stored strip data running to `have` bytes, declared `count` bytes, for
// rows that need `need` bytes.
Bytes LongStrip(std::size_t need, std::size_t count, std::size_t have) {
  Bytes data(have);
  for (std::size_t i = 0; i < have; ++i) data[i] = static_cast<std::uint8_t>(i * 31);
  B b;
  b.Strip(data).Long(tiff::kImageWidth, static_cast<std::uint32_t>(need)).Long(tiff::kImageLength, 1).Short(tiff::kBitsPerSample, 8).Short(tiff::kPhotometricInterpretation, 1)
      .StripOffsets().Long(tiff::kStripByteCounts, static_cast<std::uint32_t>(count));
  return b.Build();
}

const char* kEof = "unexpected end of file.";

INSTANTIATE_TEST_SUITE_P(
    Reader, Hostile,
    testing::Values(
        Case{"TallNone", OneStrip(1, 0x7FFFFFFF, 1), "too few codes.", "too few codes."},
        Case{"TallPackBits", OneStrip(1, 0x7FFFFFFF, 32773), "MPB too few codes.",
             "MPB too few codes."},
        Case{"TallLZW", OneStrip(1, 0x7FFFFFFF, 5), "LZW bad code.", "LZW bad code."},
        Case{"SquareNone", OneStrip(65535, 65535, 1), "too few codes.", "too few codes."},
        Case{"SquareSixteenBit", OneStrip(65535, 65535, 1, 16), "too few codes.", "too few codes."},
        Case{"SquarePackBits", OneStrip(65535, 65535, 32773), "MPB too few codes.",
             "MPB too few codes."},
        Case{"WideNone", OneStrip(0x7FFFFFFF, 1, 1), "too few codes.", "too few codes."},
        Case{"WideThirtyTwoBit", OneStrip(0x7FFFFFFF, 1, 1, 32), "too few codes.",
             "bad bits per sample."},
        Case{"WideAndTall", OneStrip(0x7FFFFFFF, 0x7FFFFFFF, 1), "too few codes.", "too few codes."},
        Case{"StripTablesBeyondFile", StripPerRow(0x7FFFFFFF), kEof, kEof},
        Case{"HugeStripCountShortFile", LongStrip(200000, 0xFFFFFFFF, 150000), kEof, kEof},
        Case{"HugeDescription", B().Raw(tiff::kImageDescription, B::kAscii, 0xFFFFFFFF, 8).Strip({1}).Grey(1, 1, 8).Build(),
             "missing image description.", "missing image description."},
        // Read-ahead must not move the failure points.
        Case{"CountShortOfRowsAcrossBlocks", LongStrip(300000, 250000, 300000), "too few codes.",
             "too few codes."},
        Case{"FileShortOfCountAcrossBlocks", LongStrip(300000, 300000, 250000), kEof, kEof},
        Case{"FileEndsBeyondWhatRowsNeed", LongStrip(200000, 300000, 250000), "", "",
             "too many codes (warning).\n"},
        Case{"ExactAcrossBlocks", LongStrip(300000, 300000, 300000), "", ""}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// A large image read right: every byte of every block in place.
TEST(Reader, LongStripValues) {
  TempDir dir;
  const std::string path = dir / "in.tif";
  WriteFile(path, LongStrip(300000, 300000, 300000));
  const ReadResult r = ReadFloat(path);
  ASSERT_EQ(r.values.size(), 300000u);
  for (std::size_t i = 0; i < r.values.size(); i += 997)
    EXPECT_EQ(r.values[i], static_cast<std::uint8_t>(i * 31)) << i;
}

// A row too large to allocate before its data is there (over 64 MiB of
// doubles) is still delivered whole and right.
TEST(Reader, LargeRowValues) {
  const std::uint32_t width = 8400001;
  Bytes strip;
  for (std::uint32_t done = 0, run = 0; done < width; ++run) {
    const std::uint32_t n = std::min<std::uint32_t>(128, width - done);
    if (n >= 2) {
      strip.push_back(static_cast<std::uint8_t>(257 - n));
    } else {
      strip.push_back(0);
    }
    strip.push_back(static_cast<std::uint8_t>(run % 251));
    done += n;
  }
  TempDir dir;
  const std::string path = dir / "in.tif";
  WriteFile(path, B().Strip(strip).Grey(width, 1, 8).Short(tiff::kCompression, 32773).Build());
  const ReadResult r = ReadFloat(path);
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.values.size(), width);
  for (std::uint32_t k = 0; k < width; k += 4099)
    ASSERT_EQ(r.values[k], double((k / 128) % 251)) << k;
  EXPECT_EQ(r.values[width - 1], double(((width - 1) / 128) % 251));
}

// Strips decoded on several threads report exactly as on one: the warnings
// of the strips before a failing one, in strip order, then its message, and
// nothing of the strips after it, which may already be decoded. The image
// object is reused, also after a failed read.
TEST(Reader, ParallelStripsReportInOrder) {
  const std::uint32_t width = 4096, rows_per_strip = 16, strips = 64;  // 64 KiB strips
  TempDir dir;
  const std::string path = dir / "in.tif";
  const std::string warning = "MPB too many code (warning).\n";
  for (unsigned threads : {4u, 1u}) {
    pv::StoredImage image;
    pv::StoredImageAccess::SetThreads(image, threads);
    for (bool fail : {true, false}) {
      // PackBits strips of 128-byte runs of the strip's number. A lone no-op
      // header at the end warns; the failing strip lacks its last run, which
      // no-op headers stand in for (so that its stored size says nothing).
      B b;
      for (std::uint32_t s = 0; s < strips; ++s) {
        Bytes data;
        for (std::uint32_t k = 0; k < width * rows_per_strip / 128; ++k) {
          data.push_back(0x81);
          data.push_back(static_cast<std::uint8_t>(s));
        }
        if (s == 3 || s == 20 || s == 48) data.push_back(0x80);
        if (fail && s == 47) {
          data.erase(data.end() - 2, data.end());
          data.insert(data.end(), 8, 0x80);
        }
        b.Strip(data);
      }
      WriteFile(path, b.Grey(width, strips * rows_per_strip, 8).Long(tiff::kRowsPerStrip, rows_per_strip)
                          .Short(tiff::kCompression, 32773).Build());
      testing::internal::CaptureStderr();
      const std::string error = StripPath(
          FatalLine([&] { pv::ReadImageFile_Float(path.c_str(), nullptr, nullptr, &image, nullptr); }),
          path);
      const std::string warnings = StripPath(testing::internal::GetCapturedStderr(), path);
      if (fail) {
        EXPECT_EQ(warnings, warning + warning) << threads;
        EXPECT_EQ(error, "MPB too few codes.\n") << threads;
        continue;
      }
      EXPECT_EQ(warnings, warning + warning + warning) << threads;
      EXPECT_EQ(error, "") << threads;
      ASSERT_EQ(image.type(), pv::SampleType::kUint8);
      for (std::int32_t y = 0; y < image.height(); y += 7)
        ASSERT_EQ(image.Row<std::uint8_t>(y)[width - 1], y / rows_per_strip) << y;
    }
  }
}

}  // namespace
}  // namespace pvtest
