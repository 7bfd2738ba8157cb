// Hostile inputs against the built programs, one table: each row is the
// files it needs (made by small generators), the command, and the one line
// the program must end with, exit status 1, within 2 seconds, in an address
// space of 512 MiB and with at most 64 MiB per written file, its input files
// unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/tiff.h"
#include "tests/support/tiff_builder.h"
#include "tests/tools/program_cases.h"

#if defined(__SANITIZE_ADDRESS__)
#define PV_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PV_ASAN 1
#endif
#endif

namespace pvtest {
namespace {

using B = TiffBuilder;
using namespace pv::tiff;

struct File {
  std::string name;
  Bytes bytes;
  std::uintmax_t size = 0;  // when larger, the file is extended (sparse) to it
};

struct Row {
  const char* name;
  std::vector<File> files;
  std::vector<std::string> args;  // args[0] is the program
  std::string err;                // the line, without its newline
  std::string input = {};           // standard input
};

Bytes Seq(std::size_t n) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 37);
  return b;
}

// An 8-bit grey image of width x height with one strip.
Bytes Grey(std::uint32_t width, std::uint32_t height, Bytes strip,
           std::uint16_t compression = kCompressionNone) {
  return B().Strip(std::move(strip)).Grey(width, height, 8).Short(kCompression, compression).Build();
}

// A valid 4 x 2 image: header 0-7, strip 8-15, directory 16-93.
Bytes Valid() { return Grey(4, 2, Seq(8)); }

// The entries of an 8-bit grey image of width x height, without strip tables.
B Head(std::uint32_t width, std::uint32_t height) {
  return B().Long(kImageWidth, width).Long(kImageLength, height).Short(kBitsPerSample, 8)
      .Short(kPhotometricInterpretation, kBlackIsZero);
}

Bytes Cut(Bytes b, std::size_t n) {
  b.resize(n);
  return b;
}

Bytes Lzw(const std::vector<unsigned>& codes) { return pvtest::LzwCodes(codes); }

// A clear code, then literals until every entry up to 4095 is defined, then `last`.
Bytes LzwFull(unsigned last) {
  std::vector<unsigned> codes = {kLzwClear};
  codes.insert(codes.end(), kLzwCodes - kLzwFirstFree + 1, 'a');
  codes.push_back(last);
  return Lzw(codes);
}

std::vector<File> In(Bytes b, std::string name = "in.tif") { return {{std::move(name), std::move(b)}}; }

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// pvquant reads with the double reader, pvexpand with the 16-bit one.
std::vector<std::string> Quant() { return {"pvquant", "in.tif", "8", "out.tif"}; }
std::vector<std::string> Expand() { return {"pvexpand", "in.tif", "0", "1", "out.tif"}; }
std::vector<std::string> Stack() { return {"pvstack", "in.tif", "out.bin"}; }
std::vector<std::string> Split() { return {"pvsplit", "in.bin", "s%d.tif"}; }

// Two valid 4 x 2 pages, the second changed by `second`.
Bytes TwoPages(void (*second)(B&)) {
  B b;
  b.Strip(Seq(8)).Grey(4, 2, 8).NextDirectory();
  second(b);
  return b.Strip(Seq(8)).Grey(4, 2, 8).Build();
}

// Two valid pages, the second pointing back to the first.
Bytes LoopingPages() {
  B b;
  b.Strip(Seq(8)).Grey(4, 2, 8).NextDirectory();
  return b.Strip(Seq(8)).Grey(4, 2, 8).LoopTo(0).Build();
}

// A valid page, then `n` reduced-resolution copies (no pages), the last
// pointing back to the first of them.
Bytes EndlessCopies(int n) {
  B b;
  b.Strip(Seq(8)).Grey(4, 2, 8).NextDirectory();
  for (int k = 0; k < n; ++k) b.Long(kNewSubfileType, kSubfileReduced).NextDirectory();
  return b.LoopTo(1).Build();
}

const char* kEof = "in.tif : unexpected end of file.";
const std::uint32_t kMax = 0x7FFFFFFF;

class Hostile : public testing::TestWithParam<Row> {};

