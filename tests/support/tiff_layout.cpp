#include "tests/support/tiff_layout.h"

#include <gtest/gtest.h>

#include <cstring>

#include "common/tiff.h"

namespace pvtest {

namespace tiff = pv::tiff;

std::optional<TiffEntry> TiffDirectory::Find(std::uint16_t tag) const {
  for (const auto& e : entries)
    if (e.tag == tag) return e;
  return std::nullopt;
}

TiffDirectory ParseDirectory(const Bytes& file) {
  TiffDirectory d;
  if (file.size() < 8 || file[0] != tiff::kLittleEndian || file[1] != tiff::kLittleEndian ||
      Le16(file, 2) != tiff::kMagic)
    return d;
  d.offset = Le32(file, 4);
  if (std::uint64_t(d.offset) + 2 > file.size()) return d;
  const std::uint32_t n = Le16(file, d.offset);
  if (std::uint64_t(d.offset) + 2 + 12 * n + 4 > file.size()) return d;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t at = d.offset + 2 + 12 * i;
    d.entries.push_back(
        {Le16(file, at), Le16(file, at + 2), Le32(file, at + 4), Le32(file, at + 8), at});
  }
  d.next = Le32(file, d.offset + 2 + 12 * n);
  return d;
}

StripTable Strips(const Bytes& file, const TiffDirectory& dir) {
  StripTable t;
  const auto off = dir.Find(tiff::kStripOffsets), cnt = dir.Find(tiff::kStripByteCounts);
  if (!off || !cnt || off->count != cnt->count) return t;
  for (std::uint32_t k = 0; k < off->count; ++k) {
    if (off->count == 1) {
      t.offsets.push_back(off->value);
      t.counts.push_back(cnt->value);
    } else {
      t.offsets.push_back(Le32(file, off->value + 4 * k));
      t.counts.push_back(Le32(file, cnt->value + 4 * k));
    }
  }
  return t;
}

DecodedStrip DecodeStrip(const Bytes& strip) {
  DecodedStrip out;
  std::vector<Bytes> table(tiff::kLzwCodes);
  for (unsigned i = 0; i < tiff::kLzwClear; ++i) table[i] = Bytes{std::uint8_t(i)};
  const std::uint64_t total_bits = 8 * std::uint64_t(strip.size());
  std::uint64_t at = 0;
  std::uint32_t width = tiff::kLzwMinBits, next = tiff::kLzwFirstFree;
  int previous = -1;  // -1: right after a clear code
  auto read = [&](std::uint32_t& code) {
    if (at + width > total_bits) return false;
    code = 0;
    for (std::uint32_t i = 0; i < width; ++i, ++at)
      code = code << 1 | ((strip[at >> 3] >> (7 - (at & 7))) & 1);
    out.codes.push_back({code, width});
    return true;
  };
  std::uint32_t code;
  if (!read(code) || code != tiff::kLzwClear) {
    out.problem = "no clear code at the start";
    return out;
  }
  for (;;) {
    if (!read(code)) {
      out.problem = "no end code";
      return out;
    }
    if (code == tiff::kLzwEnd) break;
    if (code == tiff::kLzwClear) {
      width = tiff::kLzwMinBits;
      next = tiff::kLzwFirstFree;
      previous = -1;
      continue;
    }
    if (previous < 0) {
      if (code >= tiff::kLzwClear) {
        out.problem = "bad code after clear code: " + std::to_string(code);
        return out;
      }
      out.data.push_back(std::uint8_t(code));
      previous = int(code);
      continue;
    }
    if (code > next || next >= tiff::kLzwCodes) {
      out.problem = "undefined code " + std::to_string(code) + " at next " + std::to_string(next);
      return out;
    }
    Bytes s = code == next ? table[previous] : table[code];
    if (code == next) s.push_back(table[previous][0]);
    table[next] = table[previous];
    table[next].push_back(s[0]);
    ++next;
    if ((next == 511 || next == 1023 || next == 2047) && width < tiff::kLzwMaxBits) ++width;
    out.data.insert(out.data.end(), s.begin(), s.end());
    previous = int(code);
  }
  if (total_bits - at >= 8) out.problem = "bytes after the end code";
  for (; at < total_bits; ++at)
    if ((strip[at >> 3] >> (7 - (at & 7))) & 1) out.problem = "fill bits not zero";
  return out;
}

