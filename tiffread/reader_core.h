// The machinery shared by both TIFF readers (rif: 16-bit samples, rif_f:
// samples of any stored type, in their stored width): the file and
// its byte order, the directory lookups and what the reader accepts, the
// strip tables, and the strip phase with its sample conversion. Each entry
// point keeps its own order of directory checks and calls in here for the
// parts they share.
//
// Everything a call needs lives in objects local to that call, so nothing
// survives from one image to the next, and the file is closed on every path
// (normal return or FatalError).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/messages.h"
#include "common/tiff.h"
#include "tiffread/image.h"
#include "tiffread/input.h"
#include "tiffread/layout.h"
#include "tiffread/pages.h"

namespace pv::reader {

// ---------------------------------------------------------------------------
// What the reader accepts, tag by tag: one row per check, run by the entry
// points in the order of their directory phase (the first check that fails
// gives its message and ends the read).
//
// Forms: a *single SHORT* is an entry of type SHORT and count 1; *SHORT or
// LONG* is either type with count 1. An entry of the tag in another form
// counts as absent; the first entry of a tag in the directory is the one
// looked at.

enum class Form { kSingleShort, kShortOrLong };

// What an absent entry means: a default value, ImageLength, or a refusal
// with the rule's message.
struct WhenAbsent {
  enum How { kDefault, kImageLength, kRefused } how;
  std::uint32_t value = 0;
};
constexpr WhenAbsent Default(std::uint32_t v) { return {WhenAbsent::kDefault, v}; }
constexpr WhenAbsent kTakeImageLength{WhenAbsent::kImageLength};
constexpr WhenAbsent kRefused{WhenAbsent::kRefused};

// The values accepted: lo to hi, or one of up to six values.
struct Accepted {
  std::uint32_t lo = 0, hi = 0;
  std::uint32_t values[6] = {};
  int count = 0;  // 0: the range
  constexpr bool operator()(std::uint32_t v) const {
    if (count == 0) return v >= lo && v <= hi;
    for (int i = 0; i < count; ++i)
      if (values[i] == v) return true;
    return false;
  }
};
constexpr Accepted Between(std::uint32_t lo, std::uint32_t hi) { return {lo, hi, {}, 0}; }
template <class... V>
constexpr Accepted Values(V... v) {
  static_assert(sizeof...(V) >= 1 && sizeof...(V) <= 6);
  return {0, 0, {static_cast<std::uint32_t>(v)...}, static_cast<int>(sizeof...(V))};
}

struct TagRule {
  std::uint16_t tag;
  Form form;
  WhenAbsent absent;
  Accepted accepted;
  const char* message;  // when the value is not accepted, or absence is refused
};

namespace rule {
using namespace tiff;
constexpr Form kShort1 = Form::kSingleShort;
constexpr Form kShortOrLong = Form::kShortOrLong;
constexpr std::uint32_t kAny = 0xFFFFFFFFu;
// Deflate is read where the suite is built with its decoder.
#ifdef PV_HAVE_DEFLATE
constexpr Accepted kCompressionsRead =
    Values(kCompressionNone, kCompressionLZW, kCompressionPackBits, kCompressionDeflate, kCompressionOldDeflate);
#else
constexpr Accepted kCompressionsRead = Values(kCompressionNone, kCompressionLZW, kCompressionPackBits);
#endif
// clang-format off
//                            tag                         form          when absent                accepted values                                                otherwise
// rif_f, always:
inline constexpr TagRule
    kSampleFormat_f    {kSampleFormat,              kShort1,      Default(kSampleUnsigned),  Values(kSampleUnsigned, kSampleSigned, kSampleIEEEFloat),      msg::kUnknownSampleFormat},
    kBitsFloat         {kBitsPerSample,             kShort1,      kRefused,                  Values(16, 32, 64),                                            msg::kBadBitsPerSample},
    kBitsInt_f         {kBitsPerSample,             kShort1,      Default(1),                Between(1, 32),                                                msg::kBadBitsPerSample},
    kBitsSigned_f      {kBitsPerSample,             kShort1,      kRefused,                  Values(8, 16, 32),                                             msg::kUnknownSampleFormat},
// rif, when bits per sample or samples are requested:
    kBitsInt           {kBitsPerSample,             kShort1,      Default(1),                Between(1, 16),                                                msg::kBadBitsPerSample},
    kSampleFormatInt   {kSampleFormat,              kShort1,      Default(kSampleUnsigned),  Values(kSampleUnsigned, kSampleSigned),                        msg::kUnknownSampleFormat},
// rif, signed samples, after kBitsInt:
    kBitsSigned        {kBitsPerSample,             kShort1,      kRefused,                  Values(8, 16),                                                 msg::kUnknownSampleFormat},
// both, when sizes or samples are requested:
    kWidth             {kImageWidth,                kShortOrLong, kRefused,                  Between(1, kAny),                                              msg::kMissingImageSize},
    kLength            {kImageLength,               kShortOrLong, kRefused,                  Between(1, kAny),                                              msg::kMissingImageSize},
// both, when samples are requested:
    kCompressionMethod {kCompression,               kShort1,      Default(kCompressionNone), kCompressionsRead,                                             msg::kUnknownCompression},
    kPhotometric       {kPhotometricInterpretation, kShort1,      kRefused,                  Values(kWhiteIsZero, kBlackIsZero, kPalette, kTransparencyMask), msg::kBadPhotometric},
    kFill              {kFillOrder,                 kShort1,      Default(kFillMsbFirst),    Values(kFillMsbFirst, kFillLsbFirst),                          msg::kUnknownFillOrder},
    kSamples           {kSamplesPerPixel,           kShort1,      Default(1),                Values(1),                                                     msg::kBadSamplesPerPixel},
    kRows              {kRowsPerStrip,              kShortOrLong, kTakeImageLength,          Between(1, kAny),                                              msg::kBadRowsPerStrip},
    kPlanar            {kPlanarConfiguration,       kShort1,      Default(kPlanarChunky),    Values(kPlanarChunky, kPlanarSeparate),                        msg::kBadPlanarConfiguration},
    kDifferencing      {kPredictor,                 kShort1,      Default(kPredictorNone),   Values(kPredictorNone, kPredictorHorizontal),                  msg::kUnknownPredictor},
// rif_f, floating-point samples, in place of kDifferencing:
    kPredictorFloat    {kPredictor,                 kShort1,      Default(kPredictorNone),   Values(kPredictorNone, kPredictorHorizontal, kPredictorFloatingPoint), msg::kUnknownPredictor},
// rif_f, floating-point samples, after kPredictorFloat:
    kDifferencingFloat {kPredictor,                 kShort1,      Default(kPredictorNone),   Values(kPredictorNone, kPredictorFloatingPoint),               msg::kUnapplicablePredictor},
// both, at the block tables, when TileWidth or TileLength is there (an
// unusable tile size leaves the image with neither tiles nor strips):
    kTileSizeWidth     {kTileWidth,                 kShortOrLong, kRefused,                  Between(1, kAny),                                              msg::kMissingStripOffset},
    kTileSizeLength    {kTileLength,                kShortOrLong, kRefused,                  Between(1, kAny),                                              msg::kMissingStripOffset};
// clang-format on
}  // namespace rule

// Further rules, of forms of their own, where they are checked:
//  - ImageWidth, ImageLength: 2^31 or more gives "too large image size."
//    (after both were found);
//  - RowsPerStrip: a value above ImageLength is taken as ImageLength;
//  - ImageDescription: ASCII, any count; another type counts as absent;
//  - TileWidth, TileLength: an entry of either makes the image tiled, and
//    then both must be there (kTileSizeWidth, kTileSizeLength), where the block
//    tables are read; RowsPerStrip is checked, and then plays no part;
//  - StripOffsets, StripByteCounts: SHORT or LONG (or LONG8 in BigTIFF),
//    one value per strip;
//    absent or of another type "missing strip offset." / "missing strip
//    bytes count.", another count "bad number of strip offset." / "... bytes
//    count.";
//  - TileOffsets, TileByteCounts: likewise, one value per tile, with the
//    same messages saying "tile".

// ---------------------------------------------------------------------------

// The file being read, seen as a byte source in its own byte order.
//
// The tag lookups rescan the directory from its start (a directory may hold
// 65535 entries); the file is read through the input's windows, so they
// cost no system call per entry, and every read still fails at the same
// byte, with "unexpected end of file.".
//
// Classic TIFF and BigTIFF differ only in the sizes of their numbers: a
// directory's entry count (2 or 8 bytes), an entry (12 or 20), and its count
// and value field (4 or 8 bytes), which also hold offsets. GetCount and
// GetOffset read those by the file's form; everything else is shared. Where
// a LONG is taken, BigTIFF's LONG8, SLONG8 and IFD8 are too (values from
// 2^32 on taken as 2^32 - 1 by the rules).
//
// Pages. A file is a chain of directories, each ending with the offset of
// the next (0 at the last); page 1 is the first directory, the later pages
// are those of the chain that are neither a reduced-resolution copy nor a
// mask (NewSubfileType). SubIFDs are not followed. A chain must not cost
// more than the file holds: a directory offset seen before ends the run
// with "image file directory loop.", and so do directories whose bytes,
// added up, would exceed the file's size (no two directories of a sound
// file share a byte). The loop is found with one remembered offset (Brent's
// way: the remembered one moves on at every power of two), so a chain
// costs no memory per page.
class TiffFile {
 public:
  // Opens `path` and checks the header: byte-order mark, 42 (or 43 and the
  // offset size 8), first IFD offset; the file stands at page 1. The path
  // is not copied; it must outlive the object.
  explicit TiffFile(const char* path);

