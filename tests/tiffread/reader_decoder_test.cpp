// The strip decoders (uncompressed, PackBits, LZW, Deflate) and the strip
// loop on crafted strips: decoded values, fatal messages, end-of-strip
// warnings.
#include <algorithm>
#include <numeric>

#include "tests/tiffread/reader_test_util.h"
#include "tiffread/strip_decoder.h"

namespace pvtest {
namespace {

enum Comp : std::uint16_t { kNone = 1, kLZW = 5, kDeflate = 8, kOldDeflate = 32946, kPackBits = 32773 };
using Codes = std::vector<unsigned>;

Bytes Lzw(const Codes& codes, int end_width = 0) { return LzwCodes(codes, end_width); }

Bytes Zlib(const Bytes& data) { return ZlibStored(data); }
// A zlib stream cut by `n` bytes, or with byte `at` changed.
Bytes Cut(Bytes b, std::size_t n) {
  b.erase(b.end() - static_cast<std::ptrdiff_t>(n), b.end());
  return b;
}
Bytes Changed(Bytes b, std::size_t at) {
  b.at(at) ^= 0x5A;
  return b;
}
Bytes Bytes300() {
  Bytes b(300);
  for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(i * 7);
  return b;
}
std::vector<double> Values300() {
  const Bytes b = Bytes300();
  return {b.begin(), b.end()};
}

Bytes Reversed(Bytes b) {
  for (auto& x : b) {
    unsigned r = 0;
    for (int k = 0; k < 8; ++k) r |= ((x >> k) & 1u) << (7 - k);
    x = static_cast<std::uint8_t>(r);
  }
  return b;
}

template <class V, class... More>
V Then(V a, const More&... more) {
  (a.insert(a.end(), more.begin(), more.end()), ...);
  return a;
}

std::vector<double> Iota(std::size_t n, double from = 0) {
  std::vector<double> v(n);
  std::iota(v.begin(), v.end(), from);
  return v;
}
std::vector<double> Repeat(std::size_t n, double x) { return std::vector<double>(n, x); }

// Literals 10 to 49, then the codes of the entries they defined, 258 to 277
// (each two of the literals).
Codes EarlierEntries() {
  Codes codes{256};
  for (unsigned i = 10; i < 50; ++i) codes.push_back(i);
  for (unsigned c = 258; c < 278; ++c) codes.push_back(c);
  return Then(codes, Codes{tiff::kLzwEnd});
}
std::vector<double> EarlierEntryValues() {
  std::vector<double> v = Iota(40, 10);
  for (unsigned k = 0; k < 20; ++k) v.insert(v.end(), {10.0 + k, 11.0 + k});
  return v;
}

// A run of one byte coded as a literal and self-defining codes only: each
// string one longer than the one before, up to entry 4095 and the longest
// string, 3839 bytes.
Codes SelfDefiningRun() {
  Codes codes{256, 'x'};
  for (unsigned c = 258; c < 4096; ++c) codes.push_back(c);
  return Then(codes, Codes{tiff::kLzwEnd});
}

// Literal codes only, from a clear code until entry `last` is defined, then
// `tail`; and the bytes the literals stand for.
Codes LiteralsUntil(unsigned last, const Codes& tail = {}) {
  Codes codes{256};
  for (unsigned i = 0; i < last - 258 + 2; ++i) codes.push_back(i % 251);
  return Then(codes, tail);
}
std::vector<double> LiteralValues(unsigned last) {
  const Codes codes = LiteralsUntil(last);
  return {codes.begin() + 1, codes.end()};
}

TEST(Reader, DecodesStrips) {
  const struct {
    const char* name;
    Comp compression;
    std::uint32_t width, height, rows_per_strip;
    std::vector<Bytes> strips;
    std::vector<double> values;  // none when there is an error
    const char* error;           // "" : the image is delivered
    const char* warnings;        // every warning line
    bool reverse_fill = false;
  } cases[] = {
      {"Exact", kNone, 3, 1, 1, {{1, 2, 3}}, {1, 2, 3}, "", ""},
      {"TooManyBytes", kNone, 3, 1, 1, {{1, 2, 3, 4}}, {1, 2, 3}, "", "too many codes (warning).\n"},
      {"TooFewBytes", kNone, 3, 1, 1, {{1, 2}}, {}, "too few codes.", ""},
      {"ZeroBytes", kNone, 3, 1, 1, {{}}, {}, "too few codes.", ""},
      {"FillOrder2", kNone, 2, 1, 1, {{0x80, 0x01}}, {0x80, 0x01}, "", "", true},
      {"StripsOfTwoRows", kNone, 2, 5, 2, {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10}}, Iota(10, 1), "", ""},
      {"WarningThenError", kNone, 1, 2, 1, {{1, 2}, {}}, {}, "too few codes.",
          "too many codes (warning).\n"},
      {"EveryStripWarns", kNone, 1, 3, 1, {{1, 0}, {2}, {3, 0}}, {1, 2, 3}, "",
          "too many codes (warning).\ntoo many codes (warning).\n"},

      {"Literal", kPackBits, 3, 1, 1, {{2, 7, 8, 9}}, {7, 8, 9}, "", ""},
      {"HeaderZeroIsOneLiteral", kPackBits, 2, 1, 1, {{0, 7, 0, 8}}, {7, 8}, "", ""},
      {"Replicate", kPackBits, 3, 1, 1, {{0xFE, 5}}, {5, 5, 5}, "", ""},
      {"Header255IsTwoCopies", kPackBits, 2, 1, 1, {{0xFF, 5}}, {5, 5}, "", ""},
      {"Header129Is128Copies", kPackBits, 128, 1, 1, {{0x81, 4}}, Repeat(128, 4), "", ""},
      {"NoOpHeadersSkipped", kPackBits, 2, 1, 1, {{0x80, 0x00, 5, 0x80, 0x80, 0x00, 6}}, {5, 6}, "", ""},
      {"RunsCrossRows", kPackBits, 2, 2, 2, {{0xFD, 9}}, {9, 9, 9, 9}, "", ""},
      {"ReplicatePastLastRow", kPackBits, 2, 1, 1, {{0xFD, 9}}, {9, 9}, "", "MPB too many data (warning).\n"},
      {"LiteralPastLastRow", kPackBits, 1, 1, 1, {{1, 9, 8}}, {9}, "", "MPB too many data (warning).\n"},
      {"BytesAfterRuns", kPackBits, 1, 1, 1, {{0, 9, 0}}, {9}, "", "MPB too many code (warning).\n"},
      {"LoneNoOpAtEnd", kPackBits, 1, 1, 1, {{0, 9, 0x80}}, {9}, "", "MPB too many code (warning).\n"},
      {"TooFew", kPackBits, 3, 1, 1, {{2, 7, 8}}, {}, "MPB too few codes.", ""},
      {"ZeroBytes", kPackBits, 3, 1, 1, {{}}, {}, "MPB too few codes.", ""},
      {"NoOpHeadersUseTheCount", kPackBits, 1, 1, 1, {{0x80, 0x80}}, {}, "MPB too few codes.", ""},
      {"ReplicateWithoutItsByte", kPackBits, 1, 1, 1, {{0xFE}}, {}, "MPB too few codes.", ""},
      {"FillOrder2TranslatesHeaders", kPackBits, 3, 1, 1, {{0xFE, 0x01}}, {1, 1, 1}, "", "", true},
      {"RunStateResetPerStrip", kPackBits, 1, 2, 1, {{0xFD, 4}, {0, 6}}, {4, 6}, "",
          "MPB too many data (warning).\n"},

      {"SelfDefiningCode", kLZW, 3, 1, 1, {{0x80, 0x18, 0x60, 0x50, 0x10}}, {0x61, 0x61, 0x61}, "", ""},
      {"NoLeadingClear", kLZW, 3, 1, 1, {Lzw({97, 258, 257})}, {97, 97, 97}, "", ""},
      {"TwoClears", kLZW, 2, 1, 1, {Lzw({256, 256, 5, 6, 257})}, {5, 6}, "", ""},
      {"KnownCodes", kLZW, 7, 1, 1, {Lzw({256, 1, 2, 258, 260, 257})}, {1, 2, 1, 2, 1, 2, 1}, "", ""},
      // Strings of entries defined well before they are used (in an
      // earlier piece, when decoded in pieces).
      {"EarlierEntries", kLZW, 80, 1, 1, {Lzw(EarlierEntries())}, EarlierEntryValues(), "", ""},
      {"ClearInsideStrip", kLZW, 5, 1, 1, {Lzw({1, 2, 256, 3, 258, 257})}, {1, 2, 3, 3, 3}, "", ""},
      {"StringsCrossRows", kLZW, 2, 3, 3, {Lzw({256, 7, 258, 259, 257})}, Repeat(6, 7), "", ""},
      {"BadCodeAfterClear", kLZW, 1, 1, 1, {Lzw({256, 300, 257})}, {}, "LZW bad code after clear code.", ""},
      {"EndCodeAfterClear", kLZW, 1, 1, 1, {Lzw({256, 257})}, {}, "LZW unexpected end of code.", ""},
      {"EndCodeTooEarly", kLZW, 3, 1, 1, {Lzw({256, 1, 257})}, {}, "LZW unexpected end of code.", ""},
      {"CodeAboveNextFree", kLZW, 9, 1, 1, {Lzw({256, 1, 2, 260, 257})}, {}, "LZW bad code.", ""},
      {"TooFewCodes", kLZW, 9, 1, 1, {Lzw({256, 1, 2})}, {}, "LZW too few codes.", ""},
      {"ZeroBytes", kLZW, 1, 1, 1, {{}}, {}, "LZW too few codes.", ""},
      {"TooManyData", kLZW, 2, 1, 1, {Lzw({256, 97, 258, 257})}, {97, 97}, "",
          "LZW too many data (warning).\n"},
      {"BytesAfterEndCode", kLZW, 1, 1, 1, {Then(Lzw({256, 1, 257}), Bytes{0, 0})}, {1}, "",
          "LZW too many code (warning).\n"},
      {"NoEndCode", kLZW, 1, 1, 1, {Lzw({256, 1})}, {1}, "", "LZW missing end of code (warning).\n"},
      {"OtherCodeInsteadOfEnd", kLZW, 1, 1, 1, {Lzw({256, 1, 2})}, {1}, "",
          "LZW missing end of code (warning).\n"},
      {"FillOrder2", kLZW, 3, 1, 1, {{0x80, 0x18, 0x60, 0x50, 0x10}}, {0x61, 0x61, 0x61}, "", "", true},
      {"WidensAfterEntry510", kLZW, 254, 1, 1, {Lzw(LiteralsUntil(510, {257}))}, LiteralValues(510), "", ""},
      {"WidensTo12AfterEntry2046", kLZW, 1790, 1, 1, {Lzw(LiteralsUntil(2046, {257}))}, LiteralValues(2046),
          "", ""},
      {"FullTableThenClear", kLZW, 3839 + 1, 1, 1, {Lzw(LiteralsUntil(4095, {256, 9, 257}))},
          Then(LiteralValues(4095), std::vector<double>{9}), "", ""},
      {"FullTableThenEnd", kLZW, 3839 + 1, 1, 1, {Lzw(LiteralsUntil(4095, {257}))}, {},
          "LZW unexpected end of code.", ""},
      {"FullTableThenOther", kLZW, 3839 + 1, 1, 1, {Lzw(LiteralsUntil(4095, {5}))}, {},
          "LZW missing clear code.", ""},
      // A strip may end with a clear code at the current width and the end
      // code at 9 bits (what a writer emits when its table fills on the
      // strip's last data code), followed by nothing but pad bits.
      {"FullTableClearThenEnd", kLZW, 3836, 1, 1, {Lzw(LiteralsUntil(4092, {256, 257}))},
          LiteralValues(4092), "", ""},
      {"ClearThenEnd", kLZW, 2, 1, 1, {Lzw({256, 1, 2, 256, 257})}, {1, 2}, "", ""},
      {"ClearThenEndThenByte", kLZW, 2, 1, 1, {Then(Lzw({256, 1, 2, 256, 257}), Bytes{0})}, {1, 2}, "",
          "LZW too many code (warning).\n"},
      {"ClearThenOtherCode", kLZW, 2, 1, 1, {Lzw({256, 1, 2, 256, 5})}, {1, 2}, "",
          "LZW too many code (warning).\n"},
      {"ClearThenNothing", kLZW, 2, 1, 1, {Lzw({256, 1, 2, 256})}, {1, 2}, "",
          "LZW missing end of code (warning).\n"},
      // An end code one bit narrower than the current width.
      {"NarrowEndFillsStrip", kLZW, 254, 1, 1, {Lzw(LiteralsUntil(510, {257}), 9)}, LiteralValues(510),
          "", ""},
      {"NarrowEndWithPad", kLZW, 254, 1, 1, {Lzw(Then(Codes{256}, LiteralsUntil(510, {257})), 9)},
          LiteralValues(510), "", ""},
      // A code defined before a clear code (or in an earlier strip) but
      // not since, amid codes the fast loop takes.
      {"CodeFromBeforeClear", kLZW, 600, 1, 1,
          {Lzw(Then(LiteralsUntil(556), LiteralsUntil(456, {500}), LiteralsUntil(300)))}, {},
          "LZW bad code.", ""},
      {"CodeFromEarlierStrip", kLZW, 300, 2, 1,
          {Lzw(LiteralsUntil(556, {257})), Lzw(Then(LiteralsUntil(456, {500}), LiteralsUntil(300)))}, {},
          "LZW bad code.", ""},
      {"LongestString", kLZW, 1920, 3839, 3839, {Lzw(SelfDefiningRun())}, Repeat(1920 * 3839, 'x'), "", ""},

      {"Exact", kDeflate, 3, 1, 1, {Zlib({1, 2, 3})}, {1, 2, 3}, "", ""},
      {"OldNumber", kOldDeflate, 3, 1, 1, {Zlib({1, 2, 3})}, {1, 2, 3}, "", ""},
      {"StripsOfTwoRows", kDeflate, 2, 3, 2, {Zlib({1, 2, 3, 4}), Zlib({5, 6})}, Iota(6, 1), "", ""},
      // Longer than the first pieces that a decoder is asked for.
      {"LongStream", kDeflate, 100, 3, 3, {Zlib(Bytes300())}, Values300(), "", ""},
      {"TooManyData", kDeflate, 3, 1, 1, {Zlib({1, 2, 3, 4})}, {1, 2, 3}, "", "Deflate too many data (warning).\n"},
      {"BytesAfterStream", kDeflate, 3, 1, 1, {Then(Zlib({1, 2, 3}), Bytes{0, 0})}, {1, 2, 3}, "",
          "Deflate too many code (warning).\n"},
      {"TooManyDataAndBytes", kDeflate, 1, 1, 1, {Then(Zlib({1, 2}), Bytes{0})}, {1}, "",
          "Deflate too many data (warning).\n"},
      {"TooFewData", kDeflate, 3, 1, 1, {Zlib({1, 2})}, {}, "Deflate too few data.", ""},
      {"TooFewDataInSecondStrip", kDeflate, 2, 2, 1, {Zlib({1, 2}), Zlib({3})}, {}, "Deflate too few data.", ""},
      {"ZeroBytes", kDeflate, 1, 1, 1, {{}}, {}, "Deflate bad or short data.", ""},
      {"CutChecksum", kDeflate, 3, 1, 1, {Cut(Zlib({1, 2, 3}), 1)}, {}, "Deflate bad or short data.", ""},
      {"CutData", kDeflate, 3, 1, 1, {Cut(Zlib({1, 2, 3}), 5)}, {}, "Deflate bad or short data.", ""},
      {"BadHeader", kDeflate, 3, 1, 1, {Changed(Zlib({1, 2, 3}), 1)}, {}, "Deflate bad or short data.", ""},
      {"BadChecksum", kDeflate, 3, 1, 1, {Changed(Zlib({1, 2, 3}), 10)}, {}, "Deflate bad or short data.", ""},
      {"BadBlockType", kDeflate, 3, 1, 1, {Then(Bytes{0x78, 0x01, 0x07}, Bytes(10, 0))}, {}, "Deflate bad or short data.", ""},
      {"WarningThenError", kDeflate, 1, 2, 1, {Zlib({1, 2}), {}}, {}, "Deflate bad or short data.",
          "Deflate too many data (warning).\n"},
      {"FillOrder2", kDeflate, 2, 1, 1, {Zlib({0x80, 0x01})}, {0x80, 0x01}, "", "", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.compression << " " << c.name);
    B b;
    for (const Bytes& s : c.strips) b.Strip(c.reverse_fill ? Reversed(s) : s);
    b.Grey(c.width, c.height, 8).Short(tiff::kCompression, c.compression).Long(tiff::kRowsPerStrip, c.rows_per_strip);
    if (c.reverse_fill) b.Short(tiff::kFillOrder, 2);
    const TempTiff t(b.Build());
    const ReadResult f = ReadFloat(t.path), i = ReadInt(t.path);
    const bool deflate = c.compression == kDeflate || c.compression == kOldDeflate;
    if (deflate && !kDeflateRead) {
      EXPECT_EQ(Messages(f, i), (Strings{DeflateOr(""), DeflateOr(""), "", ""}));
      continue;
    }
    EXPECT_EQ(Messages(f, i), (Strings{c.error, c.error, c.warnings, c.warnings}));
    EXPECT_EQ(f.values, c.values);
    EXPECT_EQ(i.values, c.values);
    // The same strips decoded in pieces, from the file read in blocks, into an
    // output that moves between calls (as an image that grows with its data
    // does): the same bytes, warnings and failure.
    using pv::reader::Compression;
    pv::reader::Input input(t.path.c_str());
    pv::reader::StripDecoder decoder(input,
                                       c.compression == kLZW    ? Compression::kLZW
                                       : c.compression == kNone ? Compression::kNone
                                       : deflate                ? Compression::kDeflate
                                                                : Compression::kPackBits,
                                       c.reverse_fill);
    const ReadResult r = Collect<std::uint8_t>(t.path, [&](ReadResult& got, RowTable<std::uint8_t>&) {
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
    EXPECT_EQ((Strings{r.error, r.warnings}), (Strings{c.error, c.warnings})) << "in pieces";
    if (*c.error == 0) { EXPECT_EQ(r.values, c.values) << "in pieces"; }
  }
}

// The code width grows wherever it may fall in the fast loop's rounds of
// codes, also right after a code of the careful path: literals with a
// self-defining code every seventh code, behind leading clear codes that
// move them against the bit buffer's fills, over many alignments.
TEST(Reader, WidthGrowsAtAnyPointOfTheBitBuffer) {
  for (unsigned clears = 1; clears < 32; ++clears) {
    SCOPED_TRACE(clears);
    Codes codes(clears, 256);
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
    const TempTiff t(B().Strip(Lzw(codes)).Grey(static_cast<std::uint32_t>(values.size()), 1, 8)
                         .Short(tiff::kCompression, kLZW).Build());
    const ReadResult r = ReadFloat(t.path);
    ASSERT_EQ((Strings{r.error, r.warnings}), (Strings{"", ""}));
    ASSERT_EQ(r.values, values);
  }
}

// A decoder that failed inside a strip knows none of the entries that strip
// defined: the next strip's code of such an entry is a bad code (not a copy
// of bytes from the failed strip's output, which may be gone).
TEST(Reader, LzwDecoderForgetsTheEntriesOfAFailedStrip) {
  const Bytes failed = Lzw(LiteralsUntil(400, {500}));  // entries 258 to 400, then a bad code
  Codes codes{256, 1, 2, 300};
  codes.resize(codes.size() + 100, 7);  // for the fast loop: stored bytes and output room
  const Bytes next = Lzw(Then(codes, Codes{tiff::kLzwEnd}));
  const TempTiff t(B().Strip(failed).Strip(next).Grey(200, 2, 8).Short(tiff::kCompression, kLZW)
                       .Long(tiff::kRowsPerStrip, 1).Build());
  pv::reader::Input input(t.path.c_str());
  pv::reader::StripDecoder decoder(input, pv::reader::Compression::kLZW, false);
  std::uint32_t offset = 8;  // the builder's strips follow the header
  for (const Bytes* strip : {&failed, &next}) {
    Bytes out(200);
    decoder.Init(offset, static_cast<std::uint32_t>(strip->size()));
    EXPECT_EQ(StripPath(FatalLine([&] { decoder.Decode(out.data(), 0, out.size(), out.size()); }), t.path),
              "LZW bad code.\n");
    offset += static_cast<std::uint32_t>(strip->size());
  }
}

}  // namespace
}  // namespace pvtest
