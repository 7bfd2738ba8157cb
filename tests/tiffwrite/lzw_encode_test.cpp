// The LZW strip encoder: exact code streams, round trips through a strict
// decoder and through libtiff, identical output of the byte and block forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "common/tiff.h"
#include "tests/support/files.h"
#include "tests/support/libtiff_oracle.h"
#include "tests/support/tiff_builder.h"
#include "tests/support/tiff_layout.h"
#include "tests/support/row_tables.h"
#include "tiffread/rif.h"
#include "tiffwrite/lzw_encode.h"

namespace pvtest {
namespace {

// The encoder's output for `input`, fed in pieces of `piece` bytes (0: one
// byte a call), into the room the writers give a strip; empty when the
// encoder wrote beyond that room or its stream is longer than the
// worst-case bound.
Bytes EncodeStrip(const Bytes& input, std::size_t piece) {
  static pv::LzwEncoder encoder;  // its table is reused across calls
  // The room the writers give a strip, and a guard behind it that the
  // encoder must leave alone.
  const std::size_t room = pv::LzwEncoder::WorstCaseBytes(input.size()) + pv::LzwEncoder::kSlack;
  Bytes out(room + 64, 0xA5);
  encoder.StartStrip(out.data());
  if (piece == 0) {
    for (std::uint8_t b : input) encoder.EncodeBlock(&b, 1);
  } else {
    for (std::size_t i = 0; i < input.size(); i += piece)
      encoder.EncodeBlock(input.data() + i, std::min(piece, input.size() - i));
  }
  const std::size_t count = encoder.EndStrip();
  for (std::size_t i = room; i < out.size(); ++i)
    if (out[i] != 0xA5) return {};  // written beyond the room
  if (count > room - pv::LzwEncoder::kSlack) return {};
  out.resize(count);
  return out;
}

// A TIFF file of one 8-bit strip (width x height = its decompressed size)
// holding `strip` as LZW data, for libtiff and our reader to decode.
Bytes WrapStrip(const Bytes& strip, std::uint32_t width, std::uint32_t height) {
  using namespace pv::tiff;
  return TiffBuilder()
      .Strip(strip)
      .Long(kImageWidth, width)
      .Long(kImageLength, height)
      .Short(kBitsPerSample, 8)
      .Short(kCompression, kCompressionLZW)
      .Short(kPhotometricInterpretation, kBlackIsZero)
      .StripOffsets()
      .Short(kSamplesPerPixel, 1)
      .Long(kRowsPerStrip, height)
      .StripByteCounts()
      .Build();
}

// Rows like those of a CT slice: a dark background, a bright disc with
// smooth structure and a little noise; 8 or 16 bits, little-endian bytes.
Bytes CtLikeRows(std::uint32_t width, std::uint32_t height, int bits, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0, bits == 8 ? 1.5 : 40);
  const double top = bits == 8 ? 255 : 4095;
  Bytes out;
  out.reserve(std::size_t(width) * height * (bits / 8));
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      const double dx = (x - width / 2.0) / (width / 2.0), dy = (y - height / 2.0) / (height / 2.0);
      const double r = std::sqrt(dx * dx + dy * dy);
      double v = 0.02 * top;
      if (r < 0.9) v = 0.35 * top + 0.1 * top * std::sin(9 * dx) * std::cos(7 * dy) + noise(rng);
      if (r < 0.88 && r > 0.8) v = 0.8 * top + noise(rng);  // bone-like ring
      v = std::clamp(std::round(v), 0.0, top);
      const auto s = static_cast<std::uint32_t>(v);
      out.push_back(std::uint8_t(s));
      if (bits == 16) out.push_back(std::uint8_t(s >> 8));
    }
  }
  return out;
}

// A sequence whose consecutive byte pairs are all different (up to 65536
// bytes): every Encode after the first defines a new entry.
Bytes DistinctPairs(std::size_t n) {
  // A de Bruijn sequence of order 2 over 256 symbols (Lyndon word
  // concatenation): every pair occurs once.
  Bytes seq;
  std::vector<int> a(3, 0);
  auto db = [&](auto&& self, int t, int p) -> void {
    if (seq.size() >= n) return;
    if (t > 2) {
      if (2 % p == 0)
        for (int j = 1; j <= p; ++j) seq.push_back(std::uint8_t(a[j]));
      return;
    }
    a[t] = a[t - p];
    self(self, t + 1, p);
    for (int j = a[t - p] + 1; j < 256; ++j) {
      a[t] = j;
      self(self, t + 1, t);
    }
  };
  db(db, 1, 1);
  seq.resize(std::min(n, seq.size()));
  return seq;
}

