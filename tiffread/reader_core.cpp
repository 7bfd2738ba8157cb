#include "tiffread/reader_core.h"

#include <algorithm>
#include <new>
#include <string>

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

TiffFile::TiffFile(const char* path) : input_(path), file_path_(path), subject_(path) {
  block_.reset(new std::uint8_t[kBlock]);
  const int first = GetChar();
  if (first != tiff::kLittleEndian && first != tiff::kBigEndian) Error(path, msg::kBadMagicNumber);
  big_endian_ = first == tiff::kBigEndian;
  if (GetChar() != first) Error(path, msg::kBadMagicNumber);
  const unsigned version = Get2();
  if (version == tiff::kBigMagic) {
    if (Get2() != tiff::kBigOffsetSize || Get2() != 0) Error(path, msg::kBadMagicNumber);
    big_tiff_ = true;
  } else if (version != tiff::kMagic) {
    Error(path, msg::kBadMagicNumber);
  }
  ifd_ = GetOffset();
  if (ifd_ == 0) Error(path, msg::kNoImageFileDirectory);
  chain_bytes_ = pos_;  // the header
  remembered_ = ifd_;
}

// ---------------------------------------------------------------------------
// The chain of directories.

void TiffFile::Name(int page) {
  page_ = page;
  subject_ = file_path_;
  if (page > 1) subject_.append(" ").append(msg::kPage).append(" ").append(std::to_string(page));
  input_.Rename(subject_.c_str());
}

void TiffFile::GoToPage(int page, std::uint64_t directory) {
  ifd_ = directory;
  Name(page);
  // The file's other pages are read by other readers: none of them reads
  // the whole file (a mapping costs only what is read).
  input_.LoadMappedOnly();
}

bool TiffFile::IsPage() {
  if (!LookupTag(tiff::kNewSubfileType)) return true;
  const unsigned type = Get2();
  if ((type != tiff::kShort && !IsLong(type)) || GetCount() != 1) return true;
  return (GetValue(type) & (tiff::kSubfileReduced | tiff::kSubfileMask)) == 0;
}

bool TiffFile::NextPage() {
  const std::uint64_t entry = big_tiff_ ? 20 : 12;
  const std::uint64_t smallest = big_tiff_ ? 16 : 6;  // a directory of no entry
  std::uint64_t at = ifd_;
  for (;;) {
    // The current directory's next offset, behind its entries.
    pos_ = at;
    const std::uint64_t n = big_tiff_ ? Get8() : Get2();
    const std::uint64_t header = big_tiff_ ? 8 : 2;
    if (n > (UINT64_MAX - at - header - 8) / entry) return false;
    const std::uint64_t bytes = header + n * entry + FieldSize();
    if (input_.regular() && bytes > input_.size() - std::min(at, input_.size())) return false;
    pos_ = at + header + n * entry;
    const std::uint64_t next = GetOffset();
    if (next == 0) return false;
    // The walk so far, and the loop check.
    chain_bytes_ += bytes;
    if (next == remembered_ || page_ == INT32_MAX ||
        (input_.regular() && chain_bytes_ + smallest > input_.size()))
      Error(file_path_, msg::kDirectoryLoop);
    if (++steps_ == power_) {
      remembered_ = next;
      power_ *= 2;
      steps_ = 0;
    }
    at = next;
    ifd_ = next;
    Name(page_ + 1);
    if (IsPage()) return true;
    // Not a page: the walk goes on, still named after the page to come.
    Name(page_ - 1);
  }
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
std::uint64_t TiffFile::Get8() {
  const std::uint64_t first = Get4();
  const std::uint64_t second = Get4();
  return big_endian_ ? first << 32 | second : second << 32 | first;
}

bool TiffFile::IsLong(unsigned type) const {
  return type == tiff::kLong ||
         (big_tiff_ && (type == tiff::kLong8 || type == tiff::kSLong8 || type == tiff::kIfd8));
}

std::uint32_t TiffFile::GetValue(unsigned type) {
  if (type == tiff::kShort) return Get2();
  if (type == tiff::kLong) return Get4();
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(Get8(), UINT32_MAX));
}

// ---------------------------------------------------------------------------
// Directory lookups.

