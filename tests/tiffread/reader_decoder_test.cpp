// The strip decoders (uncompressed, PackBits, LZW) and the strip loop on
// crafted strips: decoded values, fatal messages, end-of-strip warnings.
#include <algorithm>
#include <numeric>

#include "common/tiff.h"
#include "tests/tiffread/reader_test_util.h"
#include "tests/support/tiff_builder.h"
#include "tiffread/strip_decoder.h"

namespace pvtest {
namespace {

namespace tiff = pv::tiff;

using B = TiffBuilder;

enum Comp : std::uint16_t { kNone = 1, kLZW = 5, kPackBits = 32773 };

Bytes Lzw(const std::vector<unsigned>& codes, int end_width = 0) {
  return pvtest::LzwCodes(codes, end_width);
}

Bytes Reversed(Bytes b) {
  for (auto& x : b) {
    unsigned r = 0;
    for (int k = 0; k < 8; ++k) r |= ((x >> k) & 1u) << (7 - k);
    x = static_cast<std::uint8_t>(r);
  }
  return b;
}

struct Case {
  const char* name;
  Comp compression;
  std::uint32_t width, height, rows_per_strip;
  std::vector<Bytes> strips;
  std::vector<double> values;  // expected when no error
  const char* error;           // "" : the image is delivered
  const char* warnings;        // every warning line
  bool reverse_fill = false;
};

class Decoder : public testing::TestWithParam<Case> {};

TEST_P(Decoder, Decodes) {
  const Case& c = GetParam();
  B b;
  for (const Bytes& s : c.strips) b.Strip(c.reverse_fill ? Reversed(s) : s);
  b.Grey(c.width, c.height, 8).Short(tiff::kCompression, c.compression).Long(tiff::kRowsPerStrip, c.rows_per_strip);
  if (c.reverse_fill) b.Short(tiff::kFillOrder, 2);
  TempDir dir;
  const std::string path = dir / "in.tif";
  WriteFile(path, b.Build());
  for (const ReadResult& r : {ReadFloat(path), ReadInt(path)}) {
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.warnings, c.warnings);
    if (*c.error == 0) {
      EXPECT_EQ(r.values, c.values);
    }
  }

