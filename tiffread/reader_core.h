// The machinery shared by both TIFF readers (rif: rows of unsigned 16-bit
// samples, rif_f: rows of doubles): the file and its byte order, the
// directory lookups, the strip tables, the three strip decoders and the
// strip loop with its sample conversion. Each entry point keeps its own
// order of directory checks and calls in here for the parts they share.
//
// Everything a call needs lives in objects local to that call, so nothing
// survives from one image to the next, and the open file is closed on every
// path (normal return or FatalError).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tiffread/row_table.h"

namespace pv::rif_core {

// The file being read, seen as a byte source in its own byte order.
//
// Directory data is read through a window of the file kept in memory, so
// the tag lookups (each rescans the directory from its start, and a
// directory may hold 65535 entries) cost no system call per entry. The
// window only changes how bytes are fetched: every read that the directory
// phase makes still fails at the same byte, with "unexpected end of file.".
class TiffFile {
 public:
  // Opens `path` and checks the header: byte-order mark, 42, first IFD
  // offset. The path is not copied; it must outlive the object.
  explicit TiffFile(const char* path);
  ~TiffFile();
  TiffFile(const TiffFile&) = delete;
  TiffFile& operator=(const TiffFile&) = delete;

  const char* path() const { return path_; }
  bool big_endian() const { return big_endian_; }
  std::uint32_t ifd() const { return ifd_; }
  std::FILE* file() const { return file_; }

  // "<path> : <message>\n" as a FatalError; never returns.
  [[noreturn]] void Error(const std::string& message) const;
  // "<path> : <message> (warning).\n" on standard error, at once.
  void Warning(const std::string& message) const;

  // The next byte of the file, untranslated ("unexpected end of file." at
  // its end).
  int GetChar() {
    const std::uint64_t at = pos_ - window_start_;
    if (pos_ >= window_start_ && at < window_len_) {
      ++pos_;
      return window_[at];
    }
    return FillWindow();
  }
  // Get2I/Get2M and Get4I/Get4M over GetChar, by the file's byte order.
  unsigned Get2();
  std::uint32_t Get4();

  void Seek(std::uint64_t offset) { pos_ = offset; }
  void Skip(std::uint64_t n) { pos_ += n; }

  // The tag lookup rule: scans the first IFD from its start; on success the
  // position is right after the matching entry's tag number.
  bool LookupTag(unsigned tag);
  // Value of a SHORT or LONG entry of count 1, else `fallback`.
  std::uint32_t GetIFD4(unsigned tag, std::uint32_t fallback);
  // Value of a single SHORT entry (type 3, count 1); nothing when the tag
  // is absent or has another type or count.
  std::optional<unsigned> GetShort(unsigned tag);
  // ImageDescription as stored (count bytes), nothing when absent or not
  // ASCII.
  std::optional<std::string> ReadDescription();
  // The StripOffsets or StripByteCounts table; `name` serves the messages.
  std::vector<std::uint32_t> GetStrip(unsigned tag, std::uint32_t strips, const char* name);

 private:
  int FillWindow();
  unsigned Get2I();
  unsigned Get2M();
  std::uint32_t Get4I();
  std::uint32_t Get4M();

  const char* path_;
  std::FILE* file_ = nullptr;
  bool big_endian_ = false;
  std::uint32_t ifd_ = 0;
  std::uint64_t pos_ = 0;           // file offset of the next byte
  std::uint64_t window_start_ = 0;  // file offset of window_[0]
  std::size_t window_len_ = 0;
  std::unique_ptr<std::uint8_t[]> window_;
};

enum class Compression { kNone, kLZW, kPackBits };

// How samples are stored, settled by the entry point.
enum class SampleKind { kInt8, kInt16, kInt32, kPacked, kFloat32, kFloat64 };

// What the directory phase hands to the strip phase.
struct StripLayout {
  std::uint32_t width = 0, height = 0;
  int bits = 1;
  SampleKind kind = SampleKind::kPacked;
  Compression compression = Compression::kNone;
  bool reverse_fill = false;  // FillOrder 2
  std::uint32_t rows_per_strip = 1;
  bool differencing = false;  // Predictor 2
};

// Image width and height (ImageWidth, ImageLength), with their checks, read
// only when width, height or rows are requested: stored through the
// non-null pointers and into `layout`.
void ReadImageSize(TiffFile& tif, std::int32_t* width, std::int32_t* height, bool rows,
                   StripLayout& layout);

// Steps shared by both readers once rows are requested: Compression,
// PhotometricInterpretation, FillOrder, SamplesPerPixel, RowsPerStrip,
// PlanarConfiguration and Predictor, in this order with their messages.
// `floating` refuses Predictor 2. Fills compression, fill order, rows per
// strip and differencing of `layout`.
void ReadStripTags(TiffFile& tif, bool floating, StripLayout& layout);

// The strip phase: strip tables, decoding strip by strip, sample
// unpacking, differencing and widening. Rows are allocated as they are
// decoded, so memory follows the data the file actually supplies.
void ReadStrips(TiffFile& tif, const StripLayout& layout, RowTable<std::uint16_t>& rows);
void ReadStrips(TiffFile& tif, const StripLayout& layout, RowTable<double>& rows);

}  // namespace pv::rif_core
