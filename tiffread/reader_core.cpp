#include "tiffread/reader_core.h"

#include <algorithm>
#include <new>

#include "common/error.h"
#include "common/sizes.h"

namespace pv::rif_core {

namespace {

// Until the file is in memory its header and directory are read in blocks
// of this size.
constexpr std::size_t kBlock = 16 * 1024;


}  // namespace

// ---------------------------------------------------------------------------
// The file and its header.

TiffFile::TiffFile(const char* path) : input_(path) {
  block_.reset(new std::uint8_t[kBlock]);
  const int first = GetChar();
  if (first != tiff::kLittleEndian && first != tiff::kBigEndian) Error(path, msg::kBadMagicNumber);
  big_endian_ = first == tiff::kBigEndian;
  if (GetChar() != first) Error(path, msg::kBadMagicNumber);
  if (Get2() != tiff::kMagic) Error(path, msg::kBadMagicNumber);
  ifd_ = Get4();
  if (ifd_ == 0) Error(path, msg::kNoImageFileDirectory);
}

bool TiffFile::Available() {
  if (pos_ >= window_at_ && pos_ - window_at_ < window_.size) return true;
  window_ = input_.Window(pos_, block_.get(), kBlock);
  window_at_ = pos_;
  return window_.size != 0;
}

int TiffFile::FillWindow() {
  if (!Available()) Error(path(), msg::kUnexpectedEndOfFile);
  ++pos_;
  return window_.data[0];
}

// The byte-order readers: b0 is the first byte delivered.
unsigned TiffFile::Get2I() {
  const unsigned b0 = static_cast<unsigned>(GetChar());
  return b0 | static_cast<unsigned>(GetChar()) << 8;
}
unsigned TiffFile::Get2M() {
  const unsigned b0 = static_cast<unsigned>(GetChar());
  return b0 << 8 | static_cast<unsigned>(GetChar());
}
std::uint32_t TiffFile::Get4I() {
  const std::uint32_t lo = Get2I();
  return lo | std::uint32_t{Get2I()} << 16;
}
std::uint32_t TiffFile::Get4M() {
  const std::uint32_t hi = Get2M();
  return hi << 16 | Get2M();
}
unsigned TiffFile::Get2() { return big_endian_ ? Get2M() : Get2I(); }
std::uint32_t TiffFile::Get4() { return big_endian_ ? Get4M() : Get4I(); }

// ---------------------------------------------------------------------------
// Directory lookups.

bool TiffFile::LookupTag(unsigned tag) {
  pos_ = ifd_;
  const unsigned entries = Get2();
  for (unsigned i = 0; i < entries; ++i) {
    if (Get2() == tag) return true;
    pos_ += 10;  // type, count and value field of an entry we do not want
  }
  return false;
}

std::uint32_t TiffFile::TagValue(const TagRule& rule, std::uint32_t image_length) {
  // The reads stop where the entry's form is settled: a single SHORT lookup
  // reads no count after a type other than SHORT.
  std::optional<std::uint32_t> value;
  if (LookupTag(rule.tag)) {
    const unsigned type = Get2();
    if (rule.form == Form::kSingleShort) {
      if (type == tiff::kShort && Get4() == 1) value = Get2();
    } else if (Get4() == 1) {
      if (type == tiff::kShort) value = Get2();
      else if (type == tiff::kLong) value = Get4();
    }
  }
  if (!value) {
    switch (rule.absent.how) {
      case WhenAbsent::kRefused: Error(path(), rule.message);
      case WhenAbsent::kDefault: return rule.absent.value;
      case WhenAbsent::kImageLength: return image_length;
    }
  }
  if (!rule.accepted(*value)) Error(path(), rule.message);
  return *value;
}

std::optional<std::string> TiffFile::ReadDescription() {
  if (!LookupTag(tiff::kImageDescription) || Get2() != tiff::kAscii) return std::nullopt;
  const std::uint32_t n = Get4();
  if (n > 4) pos_ = Get4();  // longer texts lie elsewhere; up to 4 bytes in the entry
  // The text and its NUL take n + 1 bytes, which a 32-bit size cannot hold
  // for the largest count.
  if constexpr (sizeof(std::size_t) <= sizeof(std::uint32_t)) {
    if (n == UINT32_MAX) Error(path(), msg::kNoMemoryForDescription);
  }
  // The text grows as its bytes are read, so a count far beyond the file's
  // end costs no memory: it ends in msg::kMissingDescription as soon
  // as the file runs out.
  std::string text;
  try {
    text.reserve(std::min<std::size_t>(n, kBlock));
    while (text.size() < n && Available()) {
      const std::size_t at = static_cast<std::size_t>(pos_ - window_at_);
      const std::size_t k = std::min<std::size_t>(window_.size - at, n - text.size());
      text.append(reinterpret_cast<const char*>(window_.data + at), k);
      pos_ += k;
    }
  } catch (const std::bad_alloc&) {
    Error(path(), msg::kNoMemoryForDescription);
  }
  if (text.size() < n) Error(path(), msg::kMissingDescription);
  return text;
}

std::vector<std::uint32_t> TiffFile::GetStrip(unsigned tag, std::uint32_t strips) {
  const bool offsets = tag == tiff::kStripOffsets;
  const char* no_memory = offsets ? msg::kNoMemoryForStripOffset : msg::kNoMemoryForStripBytesCount;
  const char* missing = offsets ? msg::kMissingStripOffset : msg::kMissingStripBytesCount;
  if (!MulSize(strips, sizeof(std::uint32_t))) Error(path(), no_memory);
  // A tiled image is not a striped one, whatever its StripOffsets say.
  if (tag == tiff::kStripOffsets &&
      (LookupTag(tiff::kTileWidth) || LookupTag(tiff::kTileLength)))
    Error(path(), missing);
  // The table grows as its values are read: a count that the file cannot
  // back ends at the file's end, not in a huge allocation.
  std::vector<std::uint32_t> table;
  try {
    table.reserve(std::min<std::uint32_t>(strips, 1u << 16));
    if (!LookupTag(tag)) Error(path(), missing);
    const unsigned type = Get2();
    if (type != tiff::kShort && type != tiff::kLong) Error(path(), missing);
    if (Get4() != strips) Error(path(), offsets ? msg::kBadNumberOfStripOffset : msg::kBadNumberOfStripBytesCount);
    // Up to 4 bytes of values lie in the entry itself; more lie elsewhere.
    if (type == tiff::kShort) {
      if (strips > 2) pos_ = Get4();
      for (std::uint32_t i = 0; i < strips; ++i) table.push_back(Get2());
    } else {
      if (strips > 1) pos_ = Get4();
      for (std::uint32_t i = 0; i < strips; ++i) table.push_back(Get4());
    }
  } catch (const std::bad_alloc&) {
    Error(path(), no_memory);
  }
  return table;
}

// ---------------------------------------------------------------------------
// Directory checks shared by both readers.

void ReadImageSize(TiffFile& tif, std::int32_t* width, std::int32_t* height, bool rows,
                   StripLayout& layout) {
  if (width == nullptr && height == nullptr && !rows) return;
  const std::uint32_t w = tif.TagValue(rule::kWidth);
  const std::uint32_t h = tif.TagValue(rule::kLength);
  if ((w | h) & 0x80000000u) Error(tif.path(), msg::kTooLargeImageSize);
  if (width != nullptr) *width = static_cast<std::int32_t>(w);
  if (height != nullptr) *height = static_cast<std::int32_t>(h);
  layout.width = w;
  layout.height = h;
}

void ReadStripTags(TiffFile& tif, bool floating, StripLayout& layout) {
  switch (tif.TagValue(rule::kCompressionMethod)) {
    case tiff::kCompressionLZW: layout.compression = Compression::kLZW; break;
    case tiff::kCompressionPackBits: layout.compression = Compression::kPackBits; break;
    default: layout.compression = Compression::kNone; break;
  }
  // WhiteIsZero, BlackIsZero, Palette and transparency mask are accepted;
  // samples are delivered as stored either way.
  tif.TagValue(rule::kPhotometric);
  layout.reverse_fill = tif.TagValue(rule::kFill) == tiff::kFillLsbFirst;
  tif.TagValue(rule::kSamples);
  layout.rows_per_strip = std::min(tif.TagValue(rule::kRows, layout.height), layout.height);
  tif.TagValue(rule::kPlanar);
  layout.differencing = tif.TagValue(rule::kDifferencing) == tiff::kPredictorHorizontal;
  if (floating) tif.TagValue(rule::kDifferencingFloat);
}

}  // namespace pv::rif_core
