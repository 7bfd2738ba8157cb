#include "tests/quant/lzw_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "tiffwrite/lzw_encode.h"

namespace pvtest {

DecodedStrip DecodeStrip(const Bytes& strip) {
  DecodedStrip out;
  std::vector<Bytes> table(4096);
  for (int i = 0; i < 256; ++i) table[i] = Bytes{std::uint8_t(i)};
  const std::uint64_t total_bits = 8 * std::uint64_t(strip.size());
  std::uint64_t at = 0;
  std::uint32_t width = 9, next = 258;
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
  if (!read(code) || code != 256) {
    out.problem = "no clear code at the start";
    return out;
  }
  for (;;) {
    if (!read(code)) {
      out.problem = "no end code";
      return out;
    }
    if (code == 257) break;
    if (code == 256) {
      width = 9;
      next = 258;
      previous = -1;
      continue;
    }
    if (previous < 0) {
      if (code > 255) {
        out.problem = "bad code after clear code: " + std::to_string(code);
        return out;
      }
      out.data.push_back(std::uint8_t(code));
      previous = int(code);
      continue;
    }
    if (code > next || next >= 4096) {
      out.problem = "undefined code " + std::to_string(code) + " at next " + std::to_string(next);
      return out;
    }
    Bytes s = code == next ? table[previous] : table[code];
    if (code == next) s.push_back(table[previous][0]);
    table[next] = table[previous];
    table[next].push_back(s[0]);
    ++next;
    if ((next == 511 || next == 1023 || next == 2047) && width < 12) ++width;
    out.data.insert(out.data.end(), s.begin(), s.end());
    previous = int(code);
  }
  if (total_bits - at >= 8) out.problem = "bytes after the end code";
  for (; at < total_bits; ++at)
    if ((strip[at >> 3] >> (7 - (at & 7))) & 1) out.problem = "fill bits not zero";
  return out;
}

Bytes EncodeStrip(const Bytes& input, std::size_t piece) {
  static pv::LzwEncoder encoder;  // its table is reused across calls
  // The room the writers give a strip, and a guard behind it that the
  // encoder must leave alone.
  const std::size_t room = pv::LzwEncoder::WorstCaseBytes(input.size()) + pv::LzwEncoder::kSlack;
  Bytes out(room + 64, 0xA5);
  encoder.InitLZWEncode(out.data());
  if (piece == 0) {
    for (std::uint8_t b : input) encoder.Encode(b);
  } else {
    for (std::size_t i = 0; i < input.size(); i += piece)
      encoder.EncodeBlock(input.data() + i, std::min(piece, input.size() - i));
  }
  const std::size_t count = encoder.TermLZWEncode();
  for (std::size_t i = room; i < out.size(); ++i)
    if (out[i] != 0xA5) return {};  // written beyond the room
  if (count > room - pv::LzwEncoder::kSlack) return {};
  out.resize(count);
  return out;
}

Bytes WrapStrip(const Bytes& strip, std::uint32_t width, std::uint32_t height) {
  Bytes f = {'I', 'I', 42, 0};
  auto put2 = [&](std::uint32_t v) {
    f.push_back(std::uint8_t(v));
    f.push_back(std::uint8_t(v >> 8));
  };
  auto put4 = [&](std::uint32_t v) {
    put2(v & 0xFFFF);
    put2(v >> 16);
  };
  const std::uint32_t directory = 8 + std::uint32_t(strip.size() + (strip.size() & 1));
  put4(directory);
  f.insert(f.end(), strip.begin(), strip.end());
  if (strip.size() & 1) f.push_back(0);
  const std::uint32_t entries[][3] = {{256, 4, width}, {257, 4, height}, {258, 3, 8},
                                      {259, 3, 5},     {262, 3, 1},      {273, 4, 8},
                                      {277, 3, 1},     {278, 4, height}, {279, 4, 0}};
  put2(9);
  for (const auto& e : entries) {
    put2(e[0]);
    put2(e[1]);
    put4(1);
    put4(e[0] == 279 ? std::uint32_t(strip.size()) : e[2]);
  }
  put4(0);
  return f;
}

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

}  // namespace pvtest

