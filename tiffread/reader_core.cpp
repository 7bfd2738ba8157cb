#include "tiffread/reader_core.h"

#include <algorithm>
#include <cassert>
#include <string>

#include "common/error.h"
#include "common/sizes.h"

namespace pv::reader {

namespace {

// Until the file is in memory its header and directory are read in blocks
// of this size.
constexpr std::size_t kBlock = 16 * 1024;


}  // namespace

// ---------------------------------------------------------------------------
// The file and its header.

TiffFile::TiffFile(const char* path) : input_(path), file_path_(path), subject_(path) {
  block_ = NewArray<std::uint8_t>(kBlock, msg::kMemoryAllocation);
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
  Allocate([&] {
    text.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(n, kBlock)));
    while (text.size() < n && Available()) {
      const std::size_t at = static_cast<std::size_t>(pos_ - window_at_);
      const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(window_.size - at, n - text.size()));
      text.append(reinterpret_cast<const char*>(window_.data + at), k);
      pos_ += k;
    }
  }, path(), msg::kNoMemoryForDescription);
  if (text.size() < n) Error(path(), msg::kMissingDescription);
  return text;
}

namespace {

// The messages of one block table.
struct TableMessages {
  const char* no_memory;
  const char* missing;
  const char* bad_number;
};

TableMessages MessagesOf(unsigned tag) {
  switch (tag) {
    case tiff::kStripOffsets:
      return {msg::kNoMemoryForStripOffset, msg::kMissingStripOffset, msg::kBadNumberOfStripOffset};
    case tiff::kStripByteCounts:
      return {msg::kNoMemoryForStripBytesCount, msg::kMissingStripBytesCount, msg::kBadNumberOfStripBytesCount};
    case tiff::kTileOffsets:
      return {msg::kNoMemoryForTileOffset, msg::kMissingTileOffset, msg::kBadNumberOfTileOffset};
    default:
      return {msg::kNoMemoryForTileBytesCount, msg::kMissingTileBytesCount, msg::kBadNumberOfTileBytesCount};
  }
}

}  // namespace

std::vector<std::uint64_t> TiffFile::GetStrip(unsigned tag, std::uint64_t blocks) {
  const TableMessages m = MessagesOf(tag);
  // The bound of a table of LONGs, whatever the values' width in memory.
  if (blocks > SIZE_MAX || !MulSize(static_cast<std::size_t>(blocks), sizeof(std::uint32_t)))
    Error(path(), m.no_memory);
  // The table grows as its values are read: a count that the file cannot
  // back ends at the file's end, not in a huge allocation.
  std::vector<std::uint64_t> table;
  Allocate([&] {
    table.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(blocks, 1u << 16)));
    if (!LookupTag(tag)) Error(path(), m.missing);
    const unsigned type = Get2();
    if (type != tiff::kShort && type != tiff::kLong && !(big_tiff_ && type == tiff::kLong8))
      Error(path(), m.missing);
    // More blocks than a count can say never match it.
    if (GetCount() != blocks) Error(path(), m.bad_number);
    // Values that fit the entry's field lie there; more lie elsewhere.
    const unsigned size = type == tiff::kShort ? 2 : type == tiff::kLong ? 4 : 8;
    if (blocks * size > FieldSize()) pos_ = GetOffset();
    for (std::uint64_t i = 0; i < blocks; ++i)
      table.push_back(size == 2 ? Get2() : size == 4 ? Get4() : Get8());
  }, path(), m.no_memory);
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
    case tiff::kCompressionDeflate:
    case tiff::kCompressionOldDeflate: layout.compression = Compression::kDeflate; break;
    default: layout.compression = Compression::kNone; break;
  }
  // WhiteIsZero, BlackIsZero, Palette and transparency mask are accepted;
  // samples are delivered as stored either way.
  tif.TagValue(rule::kPhotometric);
  layout.reverse_fill = tif.TagValue(rule::kFill) == tiff::kFillLsbFirst;
  tif.TagValue(rule::kSamples);
  layout.rows_per_strip = std::min(tif.TagValue(rule::kRows, layout.height), layout.height);
  // With one sample per pixel, samples in planes of their own lie as
  // samples together do.
  tif.TagValue(rule::kPlanar);
  std::uint32_t predictor;
  if (floating) {
    predictor = tif.TagValue(rule::kPredictorFloat);
    tif.TagValue(rule::kDifferencingFloat);
  } else {
    predictor = tif.TagValue(rule::kDifferencing);
  }
  layout.predictor = predictor == tiff::kPredictorHorizontal      ? Predictor::kHorizontal
                     : predictor == tiff::kPredictorFloatingPoint ? Predictor::kFloatingPoint
                                                                  : Predictor::kNone;
}

