// The image file directory that every writer ends its file with, and the
// strip layout of the integer writer and the full floating-point writer.
//
// The directory. Every writer describes its image by one ImageTags value and
// writes it through Directory: the entries are made from it in one place, in
// ascending tag order, and the entry count is the number of entries made.
// Each entry is a 2-byte tag, a 2-byte field type, a 4-byte count and a
// 4-byte value field; a SHORT value fills the first two bytes of the field,
// two zero bytes follow.
//
//   tag                        type            value
//   ImageWidth, ImageLength    SHORT when the size fits 16 bits, else LONG
//                              (always LONG when `long_sizes`)
//   BitsPerSample              SHORT           bits
//   Compression                SHORT           none (1) or LZW (5)
//   PhotometricInterpretation  SHORT           WhiteIsZero (0) or BlackIsZero (1)
//   [ImageDescription]         ASCII, count L  L <= 4: the text and its NUL in
//                                              the field, zeros after; L > 4:
//                                              the offset of the text block
//   StripOffsets               LONG, count K   K = 1: the strip's offset;
//                                              K > 1: the array's offset
//   SamplesPerPixel            SHORT           1
//   RowsPerStrip               LONG            R
//   StripByteCounts            LONG, count K   K = 1: the strip's count;
//                                              K > 1: the array's offset
//   PlanarConfiguration        SHORT           chunky (1)
//   [SampleFormat]             SHORT           IEEE floating point (3)  } the float
//   [SMinSampleValue]          FLOAT           the minimum, as a float  } writers
//   [SMaxSampleValue]          FLOAT           the maximum, as a float  }
//
// then the next-directory offset: 0, or in a file of several pages where
// the next page begins. So a float image has 14 entries with a description
// and 13 without, an integer image 11 and 10.
//
// The strip layout (StrippedTiff): strips of about 8 KiB of row data, the
// description in front of them, the strip arrays and the directory behind
// them, the directory offset filled in last by a seek back. All numbers
// little-endian.
//
//   offset      bytes              content
//   0           2                  "II"
//   2           2                  42
//   4           4                  directory offset D, 0 until the end
//   8           L (+1 if L odd)    only when L > 4: description and NUL
//   P           counts (+1 if odd) the K strips, each padded to even length;
//                                  P = 8, or 8 + L rounded up to even
//   E           4 K                only when K > 1: StripOffsets
//   E + 4 K     4 K                only when K > 1: StripByteCounts
//   D           2 + 12 N + 4       directory; D = E + 8 K (K > 1), E (K = 1)
//
// with B bytes per row, R = 8192 / B rows per strip (1 when B > 8192) and
// K = (ny + R - 1) / R strips. A later page of a file of several pages is
// the same from offset 8 on, moved to where the page before ends: its
// description block (if any) comes first, its directory last.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "common/tiff.h"
#include "tiffwrite/tiff_out.h"

namespace pv {

// The image description as stored: the text and its NUL, L bytes.
struct Description {
  const char* text = nullptr;  // null: no description
  std::uint32_t length = 0;    // L: text length + 1, 0 without a description

  // Up to 4 bytes (8 in BigTIFF) stand in the entry itself; a longer text
  // has a block.
  bool HasBlock(bool big = false) const { return length > (big ? 8u : 4u); }
  // A caller's text as stored (null: none); nothing when no 32-bit count
  // holds its length.
  static std::optional<Description> Of(const char* text);
};

// Everything the directory says about an image.
struct ImageTags {
  std::uint32_t width = 0, height = 0;
  bool long_sizes = false;  // ImageWidth and ImageLength LONG even when they fit 16 bits
  std::uint16_t bits = 0;
  std::uint16_t compression = tiff::kCompressionNone;
  std::uint16_t photometric = tiff::kBlackIsZero;
  Description description;
  std::uint64_t description_at = 0;  // offset of the text block (L > 4)
  std::uint32_t strips = 1, rows_per_strip = 0;
  std::uint64_t strip_offsets = 0, strip_byte_counts = 0;  // the value fields
  bool big_tiff = false;  // the BigTIFF forms of the entries
  bool floating = false;  // SampleFormat and the extremes follow
  std::uint32_t min_bits = 0, max_bits = 0;  // the extremes as stored floats
};

// The file's header: byte order mark "II", 42, and the offset of the first
// directory (0 when it is filled in at the end); in BigTIFF 43, the offset
// size 8, 0, and an 8-byte offset.
void PutHeader(BufferedOut& out, std::uint64_t first_directory, bool big = false);
// Bytes of the header, and of an offset in the file.
constexpr std::uint32_t HeaderBytes(bool big) { return big ? 16 : 8; }
constexpr std::uint32_t OffsetBytes(bool big) { return big ? 8 : 4; }
inline constexpr std::uint32_t kHeaderBytes = 8;
// An offset or count: 4 bytes, 8 in BigTIFF, little-endian.
void PutOffset(BufferedOut& out, std::uint64_t value, bool big);

// BigTIFF, for a file that a classic TIFF cannot hold: the same entries,
// each of 20 bytes (a 2-byte tag and type, an 8-byte count and value
// field), an 8-byte entry count and next-directory offset, and the strip
// tables as LONG8.
class Directory {
 public:
  explicit Directory(const ImageTags& tags);
  // Its size in the file: entry count, entries, next-directory offset.
  std::uint32_t Size() const { return big_ ? 8 + 20 * count_ + 8 : 2 + 12 * count_ + 4; }
  // `next`: the offset of the next page's directory, 0 for the last page.
  void Write(BufferedOut& out, std::uint64_t next = 0) const;