bool TiffFile::LookupTag(unsigned tag) {
  pos_ = ifd_;
  const std::uint64_t entries = big_tiff_ ? Get8() : Get2();
  // A BigTIFF count is not bounded by its form: one that the file cannot
  // hold ends the read at once, not after a scan to the file's end.
  if (big_tiff_ && input_.regular() &&
      entries > (input_.size() - std::min(pos_, input_.size())) / 20)
    Error(path(), msg::kUnexpectedEndOfFile);
  const unsigned rest = 2 + 2 * FieldSize();  // type, count and value field
  for (std::uint64_t i = 0; i < entries; ++i) {
    if (Get2() == tag) return true;
    pos_ += rest;  // of an entry we do not want
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
      if (type == tiff::kShort && GetCount() == 1) value = Get2();
    } else if (GetCount() == 1) {
      if (type == tiff::kShort || IsLong(type)) value = GetValue(type);
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
  const std::uint64_t n = GetCount();
  if (n > FieldSize()) pos_ = GetOffset();  // longer texts lie elsewhere; short ones in the entry
  // The text and its NUL take n + 1 bytes, which a size may not hold for
  // the largest counts.
  if (n >= SIZE_MAX) Error(path(), msg::kNoMemoryForDescription);
  // The text grows as its bytes are read, so a count far beyond the file's
  // end costs no memory: it ends in msg::kMissingDescription as soon
  // as the file runs out.
  std::string text;
  try {
    text.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(n, kBlock)));
    while (text.size() < n && Available()) {
      const std::size_t at = static_cast<std::size_t>(pos_ - window_at_);
      const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(window_.size - at, n - text.size()));
      text.append(reinterpret_cast<const char*>(window_.data + at), k);
      pos_ += k;
    }
  } catch (const std::bad_alloc&) {
    Error(path(), msg::kNoMemoryForDescription);
  }
  if (text.size() < n) Error(path(), msg::kMissingDescription);
  return text;
}

std::vector<std::uint64_t> TiffFile::GetStrip(unsigned tag, std::uint32_t strips) {
  const bool offsets = tag == tiff::kStripOffsets;
  const char* no_memory = offsets ? msg::kNoMemoryForStripOffset : msg::kNoMemoryForStripBytesCount;
  const char* missing = offsets ? msg::kMissingStripOffset : msg::kMissingStripBytesCount;
  if (!MulSize(strips, sizeof(std::uint64_t))) Error(path(), no_memory);
  // A tiled image is not a striped one, whatever its StripOffsets say.
  if (tag == tiff::kStripOffsets &&
      (LookupTag(tiff::kTileWidth) || LookupTag(tiff::kTileLength)))
    Error(path(), missing);
  // The table grows as its values are read: a count that the file cannot
  // back ends at the file's end, not in a huge allocation.
  std::vector<std::uint64_t> table;
  try {
    table.reserve(std::min<std::uint32_t>(strips, 1u << 16));
    if (!LookupTag(tag)) Error(path(), missing);
    const unsigned type = Get2();
    if (type != tiff::kShort && type != tiff::kLong && !(big_tiff_ && type == tiff::kLong8))
      Error(path(), missing);
    if (GetCount() != strips) Error(path(), offsets ? msg::kBadNumberOfStripOffset : msg::kBadNumberOfStripBytesCount);
    // Values that fit the entry's field lie there; more lie elsewhere.
    const unsigned size = type == tiff::kShort ? 2 : type == tiff::kLong ? 4 : 8;
    if (std::uint64_t{strips} * size > FieldSize()) pos_ = GetOffset();
    for (std::uint32_t i = 0; i < strips; ++i)
      table.push_back(size == 2 ? Get2() : size == 4 ? Get4() : Get8());
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

namespace pv {

TiffPages::TiffPages(const char* path) : file_(std::make_unique<rif_core::TiffFile>(path)) {}

TiffPages::TiffPages(const char* path, const PageAt& page) : TiffPages(path) {
  if (page.number != 1) file_->GoToPage(page.number, page.directory);
}

TiffPages::~TiffPages() = default;

bool TiffPages::Next() { return file_->NextPage(); }

PageAt TiffPages::page() const { return {file_->page(), file_->directory()}; }

const char* TiffPages::subject() const { return file_->path(); }

}  // namespace pv