namespace {

// The sample kinds: how samples of a SampleFormat and width lie in the
// decoded bytes, and the type that each reader delivers them as (kNotRead:
// refused by that reader's rules before). Width 0 stands for every other
// width of its format: unsigned integers packed, most significant bit
// first. Signed samples are two's complement; the conversion takes them as
// unsigned ones of the same width (differencing is modulo 2^bits either
// way) and widens 8-bit ones with their sign. Half floats arrive as
// singles, which hold every half exactly.
struct SampleForm {
  std::uint32_t format;
  int bits;  // 0: any other width
  SampleKind kind;
  SampleType as_stored;  // ReadImageFile_Float
  SampleType sixteen;    // ReadImageFile
};
constexpr SampleType kNotRead = SampleType::kFloat64;  // never a 16-bit reader's type
// clang-format off
constexpr SampleForm kSampleForms[] = {
    //  format                  bits  kind                  ReadImageFile_Float     ReadImageFile
    {tiff::kSampleUnsigned,     8,  SampleKind::kInt8,    SampleType::kUint8,     SampleType::kUint16},
    {tiff::kSampleUnsigned,    16,  SampleKind::kInt16,   SampleType::kUint16,    SampleType::kUint16},
    {tiff::kSampleUnsigned,    32,  SampleKind::kInt32,   SampleType::kUint32,    kNotRead},
    {tiff::kSampleSigned,       8,  SampleKind::kInt8,    SampleType::kInt8,      SampleType::kInt16},
    {tiff::kSampleSigned,      16,  SampleKind::kInt16,   SampleType::kInt16,     SampleType::kInt16},
    {tiff::kSampleSigned,      32,  SampleKind::kInt32,   SampleType::kInt32,     kNotRead},
    {tiff::kSampleIEEEFloat,   16,  SampleKind::kFloat16, SampleType::kFloat32,   kNotRead},
    {tiff::kSampleIEEEFloat,   32,  SampleKind::kFloat32, SampleType::kFloat32,   kNotRead},
    {tiff::kSampleIEEEFloat,   64,  SampleKind::kFloat64, SampleType::kFloat64,   kNotRead},
    {tiff::kSampleUnsigned,     0,  SampleKind::kPacked,  SampleType::kUint16,    SampleType::kUint16},  // 1 to 15 bits
};
// clang-format on

}  // namespace

void SetSampleForm(std::uint32_t format, int bits, bool sixteen, StripLayout& layout) {
  layout.bits = bits;
  for (const SampleForm& f : kSampleForms) {
    if (f.format != format || (f.bits != bits && f.bits != 0)) continue;
    layout.kind = f.kind;
    layout.type = sixteen ? f.sixteen : f.as_stored;
    // Packed samples of 17 to 31 bits need 32 bits.
    if (f.kind == SampleKind::kPacked && bits > 16) layout.type = SampleType::kUint32;
    return;
  }
  assert(false && "a format and width that the rules accept has its row");
}

void ReadTileSize(TiffFile& tif, StripLayout& layout) {
  layout.tiled = tif.LookupTag(tiff::kTileWidth) || tif.LookupTag(tiff::kTileLength);
  if (!layout.tiled) return;
  layout.tile_width = tif.TagValue(rule::kTileSizeWidth);
  layout.tile_length = tif.TagValue(rule::kTileSizeLength);
}

}  // namespace pv::reader

namespace pv {

TiffPages::TiffPages(const char* path) : file_(std::make_unique<reader::TiffFile>(path)) {}

TiffPages::TiffPages(const char* path, const PageAt& page) : TiffPages(path) {
  if (page.number != 1) file_->GoToPage(page.number, page.directory);
}

TiffPages::~TiffPages() = default;

bool TiffPages::Next() { return file_->NextPage(); }

PageAt TiffPages::page() const { return {file_->page(), file_->directory()}; }

const char* TiffPages::subject() const { return file_->path(); }

}  // namespace pv