 private:
  struct Entry {
    std::uint16_t tag, type;
    std::uint32_t count;
    std::uint8_t field[8];
  };
  void Add(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint64_t value);
  void AddSize(std::uint16_t tag, std::uint32_t value, bool always_long);

  static constexpr std::uint32_t kMostEntries = 14;
  Entry entries_[kMostEntries];
  std::uint32_t count_ = 0;
  bool big_ = false;
};

// The strips of an image: B, R, K.
struct StripPlan {
  std::uint64_t row_bytes = 0;       // B
  std::uint32_t rows_per_strip = 0;  // R
  std::uint32_t strips = 0;          // K
  std::uint32_t rows = 0;            // ny

  // Rows of strip k.
  std::uint32_t RowsOf(std::uint32_t k) const {
    std::uint32_t first = k * rows_per_strip;  // below ny: k < K
    std::uint32_t left = rows - first;
    return left < rows_per_strip ? left : rows_per_strip;
  }
  std::uint64_t StripBytes() const { return row_bytes * rows_per_strip; }  // a full strip
};

// B = row_bytes; ny >= 1.
StripPlan PlanStrips(std::uint64_t row_bytes, std::uint32_t ny);

// Upper bound of a strip's stored length, pad byte included, for n input
// bytes: exact for uncompressed strips, a worst case for LZW.
using StripBound = std::uint64_t (*)(std::uint64_t n);

// A page in the strip layout, written front to back; the first directory's
// offset is filled in at the end.
class StrippedTiff {
 public:
  // Refuses ("<path> : file not stored.") an image whose strips could reach
  // 2^32 bytes by `bound`, or a later page that its classic file cannot
  // hold (the first page chooses BigTIFF then); allocates the strip counts ("<path> : no
  // allocatable memory."); begins the page (the file is created for the
  // first, with its header) and writes the description block. Nothing is
  // created when it refuses. `tags` describe the image; the strip entries
  // are the layout's.
  StrippedTiff(TiffFileOut& file, const StripPlan& plan, const ImageTags& tags, StripBound bound);

  // The constructor's size check alone, for a writer that can refuse
  // before it reads the image or allocates.
  static void CheckSize(TiffFileOut& file, const StripPlan& plan, const ImageTags& tags,
                        StripBound bound);

  TiffOut& out() { return out_; }

  // Records the stored length of the next strip, written through out(), and
  // pads it to even.
  void EndStrip(std::uint32_t count);
  // Writes the next k strips from one span, each already followed by its pad
  // byte, and records their lengths.
  void PutStrips(const std::uint8_t* data, std::size_t bytes, const std::uint32_t* counts,
                 std::uint32_t k);

  // Writes the strip arrays and the directory, and ends the page (the
  // file's last: fills in the first directory's offset and closes).
  void Finish();

 private:
  TiffFileOut& file_;
  std::uint64_t base_;  // where the page's own bytes begin: behind the header, or the page before
  StripPlan plan_;
  ImageTags tags_;
  std::unique_ptr<std::uint32_t[]> counts_;
  std::uint32_t done_ = 0;  // strips ended so far
  TiffOut& out_;
};

}  // namespace pv