  Input& input() { return input_; }
  // The subject of the messages of the current page: the path for page 1,
  // "<path> page <k>" for a later one.
  const char* path() const { return subject_.c_str(); }
  bool big_endian() const { return big_endian_; }
  bool big_tiff() const { return big_tiff_; }

  // Moves to the next page of the chain; false at its end (the file stays
  // where it was). A directory that the file ends in the middle of ends the
  // chain, as a next offset of 0 does: only its next offset is missing.
  bool NextPage();
  // Moves straight to a page found by an earlier walk of the same file.
  void GoToPage(int page, std::uint64_t directory);
  int page() const { return page_; }
  std::uint64_t directory() const { return ifd_; }

  // The next byte of the file, untranslated ("unexpected end of file." at
  // its end).
  int GetChar() {
    const std::uint64_t at = pos_ - window_at_;
    if (pos_ >= window_at_ && at < window_.size) {
      ++pos_;
      return window_.data[at];
    }
    return FillWindow();
  }
  // Get2I/Get2M and Get4I/Get4M over GetChar, by the file's byte order.
  unsigned Get2();
  std::uint32_t Get4();
  std::uint64_t Get8();
  // An entry's count, or an offset: 4 bytes, 8 in BigTIFF.
  std::uint64_t GetCount() { return big_tiff_ ? Get8() : Get4(); }
  std::uint64_t GetOffset() { return GetCount(); }