TEST_P(Hostile, EndsWithOneLine) {
  const Row& row = GetParam();
#ifdef PV_ASAN
  // The sanitizer reserves terabytes of address space: only time and file size are bounded.
  const std::size_t address_space = 0;
  for (const File& f : row.files)
    if (f.size != 0) GTEST_SKIP() << "needs the address-space limit, not available under ASan";
#else
  const std::size_t address_space = std::size_t{512} << 20;
#endif
  TempDir dir;
  for (const File& f : row.files) {
    std::filesystem::create_directories(std::filesystem::path(dir / f.name).parent_path());
    WriteFile(dir / f.name, f.bytes);
    if (f.size > f.bytes.size()) std::filesystem::resize_file(dir / f.name, f.size);
  }
  const std::vector<std::string> args(row.args.begin() + 1, row.args.end());
  const RunResult r = RunProgram(row.args[0], args, row.input, dir.path().string(),
                                 {address_space, std::size_t{64} << 20, 2});
  ExpectRefused(r, row.err + "\n");
  // A refused run never changes one of its input files.
  for (const File& f : row.files) {
    if (f.size == 0) {
      EXPECT_EQ(ReadFile(dir / f.name), f.bytes) << f.name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Programs, Hostile,
    testing::Values(
        // Truncation at every structural boundary of a valid file.
        Row{"Empty", In({}), Quant(), kEof},
        Row{"CutInByteOrder", In(Cut(Valid(), 1)), Quant(), kEof},
        Row{"CutInMagic", In(Cut(Valid(), 3)), Expand(), kEof},
        Row{"CutInDirectoryOffset", In(Cut(Valid(), 6)), Quant(), kEof},
        Row{"CutAfterHeader", In(Cut(Valid(), 8)), Expand(), kEof},
        Row{"CutInStrip", In(Cut(Valid(), 12)), Quant(), kEof},
        Row{"CutAtDirectory", In(Cut(Valid(), 16)), Expand(), kEof},
        Row{"CutInEntryCount", In(Cut(Valid(), 17)), Quant(), kEof},
        Row{"CutInFirstEntry", In(Cut(Valid(), 24)), Expand(), kEof},
        Row{"CutInLastEntry", In(Cut(Valid(), 88)), Quant(), kEof},
        Row{"CutBeforeNextOffset", In(Cut(Valid(), 90)), Expand(), kEof},
        Row{"NotTiff", In(Text("P5\n4 2\n255\n")), Quant(), "in.tif : bad magic number."},
        // Stacks in one file: a later page's fault names it; chains that
        // never end are found at once.
        Row{"LaterPageBadBits", In(TwoPages([](B& b) { b.Short(kBitsPerSample, 33); })), Stack(),
            "in.tif page 2 : bad bits per sample."},
        Row{"LaterPageStripBeyondFile",
            In(TwoPages([](B& b) { b.Long(kStripOffsets, 1u << 30); })), Expand(),
            "in.tif page 2 : unexpected end of file."},
        Row{"PagesLoop", In(LoopingPages()), Stack(), "in.tif : image file directory loop."},
        Row{"CopiesWithoutEnd", In(EndlessCopies(100000)), Expand(), "in.tif : image file directory loop."},
        Row{"NoDirectory", In({'I', 'I', 42, 0, 0, 0, 0, 0}), Stack(), "in.tif : no image file directory."},
        // Offsets and counts outside the file.
        Row{"DirectoryBeyondFile", In({'I', 'I', 42, 0, 0, 0xFF, 0xFF, 0xFF}), Quant(), kEof},
        Row{"StripBeyondFile",
            In(Head(4, 2).Long(kStripOffsets, 0xFFFFFF00).Long(kStripByteCounts, 8).Build()), Expand(), kEof},
        Row{"StripCountBeyondFile",
            In(Head(100000, 1).Strip(Seq(50000)).StripOffsets().Long(kStripByteCounts, 0xFFFFFFFF).Build()),
            Quant(), kEof},
        // An image that the file holds whole but memory cannot.
        Row{"ImageBeyondMemory",
            {{"in.tif",
              Head(24576, 24576).Strip(Seq(8)).StripOffsets().Long(kStripByteCounts, 24576u * 24576u).Build(),
              std::uintmax_t{580} << 20}},
            Quant(), "in.tif : no allocatable memory for cell."},
        Row{"StripTableBeyondFile",
            In(Head(4, 2).Long(kRowsPerStrip, 1).Raw(kStripOffsets, B::kLong, 2, 0xFFFFFF00)
                   .Longs(kStripByteCounts, {4, 4}).Build()), Expand(), kEof},
        // Zero and maximal sizes.
        Row{"ZeroWidth", In(Grey(0, 2, Seq(8))), Quant(), "in.tif : missing image size."},
        Row{"ZeroHeight", In(Grey(4, 0, Seq(8))), Expand(), "in.tif : missing image size."},
        Row{"WidthTwoToThe31", In(Grey(0x80000000u, 1, Seq(8))), Quant(),
            "in.tif : too large image size."},
        Row{"LargestSquareTenBytes", In(Grey(kMax, kMax, Seq(10))), Quant(), "in.tif : too few codes."},
        Row{"LargestSquareTenBytes16", In(B().Strip(Seq(10)).Grey(kMax, kMax, 16).Build()), Expand(),
            "in.tif : too few codes."},
        Row{"LargestWidthPackBits", In(Grey(kMax, 1, Seq(10), kCompressionPackBits)), Expand(),
            "in.tif : MPB too few codes."},
        Row{"LargestHeightLzw", In(Grey(1, kMax, Seq(10), kCompressionLZW)), Stack(),
            "in.tif : LZW unexpected end of code."},
        // Absurd strip tables.
        Row{"StripPerRowTablesBeyondFile",
            In(Head(1, kMax).Long(kRowsPerStrip, 1).Raw(kStripOffsets, B::kLong, kMax, 64)
                   .Raw(kStripByteCounts, B::kLong, kMax, 64).Build()), Quant(), kEof},
        Row{"StripTableCountWrong",
            In(Head(4, 2).Long(kRowsPerStrip, 1).Longs(kStripOffsets, {8, 8, 8})
                   .Longs(kStripByteCounts, {4, 4}).Build()),
            Expand(), "in.tif : bad number of strip offset."},
        Row{"StripOffsetsAscii",
            In(Head(4, 2).Ascii(kStripOffsets, "abc").Long(kStripByteCounts, 8).Build()), Quant(),
            "in.tif : missing strip offset."},
        Row{"RowsPerStripZero", In(B().Strip(Seq(8)).Grey(4, 2, 8).Long(kRowsPerStrip, 0).Build()),
            Expand(), "in.tif : bad rows per strip."},
        // LZW streams with every kind of bad code.
        Row{"LzwBadFirstCode", In(Grey(4, 2, Lzw({kLzwClear, 300}), kCompressionLZW)), Quant(),
            "in.tif : LZW bad code after clear code."},
        Row{"LzwEndFirst", In(Grey(4, 2, Lzw({kLzwClear, kLzwEnd}), kCompressionLZW)), Expand(),
            "in.tif : LZW unexpected end of code."},
        Row{"LzwEndEarly", In(Grey(4, 2, Lzw({kLzwClear, 'a', 'b', kLzwEnd}), kCompressionLZW)),
            Quant(), "in.tif : LZW unexpected end of code."},
        Row{"LzwCodeAboveNext", In(Grey(4, 2, Lzw({kLzwClear, 'a', 'b', 300}), kCompressionLZW)),
            Expand(), "in.tif : LZW bad code."},
        Row{"LzwTableFull", In(Grey(8000, 1, LzwFull('a'), kCompressionLZW)), Quant(),
            "in.tif : LZW missing clear code."},
        Row{"LzwEndAfterFullTable", In(Grey(8000, 1, LzwFull(kLzwEnd), kCompressionLZW)), Expand(),
            "in.tif : LZW unexpected end of code."},
        Row{"LzwRunsOut", In(Grey(4, 2, Lzw({kLzwClear, 'a', 'b'}), kCompressionLZW)), Stack(),
            "in.tif : LZW too few codes."},
        // PackBits runs past the strip.
        Row{"PackBitsLiteralPastStrip", In(Grey(200, 1, {127, 1, 2, 3}, kCompressionPackBits)),
            Quant(), "in.tif : MPB too few codes."},
        Row{"PackBitsReplicateHeaderLast", In(Grey(200, 1, {0, 9, 0x81}, kCompressionPackBits)),
            Expand(), "in.tif : MPB too few codes."},
        // Descriptions without NUL or with huge counts.
        Row{"DescriptionWithoutNul",
            In(Head(4, 2).Ascii(kImageDescription, "no end").Long(kStripOffsets, 0xFFFFFF00)
                   .Long(kStripByteCounts, 8).Build()), Quant(), kEof},
        Row{"DescriptionHugeCount",
            In(B().Raw(kImageDescription, B::kAscii, 0xFFFFFFFF, 8).Strip({1}).Grey(1, 1, 8).Build()),
            Expand(), "in.tif : missing image description."},
        Row{"DescriptionToEndOfFile",
            In(B().Raw(kImageDescription, B::kAscii, 0x7FFFFFFF, 0).Strip({1}).Grey(1, 1, 8).Build()),
            Stack(), "in.tif : missing image description."},
        // Raw volume headers with huge or negative sizes.
        Row{"VolumeHugeFewBytes", In(Text("1\t2147483647\t65536\n" + std::string(64, 'x')), "in.bin"),
            Split(), "data read error"},
        Row{"VolumeTallFewBytes", In(Text("3 268435456 3\n" + std::string(24, '\0')), "in.bin"), Split(),
            "data read error"},
        Row{"VolumeHugeOnStandardInput", {}, {"pvsplit", "-", "s%d.tif"}, "data read error",
            "65536\t65536\t65536\n" + std::string(1000, '\1')},
        Row{"VolumeSizeBeyond64Bits", In(Text("2147483647\t2147483647\n12345678"), "in.bin"), Split(),
            "memory allocation error."},
        // A slice one byte short in the file is read whole, which memory cannot hold.
        Row{"VolumeSliceBeyondMemory", {{"in.bin", Text("16384\t8192\n"), (std::uintmax_t{1} << 30) + 10}},
            Split(), "memory allocation error."},
        Row{"VolumeNegativeHeight", In(Text("4 -3\n"), "in.bin"), Split(), "bad image size."},
        Row{"VolumeCountBeyondInt", In(Text("4 3 2147483648\n"), "in.bin"), Split(), "bad image size."},
        Row{"VolumeHeaderLine5000", In(Text(std::string(4998, '7') + " 1\n"), "in.bin"), Split(),
            "bad image size."},
        // Name files with long lines and binary bytes.
        Row{"NameFileLongLine", {{"d/a.tif", Valid()}, {"names", Text(std::string(3000, 'a') + "\n")}},
            {"pvstack", "d", "names", "out.bin"}, "names : too long line."},
        Row{"NameFileBinary", {{"d/a.tif", Valid()}, {"names", Text("a.tif\n\xff\x01\x7f\n")}},
            {"pvstack", "d", "names", "out.bin"}, "d/\xff\x01\x7f : file not found."},
        Row{"NameFileNul", {{"d/a.tif", Valid()}, {"names", Text(std::string("a.tif\nb\0c\n", 10))}},
            {"pvstack", "d", "names", "out.bin"}, "names : too long line."},
        Row{"StackCraftedHugeSlice",
            {{"d/a.tif", Grey(4, 4, Seq(16))}, {"d/b.tif", Grey(65535, 65535, Seq(10))}},
            {"pvstack", "d", "-a.tif b.tif", "out.bin"}, "d/b.tif : too few codes."},
        Row{"StackOverItsOwnSlice", {{"d/u.tif", Valid()}, {"d/f.tif", Valid()}},
            {"pvstack", "d", "-u.tif f.tif", "d/f.tif"}, "file not open."},
        Row{"StackOverItsOneImage", In(Valid()), {"pvstack", "in.tif", "in.tif"}, "file not open."},
        Row{"SignedTwelveBit",
            In(B().Strip(Seq(8)).Grey(2, 2, 12).Short(kSampleFormat, kSampleSigned).Build()),
            Expand(), "in.tif : unknown sample format."},
        Row{"HalfFloat",
            In(B().Strip(Seq(8)).Grey(2, 2, 16).Short(kSampleFormat, kSampleIEEEFloat).Build()),
            Expand(), "in.tif : unknown sample format."},
        Row{"TiledDouble",
            In(B().Strip(Seq(8)).Grey(4, 2, 8).Long(kTileWidth, 16).Long(kTileLength, 16).Build()),
            Quant(), "in.tif : missing tile offset."},
        Row{"TiledInteger",
            In(B().Strip(Seq(8)).Grey(4, 2, 8).Short(kTileWidth, 16).Short(kTileLength, 16).Build()),
            Expand(), "in.tif : missing tile offset."},
        Row{"TileWidthOnly",
            In(B().Strip(Seq(8)).Grey(4, 2, 8).Short(kTileWidth, 16).Build()),
            Expand(), "in.tif : missing strip offset."}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pvtest
