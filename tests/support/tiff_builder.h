// Crafted TIFF files for tests: a header, strips and image file
// directories, byte by byte, in either byte order. Entries are written in the
// order they are added (unsorted directories are allowed), so a test can
// build exactly the file it needs, valid or not.
//
// Layout of a built file: the 8-byte header, then each directory's strips
// in order, its out-of-line entry values and the directory itself, whose
// next-IFD offset is that of the next directory (0 for the last, or a
// directory named by LoopTo).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/tiff.h"
#include "tests/support/files.h"

namespace pvtest {

class TiffBuilder {
 public:
  enum Type : std::uint16_t {
    kByte = pv::tiff::kByte, kAscii = pv::tiff::kAscii, kShort = pv::tiff::kShort,
    kLong = pv::tiff::kLong, kUndefined = 7  // UNDEFINED: none of the suite's types
  };

  explicit TiffBuilder(bool big_endian = false) : big_(big_endian) {}

  // A single SHORT or LONG.
  TiffBuilder& Short(std::uint16_t tag, std::uint16_t v) { return Shorts(tag, {v}); }
  TiffBuilder& Long(std::uint16_t tag, std::uint32_t v) { return Longs(tag, {v}); }
  // Arrays: in the value field when they fit in 4 bytes, else out of line.
  TiffBuilder& Shorts(std::uint16_t tag, const std::vector<std::uint16_t>& v) {
    Bytes d;
    for (auto x : v) Put2(d, x);
    return Data(tag, kShort, static_cast<std::uint32_t>(v.size()), d);
  }
  TiffBuilder& Longs(std::uint16_t tag, const std::vector<std::uint32_t>& v) {
    Bytes d;
    for (auto x : v) Put4(d, x);
    return Data(tag, kLong, static_cast<std::uint32_t>(v.size()), d);
  }
  // ASCII with exactly these bytes as its count (add the NUL yourself).
  TiffBuilder& Ascii(std::uint16_t tag, const std::string& bytes) {
    return Data(tag, kAscii, static_cast<std::uint32_t>(bytes.size()),
                Bytes(bytes.begin(), bytes.end()));
  }
  // Any type and count with these value bytes (in the value field when they
  // fit in 4 bytes, else out of line).
  TiffBuilder& Data(std::uint16_t tag, std::uint16_t type, std::uint32_t count, Bytes data) {
    entries_.push_back({tag, type, count, std::move(data), false, 0, Strips::kNone});
    return *this;
  }
  // An entry whose value field is exactly `field` (4 bytes in file order,
  // as a LONG would be), whatever its type and count claim.
  TiffBuilder& Raw(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t field) {
    entries_.push_back({tag, type, count, {}, true, field, Strips::kNone});
    return *this;
  }

  // Appends a strip's stored bytes.
  TiffBuilder& Strip(Bytes data) {
    strips_.push_back(std::move(data));
    return *this;
  }

  // Ends the current directory: what is added from now on goes to the next.
  TiffBuilder& NextDirectory() {
    done_.push_back({std::move(entries_), std::move(strips_)});
    entries_.clear();
    strips_.clear();
    return *this;
  }
  // The last directory's next-IFD offset names directory k (from 0).
  TiffBuilder& LoopTo(std::size_t k) {
    loop_ = k;
    return *this;
  }
  // StripOffsets and StripByteCounts of the strips added (at Build time),
  // as SHORT or LONG arrays.
  TiffBuilder& StripOffsets(Type type = kLong) {
    entries_.push_back({pv::tiff::kStripOffsets, type, 0, {}, false, 0, Strips::kOffsets});
    return *this;
  }
  TiffBuilder& StripByteCounts(Type type = kLong) {
    entries_.push_back({pv::tiff::kStripByteCounts, type, 0, {}, false, 0, Strips::kCounts});
    return *this;
  }
  TiffBuilder& StripTables(Type type = kLong) { return StripOffsets(type).StripByteCounts(type); }
  // TileOffsets and TileByteCounts of the blocks added (as strips), with
  // TileWidth and TileLength.
  TiffBuilder& TileTables(std::uint32_t tile_width, std::uint32_t tile_length, Type type = kLong) {
    Long(pv::tiff::kTileWidth, tile_width).Long(pv::tiff::kTileLength, tile_length);
    entries_.push_back({pv::tiff::kTileOffsets, type, 0, {}, false, 0, Strips::kOffsets});
    entries_.push_back({pv::tiff::kTileByteCounts, type, 0, {}, false, 0, Strips::kCounts});
    return *this;
  }