  // The same strips decoded in pieces, from the file read in blocks, into an
  // output that moves between calls (as an image that grows with its data
  // does): the same bytes, warnings and failure.
  using pv::rif_core::Compression;
  pv::rif_core::Input input(path.c_str());
  pv::rif_core::StripDecoder decoder(input,
                                     c.compression == kLZW    ? Compression::kLZW
                                     : c.compression == kNone ? Compression::kNone
                                                              : Compression::kPackBits,
                                     c.reverse_fill);
  const ReadResult r = Collect<std::uint8_t>(path, [&](ReadResult& got, RowTable<std::uint8_t>&) {
    std::uint32_t offset = 8;  // the builder's strips follow the header
    for (std::size_t k = 0; k < c.strips.size(); ++k) {
      const std::size_t rows = std::min<std::size_t>(c.rows_per_strip, c.height - k * c.rows_per_strip);
      const std::size_t need = rows * c.width;
      decoder.Init(offset, static_cast<std::uint32_t>(c.strips[k].size()));
      Bytes out;
      for (std::size_t done = 0; done < need;) {
        // A few bytes first, then growing pieces (half of what is there).
        const std::size_t to = std::min(need, done + 3 + done / 2);
        Bytes moved(to);
        std::copy(out.begin(), out.end(), moved.begin());
        std::fill(out.begin(), out.end(), 0xEE);  // nothing may be read where it was
        decoder.Decode(moved.data(), done, to, to);
        out = std::move(moved);
        done = to;
      }
      decoder.Term();
      got.values.insert(got.values.end(), out.begin(), out.end());
      offset += static_cast<std::uint32_t>(c.strips[k].size());
    }
  });
  EXPECT_EQ(r.error, c.error) << "in pieces";
  EXPECT_EQ(r.warnings, c.warnings) << "in pieces";
  if (*c.error == 0) {
    EXPECT_EQ(r.values, c.values) << "in pieces";
  }
}

std::vector<double> Iota(std::size_t n, double from = 0) {
  std::vector<double> v(n);
  std::iota(v.begin(), v.end(), from);
  return v;
}
std::vector<double> Repeat(std::size_t n, double x) { return std::vector<double>(n, x); }

// Literals 10 to 49, then the codes of the entries they defined, 258 to 277
// (each two of the literals).
std::vector<unsigned> EarlierEntries() {
  std::vector<unsigned> codes{256};
  for (unsigned i = 10; i < 50; ++i) codes.push_back(i);
  for (unsigned c = 258; c < 278; ++c) codes.push_back(c);
  codes.push_back(tiff::kLzwEnd);
  return codes;
}
std::vector<double> EarlierEntryValues() {
  std::vector<double> v = Iota(40, 10);
  for (unsigned k = 0; k < 20; ++k) {
    v.push_back(10 + k);
    v.push_back(11 + k);
  }
  return v;
}

// A run of one byte coded as a literal and self-defining codes only: each
// string one longer than the one before, up to entry 4095 and the longest
// string, 3839 bytes.
std::vector<unsigned> SelfDefiningRun() {
  std::vector<unsigned> codes{256, 'x'};
  for (unsigned c = 258; c < 4096; ++c) codes.push_back(c);
  codes.push_back(tiff::kLzwEnd);
  return codes;
}

// Literal codes only, from a clear code until entry `last` is defined.
std::vector<unsigned> LiteralsUntil(unsigned last) {
  std::vector<unsigned> codes{256};
  for (unsigned i = 0; i < last - 258 + 2; ++i) codes.push_back(i % 251);
  return codes;
}
std::vector<double> LiteralValues(unsigned last) {
  std::vector<double> v;
  for (unsigned i = 0; i < last - 258 + 2; ++i) v.push_back(i % 251);
  return v;
}
template <class V>
V Then(V a, const V& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

INSTANTIATE_TEST_SUITE_P(
    Uncompressed, Decoder,
    testing::Values(
        Case{"Exact", kNone, 3, 1, 1, {{1, 2, 3}}, {1, 2, 3}, "", ""},
        Case{"TooManyBytes", kNone, 3, 1, 1, {{1, 2, 3, 4}}, {1, 2, 3}, "", "too many codes (warning).\n"},
        Case{"TooFewBytes", kNone, 3, 1, 1, {{1, 2}}, {}, "too few codes.", ""},
        Case{"ZeroBytes", kNone, 3, 1, 1, {{}}, {}, "too few codes.", ""},
        Case{"FillOrder2", kNone, 2, 1, 1, {{0x80, 0x01}}, {0x80, 0x01}, "", "", true},
        Case{"StripsOfTwoRows", kNone, 2, 5, 2, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10}}, Iota(10, 1),
             "", ""},
        Case{"WarningThenError", kNone, 1, 2, 1, {{1, 2}, {}}, {}, "too few codes.",
             "too many codes (warning).\n"},
        Case{"EveryStripWarns", kNone, 1, 3, 1, {{1, 0}, {2}, {3, 0}}, {1, 2, 3}, "",
             "too many codes (warning).\ntoo many codes (warning).\n"}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    PackBits, Decoder,
    testing::Values(
        Case{"Literal", kPackBits, 3, 1, 1, {{2, 7, 8, 9}}, {7, 8, 9}, "", ""},
        Case{"HeaderZeroIsOneLiteral", kPackBits, 2, 1, 1, {{0, 7, 0, 8}}, {7, 8}, "", ""},
        Case{"Replicate", kPackBits, 3, 1, 1, {{0xFE, 5}}, {5, 5, 5}, "", ""},
        Case{"Header255IsTwoCopies", kPackBits, 2, 1, 1, {{0xFF, 5}}, {5, 5}, "", ""},
        Case{"Header129Is128Copies", kPackBits, 128, 1, 1, {{0x81, 4}}, Repeat(128, 4), "", ""},
        Case{"NoOpHeadersSkipped", kPackBits, 2, 1, 1, {{0x80, 0x00, 5, 0x80, 0x80, 0x00, 6}},
             {5, 6}, "", ""},
        Case{"RunsCrossRows", kPackBits, 2, 2, 2, {{0xFD, 9}}, {9, 9, 9, 9}, "", ""},
        Case{"ReplicatePastLastRow", kPackBits, 2, 1, 1, {{0xFD, 9}}, {9, 9}, "",
             "MPB too many data (warning).\n"},
        Case{"LiteralPastLastRow", kPackBits, 1, 1, 1, {{1, 9, 8}}, {9}, "",
             "MPB too many data (warning).\n"},
        Case{"BytesAfterRuns", kPackBits, 1, 1, 1, {{0, 9, 0}}, {9}, "",
             "MPB too many code (warning).\n"},
        Case{"LoneNoOpAtEnd", kPackBits, 1, 1, 1, {{0, 9, 0x80}}, {9}, "",
             "MPB too many code (warning).\n"},
        Case{"TooFew", kPackBits, 3, 1, 1, {{2, 7, 8}}, {}, "MPB too few codes.", ""},
        Case{"ZeroBytes", kPackBits, 3, 1, 1, {{}}, {}, "MPB too few codes.", ""},
        Case{"NoOpHeadersUseTheCount", kPackBits, 1, 1, 1, {{0x80, 0x80}}, {}, "MPB too few codes.",
             ""},
        Case{"ReplicateWithoutItsByte", kPackBits, 1, 1, 1, {{0xFE}}, {}, "MPB too few codes.", ""},
        Case{"FillOrder2TranslatesHeaders", kPackBits, 3, 1, 1, {{0xFE, 0x01}}, {1, 1, 1}, "", "",
             true},
        Case{"RunStateResetPerStrip", kPackBits, 1, 2, 1, {{0xFD, 4}, {0, 6}}, {4, 6}, "",
             "MPB too many data (warning).\n"}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    LZW, Decoder,
    testing::Values(
        Case{"SelfDefiningCode", kLZW, 3, 1, 1, {{0x80, 0x18, 0x60, 0x50, 0x10}}, {0x61, 0x61, 0x61},
             "", ""},
        Case{"NoLeadingClear", kLZW, 3, 1, 1, {Lzw({97, 258, 257})}, {97, 97, 97}, "", ""},
        Case{"TwoClears", kLZW, 2, 1, 1, {Lzw({256, 256, 5, 6, 257})}, {5, 6}, "", ""},
        Case{"KnownCodes", kLZW, 7, 1, 1, {Lzw({256, 1, 2, 258, 260, 257})}, {1, 2, 1, 2, 1, 2, 1},
             "", ""},
        // Strings of entries defined well before they are used (in an
        // earlier piece, when decoded in pieces).
        Case{"EarlierEntries", kLZW, 80, 1, 1, {Lzw(EarlierEntries())}, EarlierEntryValues(), "", ""},
        Case{"ClearInsideStrip", kLZW, 5, 1, 1, {Lzw({1, 2, 256, 3, 258, 257})}, {1, 2, 3, 3, 3}, "",
             ""},
        Case{"StringsCrossRows", kLZW, 2, 3, 3, {Lzw({256, 7, 258, 259, 257})}, Repeat(6, 7), "", ""},
        Case{"BadCodeAfterClear", kLZW, 1, 1, 1, {Lzw({256, 300, 257})}, {},
             "LZW bad code after clear code.", ""},
        Case{"EndCodeAfterClear", kLZW, 1, 1, 1, {Lzw({256, 257})}, {}, "LZW unexpected end of code.",
             ""},
        Case{"EndCodeTooEarly", kLZW, 3, 1, 1, {Lzw({256, 1, 257})}, {}, "LZW unexpected end of code.",
             ""},
        Case{"CodeAboveNextFree", kLZW, 9, 1, 1, {Lzw({256, 1, 2, 260, 257})}, {}, "LZW bad code.",
             ""},
        Case{"TooFewCodes", kLZW, 9, 1, 1, {Lzw({256, 1, 2})}, {}, "LZW too few codes.", ""},
        Case{"ZeroBytes", kLZW, 1, 1, 1, {{}}, {}, "LZW too few codes.", ""},
        Case{"TooManyData", kLZW, 2, 1, 1, {Lzw({256, 97, 258, 257})}, {97, 97}, "",
             "LZW too many data (warning).\n"},
        Case{"BytesAfterEndCode", kLZW, 1, 1, 1, {Then<Bytes>(Lzw({256, 1, 257}), {0, 0})}, {1}, "",
             "LZW too many code (warning).\n"},
        Case{"NoEndCode", kLZW, 1, 1, 1, {Lzw({256, 1})}, {1}, "",
             "LZW missing end of code (warning).\n"},
        Case{"OtherCodeInsteadOfEnd", kLZW, 1, 1, 1, {Lzw({256, 1, 2})}, {1}, "",
             "LZW missing end of code (warning).\n"},
        Case{"FillOrder2", kLZW, 3, 1, 1, {{0x80, 0x18, 0x60, 0x50, 0x10}}, {0x61, 0x61, 0x61}, "",
             "", true},
        Case{"WidensAfterEntry510", kLZW, 254, 1, 1, {Lzw(Then<std::vector<unsigned>>(LiteralsUntil(510), {257}))},
             LiteralValues(510), "", ""},
        Case{"WidensTo12AfterEntry2046", kLZW, 1790, 1, 1, {Lzw(Then<std::vector<unsigned>>(LiteralsUntil(2046), {257}))},
             LiteralValues(2046), "", ""},
        Case{"FullTableThenClear", kLZW, 3839 + 1, 1, 1,
             {Lzw(Then<std::vector<unsigned>>(LiteralsUntil(4095), {256, 9, 257}))}, Then<std::vector<double>>(LiteralValues(4095), {9}), "",
             ""},
        Case{"FullTableThenEnd", kLZW, 3839 + 1, 1, 1, {Lzw(Then<std::vector<unsigned>>(LiteralsUntil(4095), {257}))},
             {}, "LZW unexpected end of code.", ""},
        Case{"FullTableThenOther", kLZW, 3839 + 1, 1, 1, {Lzw(Then<std::vector<unsigned>>(LiteralsUntil(4095), {5}))}, {},
             "LZW missing clear code.", ""},
        // A strip may end with a clear code at the current width and the end
        // code at 9 bits (what a writer emits when its table fills on the
        // strip's last data code), followed by nothing but pad bits.
        Case{"FullTableClearThenEnd", kLZW, 3836, 1, 1,
             {Lzw(Then<std::vector<unsigned>>(LiteralsUntil(4092), {256, 257}))},
             LiteralValues(4092), "", ""},
        Case{"ClearThenEnd", kLZW, 2, 1, 1, {Lzw({256, 1, 2, 256, 257})}, {1, 2}, "", ""},
        Case{"ClearThenEndThenByte", kLZW, 2, 1, 1, {Then<Bytes>(Lzw({256, 1, 2, 256, 257}), {0})},
             {1, 2}, "", "LZW too many code (warning).\n"},
        Case{"ClearThenOtherCode", kLZW, 2, 1, 1, {Lzw({256, 1, 2, 256, 5})}, {1, 2}, "",
             "LZW too many code (warning).\n"},
        Case{"ClearThenNothing", kLZW, 2, 1, 1, {Lzw({256, 1, 2, 256})}, {1, 2}, "",
             "LZW missing end of code (warning).\n"},
        // An end code one bit narrower than the current width.
        Case{"NarrowEndFillsStrip", kLZW, 254, 1, 1,
             {Lzw(Then<std::vector<unsigned>>(LiteralsUntil(510), {257}), 9)}, LiteralValues(510),
             "", ""},
        Case{"NarrowEndWithPad", kLZW, 254, 1, 1,
             {Lzw(Then<std::vector<unsigned>>(Then<std::vector<unsigned>>({256}, LiteralsUntil(510)),
                                               {257}),
                  9)},
             LiteralValues(510), "", ""},
        // A code defined before a clear code (or in an earlier strip) but
        // not since, amid codes the fast loop takes.
        Case{"CodeFromBeforeClear", kLZW, 600, 1, 1,
             {Lzw(Then(Then(LiteralsUntil(556), LiteralsUntil(456)), Then<std::vector<unsigned>>({500}, LiteralsUntil(300))))},
             {}, "LZW bad code.", ""},
        Case{"CodeFromEarlierStrip", kLZW, 300, 2, 1,
             {Lzw(Then<std::vector<unsigned>>(LiteralsUntil(556), {257})),
              Lzw(Then(LiteralsUntil(456), Then<std::vector<unsigned>>({500}, LiteralsUntil(300))))},
             {}, "LZW bad code.", ""},
        Case{"LongestString", kLZW, 1920, 3839, 3839, {Lzw(SelfDefiningRun())},
             Repeat(1920 * 3839, 'x'), "", ""}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// The code width grows wherever it may fall in the fast loop's rounds of
// codes, also right after a code of the careful path: literals with a
// self-defining code every seventh code, behind leading clear codes that
// move them against the bit buffer's fills, over many alignments.
TEST(Reader, WidthGrowsAtAnyPointOfTheBitBuffer) {
  TempDir dir;
  const std::string path = dir / "in.tif";
  for (unsigned clears = 1; clears < 32; ++clears) {
    std::vector<unsigned> codes(clears, 256);
    std::vector<double> values;
    unsigned next = 258;  // the next free code after the first literal
    unsigned last = 0;    // the last literal
    for (unsigned i = 0; next < 2100; ++i) {
      if (i % 7 == 6) {
        codes.push_back(next);  // the previous string (a literal) and its first byte
        values.push_back(last);
        values.push_back(last);
      } else {
        last = (i * 37) % 251;
        codes.push_back(last);
        values.push_back(last);
      }
      if (i > 0) ++next;
    }
    codes.push_back(tiff::kLzwEnd);
    WriteFile(path, B().Strip(Lzw(codes)).Grey(static_cast<std::uint32_t>(values.size()), 1, 8)
                        .Short(tiff::kCompression, kLZW).Build());
    const ReadResult r = ReadFloat(path);
    ASSERT_EQ(r.error, "") << clears;
    ASSERT_EQ(r.warnings, "") << clears;
    ASSERT_EQ(r.values, values) << clears;
  }
}

}  // namespace
}  // namespace pvtest