Bytes Random(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = std::uint8_t(rng());
  return b;
}

Bytes Run(std::size_t n, std::uint8_t value) { return Bytes(n, value); }

TEST(LzwEncode, ExactStreams) {
  const struct {
    const char* name;
    Bytes input, stored;
  } cases[] = {
      {"three equal bytes: 256 97 258 257", {0x61, 0x61, 0x61}, {0x80, 0x18, 0x60, 0x50, 0x10}},
      {"one byte: 256 b 257", {0x41}, {0x80, 0x10, 0x60, 0x20}},
      {"empty strip: 256 257", {}, {0x80, 0x40, 0x40}},
      {"two different bytes: 256 1 2 257", {1, 2}, {0x80, 0x00, 0x40, 0x50, 0x10}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EncodeStrip(c.input, 0), c.stored);
    EXPECT_EQ(EncodeStrip(c.input, 1000), c.stored);
  }
}

struct Input {
  std::string name;
  Bytes bytes;
};

std::vector<Input> RoundTripInputs() {
  std::vector<Input> v = {
      {"random 100000", Random(100000, 1)},
      {"random 8192", Random(8192, 2)},
      {"random 3838: the table-full clear", Random(3838, 3838)},
      {"run of zeros 100000", Run(100000, 0)},
      {"run of 0xFF 3839", Run(3839, 0xFF)},
      {"ct-like 8-bit 512x16", CtLikeRows(512, 16, 8, 3)},
      {"ct-like 16-bit 512x8", CtLikeRows(512, 8, 16, 4)},
      {"distinct pairs 20000", DistinctPairs(20000)},
  };
  // Distinct pairs define one entry per byte after the first, so after n
  // bytes the next free code is 257 + n: these lengths end a strip right
  // around the width changes (entries 511, 1023, 2047) and the table-full
  // clear at 4094.
  for (std::size_t centre : {254u, 766u, 1790u, 3837u})
    for (std::size_t n = centre - 2; n <= centre + 3; ++n)
      v.push_back({"distinct pairs " + std::to_string(n), DistinctPairs(n)});
  return v;
}

TEST(LzwEncode, RoundTripsThroughStrictDecoder) {
  for (const auto& in : RoundTripInputs()) {
    SCOPED_TRACE(in.name);
    const Bytes strip = EncodeStrip(in.bytes, 0);
    ASSERT_FALSE(strip.empty()) << "beyond the worst-case bound";
    EXPECT_EQ(strip[0], 0x80);
    const DecodedStrip d = DecodeStrip(strip);
    EXPECT_EQ(d.problem, "");
    EXPECT_TRUE(d.data == in.bytes);
    // Every block size gives the same stream as byte-by-byte encoding.
    for (std::size_t piece : {1u, 7u, 4096u, 5000u, 1000000u})
      EXPECT_TRUE(EncodeStrip(in.bytes, piece) == strip) << "piece " << piece;
  }
}