  // The usual grey-image entries: size, bits, BlackIsZero, and the strip
  // tables of the strips added.
  TiffBuilder& Grey(std::uint32_t width, std::uint32_t height, std::uint16_t bits) {
    using namespace pv::tiff;
    Long(kImageWidth, width).Long(kImageLength, height).Short(kBitsPerSample, bits);
    Short(kPhotometricInterpretation, kBlackIsZero);
    return StripTables();
  }

  Bytes Build() const {
    Bytes f;
    const std::uint8_t order = big_ ? pv::tiff::kBigEndian : pv::tiff::kLittleEndian;
    f.push_back(order);
    f.push_back(order);
    Put2(f, pv::tiff::kMagic);
    Put4(f, 0);  // IFD offset, filled in below
    std::vector<std::size_t> directories, links = {4};
    for (const Directory& d : done_) BuildDirectory(f, d, directories, links);
    // A directory ended by NextDirectory with nothing after it is the last.
    if (done_.empty() || !entries_.empty() || !strips_.empty())
      BuildDirectory(f, {entries_, strips_}, directories, links);
    for (std::size_t k = 0; k < directories.size(); ++k) Patch4(f, links[k], std::uint32_t(directories[k]));
    if (loop_ < directories.size()) Patch4(f, links.back(), std::uint32_t(directories[loop_]));
    return f;
  }

  void Put2(Bytes& b, std::uint16_t v) const {
    if (big_) {
      b.push_back(static_cast<std::uint8_t>(v >> 8));
      b.push_back(static_cast<std::uint8_t>(v));
    } else {
      b.push_back(static_cast<std::uint8_t>(v));
      b.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  }
  void Put4(Bytes& b, std::uint32_t v) const {
    if (big_) {
      Put2(b, static_cast<std::uint16_t>(v >> 16));
      Put2(b, static_cast<std::uint16_t>(v));
    } else {
      Put2(b, static_cast<std::uint16_t>(v));
      Put2(b, static_cast<std::uint16_t>(v >> 16));
    }
  }

 private:
  enum class Strips { kNone, kOffsets, kCounts };
  struct Entry {
    std::uint16_t tag, type;
    std::uint32_t count;
    Bytes data;
    bool raw;
    std::uint32_t field;
    Strips strips;
  };
  struct Directory {
    std::vector<Entry> entries;
    std::vector<Bytes> strips;
  };

  void Patch4(Bytes& f, std::size_t at, std::uint32_t v) const {
    Bytes b;
    Put4(b, v);
    std::copy(b.begin(), b.end(), f.begin() + static_cast<std::ptrdiff_t>(at));
  }

  // Appends a directory with its strips and values; records its offset and
  // where its next-IFD offset lies.
  void BuildDirectory(Bytes& f, const Directory& d, std::vector<std::size_t>& directories,
                      std::vector<std::size_t>& links) const {
    std::vector<std::uint32_t> offsets, counts;
    for (const Bytes& s : d.strips) {
      offsets.push_back(static_cast<std::uint32_t>(f.size()));
      counts.push_back(static_cast<std::uint32_t>(s.size()));
      f.insert(f.end(), s.begin(), s.end());
    }
    struct Out {
      std::uint16_t tag, type;
      std::uint32_t count;
      Bytes field;  // 4 bytes
    };
    std::vector<Out> out;
    for (const Entry& e : d.entries) {
      Out o{e.tag, e.type, e.count, {}};
      if (e.raw) {
        Put4(o.field, e.field);
      } else {
        Bytes data = e.data;
        if (e.strips != Strips::kNone) {
          const auto& v = e.strips == Strips::kOffsets ? offsets : counts;
          o.count = static_cast<std::uint32_t>(v.size());
          data.clear();
          for (auto x : v) {
            if (e.type == kShort) Put2(data, static_cast<std::uint16_t>(x));
            else Put4(data, x);
          }
        }
        if (data.size() <= 4) {
          o.field = data;
          o.field.resize(4, 0);
        } else {
          if (f.size() % 2) f.push_back(0);
          Put4(o.field, static_cast<std::uint32_t>(f.size()));
          f.insert(f.end(), data.begin(), data.end());
        }
      }
      out.push_back(std::move(o));
    }
    if (f.size() % 2) f.push_back(0);
    directories.push_back(f.size());
    Put2(f, static_cast<std::uint16_t>(out.size()));
    for (const Out& o : out) {
      Put2(f, o.tag);
      Put2(f, o.type);
      Put4(f, o.count);
      f.insert(f.end(), o.field.begin(), o.field.end());
    }
    links.push_back(f.size());
    Put4(f, 0);
  }

  bool big_;
  std::vector<Entry> entries_;
  std::vector<Bytes> strips_;
  std::vector<Directory> done_;
  std::size_t loop_ = SIZE_MAX;
};

// Packs LZW codes most significant bit first, as a TIFF strip stores them.
class CodePacker {
 public:
  CodePacker& Put(unsigned code, int width) {
    for (int i = width - 1; i >= 0; --i) {
      acc_ = acc_ << 1 | ((code >> i) & 1u);
      if (++n_ == 8) {
        bytes_.push_back(static_cast<std::uint8_t>(acc_));
        acc_ = 0;
        n_ = 0;
      }
    }
    return *this;
  }
  // The bytes, the last one padded with zero bits.
  Bytes Done() const {
    Bytes b = bytes_;
    if (n_ > 0) b.push_back(static_cast<std::uint8_t>(acc_ << (8 - n_)));
    return b;
  }