void CheckStripFile(const Bytes& file, const StripFileWant& want) {
  using namespace tiff;
  const TiffDirectory dir = ParseDirectory(file);
  std::vector<std::uint16_t> tags, want_tags = {
      kImageWidth,   kImageLength,     kBitsPerSample, kCompression,     kPhotometricInterpretation,
      kStripOffsets, kSamplesPerPixel, kRowsPerStrip,  kStripByteCounts, kPlanarConfiguration};
  if (want.floating)
    want_tags.insert(want_tags.end(), {kSampleFormat, kSMinSampleValue, kSMaxSampleValue});
  for (const auto& e : dir.entries) tags.push_back(e.tag);
  EXPECT_EQ(tags, want_tags);
  if (tags != want_tags) return;
  EXPECT_EQ(dir.next, 0u);
  EXPECT_EQ(dir.offset + 2 + 12 * dir.entries.size() + 4, file.size());
  const struct {
    std::uint16_t tag, type;
    std::uint32_t value;
  } entries[] = {
      {kImageWidth, want.width_type, want.width},
      {kImageLength, want.height_type, want.height},
      {kBitsPerSample, kShort, want.bits},
      {kCompression, kShort, want.compression},
      {kPhotometricInterpretation, kShort, want.photometric},
      {kSamplesPerPixel, kShort, 1},
      {kRowsPerStrip, kLong, want.rows_per_strip},
      {kPlanarConfiguration, kShort, kPlanarChunky},
  };
  for (const auto& e : entries) {
    SCOPED_TRACE("tag " + std::to_string(e.tag));
    EXPECT_EQ(dir.Find(e.tag)->type, e.type);
    EXPECT_EQ(dir.Find(e.tag)->count, 1u);
    EXPECT_EQ(dir.Find(e.tag)->value, e.value);
  }
  if (want.floating) {
    EXPECT_EQ(dir.Find(kSampleFormat)->value, kSampleIEEEFloat);
    EXPECT_EQ(dir.Find(kSMinSampleValue)->type, kFloat);
    EXPECT_EQ(dir.Find(kSMaxSampleValue)->type, kFloat);
  }
  const StripTable t = Strips(file, dir);
  EXPECT_EQ(t.offsets.size(), want.strips);
  if (t.offsets.size() != want.strips) return;
  const std::size_t row_bytes = want.height == 0 ? 0 : want.rows.size() / want.height;
  std::uint32_t at = want.first_strip;
  for (std::uint32_t k = 0; k < want.strips; ++k) {
    SCOPED_TRACE("strip " + std::to_string(k));
    EXPECT_EQ(t.offsets[k], at);
    EXPECT_EQ(at % 2, 0u);
    if (std::uint64_t(at) + t.counts[k] + (t.counts[k] & 1) > file.size()) return;
    Bytes stored(file.begin() + at, file.begin() + at + t.counts[k]);
    if (want.compression == kCompressionLZW) {
      const DecodedStrip d = DecodeStrip(stored);
      EXPECT_EQ(d.problem, "");
      stored = d.data;
    }
    if (!want.rows.empty()) {
      const std::size_t first = std::size_t(k) * want.rows_per_strip * row_bytes;
      const std::size_t end = std::min(want.rows.size(), first + want.rows_per_strip * row_bytes);
      EXPECT_TRUE(first <= end && stored == Bytes(want.rows.begin() + std::ptrdiff_t(first),
                                                  want.rows.begin() + std::ptrdiff_t(end)))
          << "the strip does not hold its rows";
    }
    at += t.counts[k];
    if (t.counts[k] & 1) {
      EXPECT_EQ(file[at], 0);
      ++at;
    }
  }
  if (want.strips > 1) {
    EXPECT_EQ(dir.Find(kStripOffsets)->value, at);
    EXPECT_EQ(dir.Find(kStripByteCounts)->value, at + 4 * want.strips);
    at += 8 * want.strips;
  }
  EXPECT_EQ(dir.offset, at);
}

}  // namespace pvtest