  // The tag lookup rule: scans the current directory from its start; on
  // success the position is right after the matching entry's tag number.
  bool LookupTag(unsigned tag);
  // A value checked by its rule (the message when it is refused).
  // `image_length` serves RowsPerStrip.
  std::uint32_t TagValue(const TagRule& rule, std::uint32_t image_length = 0);
  // ImageDescription as stored (count bytes), nothing when absent or not
  // ASCII.
  std::optional<std::string> ReadDescription();
  // The StripOffsets, StripByteCounts, TileOffsets or TileByteCounts table,
  // with its own messages: SHORT or LONG values (and LONG8 in BigTIFF).
  std::vector<std::uint64_t> GetStrip(unsigned tag, std::uint64_t blocks);

 private:
  int FillWindow();
  // Whether the window holds the byte at pos_ (moving it there if needed).
  bool Available();
  unsigned Get2I();
  unsigned Get2M();
  std::uint32_t Get4I();
  std::uint32_t Get4M();
  // Bytes of an entry's value field: 4, 8 in BigTIFF.
  unsigned FieldSize() const { return big_tiff_ ? 8 : 4; }
  // Whether an entry of `type` holds an integer of up to 8 bytes where a
  // LONG is taken (LONG; LONG8, SLONG8, IFD8 in BigTIFF).
  bool IsLong(unsigned type) const;
  // The value of an entry of `type` (SHORT or IsLong), its count read: the
  // field's value, saturated at 2^32 - 1.
  std::uint32_t GetValue(unsigned type);
  // Whether the current directory is a page (not a reduced-resolution copy,
  // not a mask).
  bool IsPage();
  void Name(int page);

  Input input_;
  const char* file_path_;
  std::string subject_;
  bool big_endian_ = false;
  bool big_tiff_ = false;
  std::uint64_t ifd_ = 0;
  int page_ = 1;
  std::uint64_t chain_bytes_ = 0;   // header and the directories walked so far
  std::uint64_t remembered_ = 0;    // the loop check's remembered offset
  std::uint64_t steps_ = 0, power_ = 1;
  std::uint64_t pos_ = 0;        // file offset of the next byte
  std::uint64_t window_at_ = 0;  // file offset of window_.data[0]
  Bytes window_;
  std::unique_ptr<std::uint8_t[]> block_;  // until the file is in memory
};

// Image width and height (ImageWidth, ImageLength), with their checks, read
// only when width, height or rows are requested: stored through the
// non-null pointers and into `layout`.
void ReadImageSize(TiffFile& tif, std::int32_t* width, std::int32_t* height, bool rows,
                   StripLayout& layout);

// Steps shared by both readers once rows are requested: Compression,
// PhotometricInterpretation, FillOrder, SamplesPerPixel, RowsPerStrip,
// PlanarConfiguration and Predictor, in this order with their messages.
// `floating` refuses Predictor 2 and takes Predictor 3; integers refuse
// Predictor 3. Fills compression, fill order, rows per strip and predictor
// of `layout`.
void ReadStripTags(TiffFile& tif, bool floating, StripLayout& layout);

// The kind of the samples of a SampleFormat and width, and the type they
// are delivered as (`sixteen`: by ReadImageFile), into `layout`: one row of
// a table per kind. The format and width are already accepted.
void SetSampleForm(std::uint32_t format, int bits, bool sixteen, StripLayout& layout);

// TileWidth and TileLength, when either is there: fills tiled and the tile
// size of `layout` (an unusable size: "missing strip offset.").
void ReadTileSize(TiffFile& tif, StripLayout& layout);

// The block phase: tile size (when the image is tiled), block tables, then
// the strips or tiles decoded into `image` (compressed blocks in parallel
// when the file is a regular one, in memory or read with positioned reads,
// and has enough of them), samples unpacked, put in host order and the
// predictor undone as they are stored. Memory follows the data that the
// file can supply.
void ReadBlocks(TiffFile& tif, StripLayout& layout, StoredImage& image);

}  // namespace pv::reader