 private:
  Bytes bytes_;
  unsigned acc_ = 0;
  int n_ = 0;
};

// LZW codes as a writer emits them: each code at the width the decoder
// expects at that point (9 bits, then 10, 11, 12 once entries 510, 1022,
// 2046 are defined). A clear code resets the width; the end code goes out
// at the current width, or at `end_width` when given.
inline Bytes LzwCodes(const std::vector<unsigned>& codes, int end_width = 0) {
  CodePacker p;
  int width = pv::tiff::kLzwMinBits;
  unsigned next = pv::tiff::kLzwFirstFree;
  bool first = true;
  for (unsigned c : codes) {
    p.Put(c, c == pv::tiff::kLzwEnd && end_width ? end_width : width);
    if (c == pv::tiff::kLzwClear) {
      width = pv::tiff::kLzwMinBits;
      first = true;
    } else if (c == pv::tiff::kLzwEnd) {
    } else if (first) {
      first = false;
      next = pv::tiff::kLzwFirstFree;
    } else {
      ++next;
      if (next == (1u << width) - 1 && width < int(pv::tiff::kLzwMaxBits)) ++width;
    }
  }
  return p.Done();
}

// A zlib stream that stores `data` in one uncompressed Deflate block: the
// header (no dictionary, 32 KiB window), the block (final, stored: its
// length and the length's complement, low byte first), then the Adler-32
// checksum of the data, high byte first.
inline Bytes ZlibStored(const Bytes& data) {
  Bytes z{0x78, 0x01, 0x01};
  const auto n = static_cast<std::uint16_t>(data.size());
  for (std::uint16_t v : {n, static_cast<std::uint16_t>(~n)}) {
    z.push_back(static_cast<std::uint8_t>(v));
    z.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  z.insert(z.end(), data.begin(), data.end());
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t x : data) {
    a = (a + x) % 65521;
    b = (b + a) % 65521;
  }
  const std::uint32_t adler = b << 16 | a;
  for (int shift = 24; shift >= 0; shift -= 8) z.push_back(static_cast<std::uint8_t>(adler >> shift));
  return z;
}

}  // namespace pvtest
