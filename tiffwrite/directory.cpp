#include "tiffwrite/directory.h"

#include <cstring>
#include <new>

#include "common/error.h"
#include "common/messages.h"
#include "common/sizes.h"

namespace pv {

std::optional<Description> Description::Of(const char* text) {
  if (text == nullptr) return Description{};
  const std::size_t n = std::strlen(text);
  if (n >= 0xFFFFFFFFu) return std::nullopt;  // no 32-bit count holds it
  return Description{text, static_cast<std::uint32_t>(n + 1)};
}

void Directory::Add(std::uint16_t tag, std::uint16_t type, std::uint32_t count,
                    std::uint32_t value) {
  Entry& e = entries_[count_++];
  e.tag = tag;
  e.type = type;
  e.count = count;
  for (int i = 0; i < 4; ++i) e.field[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Directory::AddSize(std::uint16_t tag, std::uint32_t value, bool always_long) {
  Add(tag, !always_long && value <= 0xFFFF ? tiff::kShort : tiff::kLong, 1, value);
}

Directory::Directory(const ImageTags& t) {
  AddSize(tiff::kImageWidth, t.width, t.long_sizes);
  AddSize(tiff::kImageLength, t.height, t.long_sizes);
  Add(tiff::kBitsPerSample, tiff::kShort, 1, t.bits);
  Add(tiff::kCompression, tiff::kShort, 1, t.compression);
  Add(tiff::kPhotometricInterpretation, tiff::kShort, 1, t.photometric);
  if (t.description.text != nullptr) {
    Add(tiff::kImageDescription, tiff::kAscii, t.description.length, t.description_at);
    if (!t.description.HasBlock()) {
      Entry& e = entries_[count_ - 1];
      std::memset(e.field, 0, sizeof e.field);
      std::memcpy(e.field, t.description.text, t.description.length);
    }
  }
  Add(tiff::kStripOffsets, tiff::kLong, t.strips, t.strip_offsets);
  Add(tiff::kSamplesPerPixel, tiff::kShort, 1, 1);
  Add(tiff::kRowsPerStrip, tiff::kLong, 1, t.rows_per_strip);
  Add(tiff::kStripByteCounts, tiff::kLong, t.strips, t.strip_byte_counts);
  Add(tiff::kPlanarConfiguration, tiff::kShort, 1, tiff::kPlanarChunky);
  if (t.floating) {
    Add(tiff::kSampleFormat, tiff::kShort, 1, tiff::kSampleIEEEFloat);
    Add(tiff::kSMinSampleValue, tiff::kFloat, 1, t.min_bits);
    Add(tiff::kSMaxSampleValue, tiff::kFloat, 1, t.max_bits);
  }
}

void PutHeader(BufferedOut& out, std::uint32_t first_directory) {
  out.Put1(tiff::kLittleEndian);
  out.Put1(tiff::kLittleEndian);
  out.Put2(tiff::kMagic);
  out.Put4(first_directory);
}

void Directory::Write(BufferedOut& out, std::uint32_t next) const {
  out.Put2(static_cast<std::uint16_t>(count_));
  for (std::uint32_t i = 0; i < count_; ++i) {
    const Entry& e = entries_[i];
    out.Put2(e.tag);
    out.Put2(e.type);
    out.Put4(e.count);
    out.PutBytes(e.field, 4);
  }
  out.Put4(next);
}

StripPlan PlanStrips(std::uint64_t row_bytes, std::uint32_t ny) {
  constexpr std::uint64_t kStripBytes = 8192;  // about this much row data a strip
  StripPlan plan;
  plan.row_bytes = row_bytes;
  plan.rows_per_strip =
      row_bytes <= kStripBytes ? static_cast<std::uint32_t>(kStripBytes / row_bytes) : 1;
  plan.strips = static_cast<std::uint32_t>((std::uint64_t(ny) + plan.rows_per_strip - 1) /
                                           plan.rows_per_strip);
  plan.rows = ny;
  return plan;
}

namespace {

// Offset of the first strip: behind the description block of a page whose
// own bytes begin at `base`.
std::uint32_t FirstStrip(std::uint32_t base, const Description& d) {
  return d.HasBlock() ? base + d.length + (d.length & 1) : base;
}

// The caller's tags with the strip layout's own entries.
ImageTags LayoutTags(const StripPlan& plan, ImageTags tags, std::uint32_t base) {
  tags.strips = plan.strips;
  tags.rows_per_strip = plan.rows_per_strip;
  tags.description_at = base;
  return tags;
}

// The largest file the layout can produce with the page at `base`, by the
// strips' bound.
std::uint64_t LargestFile(const StripPlan& plan, const ImageTags& tags, StripBound bound,
                          std::uint64_t base) {
  const std::uint64_t full = plan.StripBytes();  // B < 2^35, R <= 8192
  const std::uint64_t last = plan.row_bytes * plan.RowsOf(plan.strips - 1);
  const std::uint64_t full_bound = bound(full), last_bound = bound(last);
  constexpr std::uint64_t kTooLarge = std::uint64_t{1} << 32;
  if (full_bound >= kTooLarge || last_bound >= kTooLarge || base >= kTooLarge) return kTooLarge;
  std::uint64_t size = FirstStrip(0, tags.description) + base;
  size += std::uint64_t(plan.strips - 1) * full_bound + last_bound;  // below 2^63
  if (plan.strips > 1) size += 8 * std::uint64_t(plan.strips);
  return size + Directory(tags).Bytes();
}

std::unique_ptr<std::uint32_t[]> CheckAndAllocate(const TiffFileOut& file, const StripPlan& plan,
                                                  const ImageTags& tags, StripBound bound) {
  StrippedTiff::CheckSize(file, plan, tags, bound);
  std::unique_ptr<std::uint32_t[]> counts(new (std::nothrow) std::uint32_t[plan.strips]);
  if (!counts) Error(file.path(), msg::kNoAllocatableMemory);
  return counts;
}

// The page's output: the file is created for the first page, with its
// header, the first directory's offset filled in at the end.
TiffOut& BeginPage(TiffFileOut& file) {
  const bool first = file.first();
  TiffOut& out = file.Begin();
  if (first) PutHeader(out, 0);
  return out;
}

}  // namespace

void StrippedTiff::CheckSize(const TiffFileOut& file, const StripPlan& plan, const ImageTags& tags,
                             StripBound bound) {
  const std::uint64_t base = file.first() ? kHeaderBytes : file.Offset();
  const std::uint32_t at = base < (std::uint64_t{1} << 32) ? std::uint32_t(base) : 0;
  if (!FitsTiff32(LargestFile(plan, LayoutTags(plan, tags, at), bound, base)))
    Error(file.path(), msg::kFileNotStored);
}

StrippedTiff::StrippedTiff(TiffFileOut& file, const StripPlan& plan, const ImageTags& tags,
                           StripBound bound)
    : file_(file),
      base_(0),
      plan_(plan),
      tags_(tags),
      counts_(CheckAndAllocate(file, plan, tags, bound)),
      out_(BeginPage(file)) {
  // The size check has put every offset of the page below 2^32.
  base_ = file_.first() ? kHeaderBytes : static_cast<std::uint32_t>(out_.Offset());
  tags_ = LayoutTags(plan, tags, base_);
  const Description& d = tags_.description;
  if (d.HasBlock()) {
    out_.PutBytes(d.text, d.length);
    if (d.length & 1) out_.Put1(0);
  }
}

void StrippedTiff::EndStrip(std::uint32_t count) {
  counts_[done_++] = count;
  if (count & 1) out_.Put1(0);  // the next strip starts on an even offset
}

void StrippedTiff::PutStrips(const std::uint8_t* data, std::size_t bytes,
                             const std::uint32_t* counts, std::uint32_t k) {
  for (std::uint32_t s = 0; s < k; ++s) counts_[done_++] = counts[s];
  out_.PutBytes(data, bytes);
}

void StrippedTiff::Finish() {
  const std::uint32_t k = plan_.strips;
  // The size check bounded the whole file below 2^32, so every offset fits.
  const auto end = static_cast<std::uint32_t>(out_.Offset());
  std::uint32_t directory = end;
  if (k == 1) {
    tags_.strip_offsets = FirstStrip(base_, tags_.description);
    tags_.strip_byte_counts = counts_[0];
  } else {
    tags_.strip_offsets = end;
    tags_.strip_byte_counts = end + 4 * k;
    std::uint32_t at = FirstStrip(base_, tags_.description);
    for (std::uint32_t s = 0; s < k; ++s) {
      out_.Put4(at);
      at += counts_[s] + (counts_[s] & 1);
    }
    for (std::uint32_t s = 0; s < k; ++s) out_.Put4(counts_[s]);
    directory = end + 8 * k;
  }
  // The next offset is filled in by the next page, if one follows.
  const Directory dir(tags_);
  dir.Write(out_);
  file_.EndPage(directory, directory + dir.Bytes() - 4);
}

}  // namespace pv