namespace pvtest {

const TiffEntry* TiffDirectory::Find(std::uint16_t tag) const {
  for (const auto& e : entries)
    if (e.tag == tag) return &e;
  return nullptr;
}

TiffDirectory ParseDirectory(const Bytes& file) {
  TiffDirectory d;
  if (file.size() < 8 || file[0] != 'I' || file[1] != 'I' || Le16(file, 2) != 42) return d;
  d.offset = Le32(file, 4);
  if (std::uint64_t(d.offset) + 2 > file.size()) return d;
  const std::uint32_t n = Le16(file, d.offset);
  if (std::uint64_t(d.offset) + 2 + 12 * n + 4 > file.size()) return d;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::size_t at = d.offset + 2 + 12 * i;
    d.entries.push_back({Le16(file, at), Le16(file, at + 2), Le32(file, at + 4), Le32(file, at + 8)});
  }
  d.next = Le32(file, d.offset + 2 + 12 * n);
  return d;
}

StripTable Strips(const Bytes& file, const TiffDirectory& dir) {
  StripTable t;
  const TiffEntry* off = dir.Find(273);
  const TiffEntry* cnt = dir.Find(279);
  if (off == nullptr || cnt == nullptr || off->count != cnt->count) return t;
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

StripFile CheckStripFile(const Bytes& file, const StripFileWant& want) {
  StripFile out;
  out.dir = ParseDirectory(file);
  const TiffDirectory& dir = out.dir;
  std::vector<std::uint16_t> tags, want_tags = {256, 257, 258, 259, 262, 273, 277, 278, 279, 284};
  if (want.description) want_tags.insert(want_tags.begin() + 5, 270);
  if (want.floating) want_tags.insert(want_tags.end(), {339, 340, 341});
  for (const auto& e : dir.entries) tags.push_back(e.tag);
  EXPECT_EQ(tags, want_tags);
  if (tags != want_tags) return out;
  EXPECT_EQ(dir.next, 0u);
  EXPECT_EQ(dir.offset + 2 + 12 * dir.entries.size() + 4, file.size());
  const struct {
    std::uint16_t tag, type;
    std::uint32_t value;
  } entries[] = {
      {256, want.width_type, want.width},      {257, want.height_type, want.height},
      {258, 3, want.bits},                     {259, 3, want.compression},
      {262, 3, want.photometric},              {277, 3, 1},
      {278, 4, want.rows_per_strip},           {284, 3, 1},
  };
  for (const auto& e : entries) {
    SCOPED_TRACE("tag " + std::to_string(e.tag));
    EXPECT_EQ(dir.Find(e.tag)->type, e.type);
    EXPECT_EQ(dir.Find(e.tag)->count, 1u);
    EXPECT_EQ(dir.Find(e.tag)->value, e.value);
  }
  if (want.floating) {
    EXPECT_EQ(dir.Find(339)->value, 3u);
    EXPECT_EQ(dir.Find(340)->type, 11);
    EXPECT_EQ(dir.Find(341)->type, 11);
  }

  const StripTable t = Strips(file, dir);
  EXPECT_EQ(t.offsets.size(), want.strips);
  if (t.offsets.size() != want.strips) return out;
  std::uint32_t at = want.first_strip;
  for (std::uint32_t k = 0; k < want.strips; ++k) {
    SCOPED_TRACE("strip " + std::to_string(k));
    EXPECT_EQ(t.offsets[k], at);
    EXPECT_EQ(at % 2, 0u);
    if (std::uint64_t(at) + t.counts[k] + (t.counts[k] & 1) > file.size()) return out;
    Bytes stored(file.begin() + at, file.begin() + at + t.counts[k]);
    if (want.compression == 5) {
      const DecodedStrip d = DecodeStrip(stored);
      EXPECT_EQ(d.problem, "");
      stored = d.data;
    }
    out.strips.push_back(std::move(stored));
    at += t.counts[k];
    if (t.counts[k] & 1) {
      EXPECT_EQ(file[at], 0);
      ++at;
    }
  }
  if (want.strips > 1) {
    EXPECT_EQ(dir.Find(273)->value, at);
    EXPECT_EQ(dir.Find(279)->value, at + 4 * want.strips);
    at += 8 * want.strips;
  }
  EXPECT_EQ(dir.offset, at);
  return out;
}

}  // namespace pvtest