TEST(LzwEncode, RoundTripsThroughLibtiffAndOurReader) {
  TempDir dir;
  for (const auto& in : RoundTripInputs()) {
    SCOPED_TRACE(in.name);
    const Bytes strip = EncodeStrip(in.bytes, 4096);
    // As an 8-bit image of one row (or 100 rows when it divides).
    const std::uint32_t n = std::uint32_t(in.bytes.size());
    const std::uint32_t height = n % 100 == 0 ? 100 : 1;
    WriteFile(dir / "strip.tif", WrapStrip(strip, n / height, height));
    const LibtiffImage img = ReadWithLibtiff(dir / "strip.tif");
    EXPECT_LIBTIFF_CLEAN(img);
    ASSERT_EQ(img.values.size(), in.bytes.size());
    for (std::size_t i = 0; i < n; ++i)
      if (img.values[i] != in.bytes[i]) FAIL() << "byte " << i << " differs";

    std::int32_t w = 0, h = 0;
    RowTable<std::uint16_t> rows;
    testing::internal::CaptureStderr();
    ReadRows((dir / "strip.tif").c_str(), &w, &h, nullptr, &rows, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(std::size_t(w) * std::size_t(h), in.bytes.size());
    for (std::size_t i = 0; i < n; ++i)
      if (rows[i / w][i % w] != in.bytes[i]) FAIL() << "our reader: byte " << i << " differs";
  }
}

TEST(LzwEncode, CodeWidthsAtTheBoundaries) {
  // Distinct pairs: the k-th data code (k from 1) is put out when entry
  // 257 + k is stored, so codes 1..254 are 9 bits, code 255 (after entry
  // 511) is the first of 10 bits; the table-full clear follows data code
  // 3837 in 12 bits, and the codes after it are 9 bits again.
  const DecodedStrip d = DecodeStrip(EncodeStrip(DistinctPairs(5000), 0));
  ASSERT_EQ(d.problem, "");
  const auto& c = d.codes;  // c[0] is the opening clear code
  EXPECT_EQ(c[254].width, 9u);
  EXPECT_EQ(c[255].width, 10u);
  EXPECT_EQ(c[766].width, 10u);
  EXPECT_EQ(c[767].width, 11u);
  EXPECT_EQ(c[1790].width, 11u);
  EXPECT_EQ(c[1791].width, 12u);
  EXPECT_EQ(c[3837].width, 12u);
  EXPECT_EQ(c[3838].code, pv::tiff::kLzwClear);
  EXPECT_EQ(c[3838].width, 12u);
  EXPECT_LT(c[3839].code, pv::tiff::kLzwClear);  // the byte that caused the clear
  EXPECT_EQ(c[3839].width, 9u);
  for (const auto& code : c) EXPECT_LE(code.code, 4093u);  // the largest code ever assigned
}

TEST(LzwEncode, EndCodeWidensWithTheLastEntry) {
  // A strip whose last data code is put out while the next free code is 511
  // (1023, 2047): the end code is one bit wider than that code.
  const struct {
    std::size_t n;
    std::uint32_t last, end;
  } cases[] = {{253, 9, 9}, {254, 9, 10}, {766, 10, 11}, {1790, 11, 12}, {1791, 12, 12}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.n);
    const DecodedStrip d = DecodeStrip(EncodeStrip(DistinctPairs(c.n), 0));
    ASSERT_EQ(d.problem, "");
    ASSERT_GE(d.codes.size(), 2u);
    EXPECT_EQ(d.codes[d.codes.size() - 2].width, c.last);
    EXPECT_EQ(d.codes.back().code, pv::tiff::kLzwEnd);
    EXPECT_EQ(d.codes.back().width, c.end);
  }
}

TEST(LzwEncode, EntriesDoNotSurviveAClear) {
  // Distinct pairs fill the table up to the table-full clear; the same
  // pairs again must be coded from a fresh table (a stale entry would give
  // a code the decoder has not defined yet), and so must the last codes
  // (near 4093) followed by every byte value.
  Bytes in = DistinctPairs(5000);
  const Bytes again = DistinctPairs(5000);
  in.insert(in.end(), again.begin(), again.end());
  for (int b = 0; b < 256; ++b) in.insert(in.end(), {in[3836], in[3837], std::uint8_t(b)});
  const DecodedStrip d = DecodeStrip(EncodeStrip(in, 0));
  EXPECT_EQ(d.problem, "");
  EXPECT_TRUE(d.data == in);
}

TEST(LzwEncode, StripsAreIndependent) {
  // Strip after strip into one buffer, as a batch of strips is compressed:
  // each starts afresh whatever the previous one left (its table, pending
  // bits, an unfinished strip), so the same bytes give the same strip.
  static pv::LzwEncoder encoder;
  const Bytes first = Random(777, 9), abandoned = Random(300000, 11);
  const std::size_t room = pv::LzwEncoder::WorstCaseBytes(300000) + pv::LzwEncoder::kSlack;
  Bytes out(3 * room);
  encoder.StartStrip(out.data());
  encoder.EncodeBlock(first.data(), first.size());
  const std::size_t a = encoder.EndStrip();
  encoder.StartStrip(out.data() + a);
  encoder.EncodeBlock(first.data(), first.size());
  EXPECT_EQ(encoder.EndStrip(), a);
  EXPECT_TRUE(Bytes(out.begin(), out.begin() + a) == Bytes(out.begin() + a, out.begin() + 2 * a));

  encoder.StartStrip(out.data());
  encoder.EncodeBlock(abandoned.data(), abandoned.size());  // never ended
  encoder.StartStrip(out.data() + room);
  encoder.EncodeBlock(first.data(), first.size());
  EXPECT_EQ(encoder.EndStrip(), a);
  EXPECT_TRUE(Bytes(out.begin() + room, out.begin() + room + a) == EncodeStrip(first, 0));
}

}  // namespace
}  // namespace pvtest
