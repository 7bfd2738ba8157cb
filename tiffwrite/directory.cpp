#include "tiffwrite/directory.h"

#include <algorithm>
#include <cstring>

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
                    std::uint64_t value) {
  Entry& e = entries_[count_++];
  e.tag = tag;
  e.type = type;
  e.count = count;
  for (int i = 0; i < 8; ++i) e.field[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void Directory::AddSize(std::uint16_t tag, std::uint32_t value, bool always_long) {
  Add(tag, !always_long && value <= 0xFFFF ? tiff::kShort : tiff::kLong, 1, value);
}

Directory::Directory(const ImageTags& t) : big_(t.big_tiff) {
  const std::uint16_t offsets = big_ ? tiff::kLong8 : tiff::kLong;
  AddSize(tiff::kImageWidth, t.width, t.long_sizes);
  AddSize(tiff::kImageLength, t.height, t.long_sizes);
  Add(tiff::kBitsPerSample, tiff::kShort, 1, t.bits);
  Add(tiff::kCompression, tiff::kShort, 1, t.compression);
  Add(tiff::kPhotometricInterpretation, tiff::kShort, 1, t.photometric);
  if (t.description.text != nullptr) {
    Add(tiff::kImageDescription, tiff::kAscii, t.description.length, t.description_at);
    if (!t.description.HasBlock(big_)) {
      Entry& e = entries_[count_ - 1];
      std::memset(e.field, 0, sizeof e.field);
      std::memcpy(e.field, t.description.text, t.description.length);
    }
  }
  Add(tiff::kStripOffsets, offsets, t.strips, t.strip_offsets);
  Add(tiff::kSamplesPerPixel, tiff::kShort, 1, 1);
  Add(tiff::kRowsPerStrip, tiff::kLong, 1, t.rows_per_strip);
  Add(tiff::kStripByteCounts, offsets, t.strips, t.strip_byte_counts);
  Add(tiff::kPlanarConfiguration, tiff::kShort, 1, tiff::kPlanarChunky);
  if (t.floating) {
    Add(tiff::kSampleFormat, tiff::kShort, 1, tiff::kSampleIEEEFloat);
    Add(tiff::kSMinSampleValue, tiff::kFloat, 1, t.min_bits);
    Add(tiff::kSMaxSampleValue, tiff::kFloat, 1, t.max_bits);
  }
}

void PutHeader(BufferedOut& out, std::uint64_t first_directory, bool big) {
  out.Put1(tiff::kLittleEndian);
  out.Put1(tiff::kLittleEndian);
  if (!big) {
    out.Put2(tiff::kMagic);
    out.Put4(static_cast<std::uint32_t>(first_directory));
    return;
  }
  out.Put2(tiff::kBigMagic);
  out.Put2(tiff::kBigOffsetSize);
  out.Put2(0);
  PutOffset(out, first_directory, true);
}

void PutOffset(BufferedOut& out, std::uint64_t value, bool big) {
  out.Put4(static_cast<std::uint32_t>(value));
  if (big) out.Put4(static_cast<std::uint32_t>(value >> 32));
}

void Directory::Write(BufferedOut& out, std::uint64_t next) const {
  if (big_) PutOffset(out, count_, true);
  else out.Put2(static_cast<std::uint16_t>(count_));
  for (std::uint32_t i = 0; i < count_; ++i) {
    const Entry& e = entries_[i];
    out.Put2(e.tag);
    out.Put2(e.type);
    PutOffset(out, e.count, big_);
    out.PutBytes(e.field, OffsetBytes(big_));
  }
  PutOffset(out, next, big_);
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
std::uint64_t FirstStrip(std::uint64_t base, const Description& d, bool big) {
  return d.HasBlock(big) ? base + d.length + (d.length & 1) : base;
}

// The caller's tags with the strip layout's own entries.
ImageTags LayoutTags(const StripPlan& plan, ImageTags tags, std::uint64_t base, bool big) {
  tags.strips = plan.strips;
  tags.rows_per_strip = plan.rows_per_strip;
  tags.description_at = base;
  tags.big_tiff = big;
  return tags;
}

// Whether every strip's stored length, by the strips' bound, fits its
// 32-bit count.
bool StripsFit(const StripPlan& plan, StripBound bound) {
  constexpr std::uint64_t kTooLarge = std::uint64_t{1} << 32;
  const std::uint64_t full = plan.StripBytes();  // B < 2^35, R <= 8192
  const std::uint64_t last = plan.row_bytes * plan.RowsOf(plan.strips - 1);
  return bound(full) < kTooLarge && bound(last) < kTooLarge;
}

// The largest classic file the layout can produce with the page at `base`,
// by the strips' bound (which StripsFit).
std::uint64_t LargestFile(const StripPlan& plan, const ImageTags& tags, StripBound bound,
                          std::uint64_t base) {
  const std::uint64_t full_bound = bound(plan.StripBytes());
  const std::uint64_t last_bound = bound(plan.row_bytes * plan.RowsOf(plan.strips - 1));
  std::uint64_t size = FirstStrip(base, tags.description, false);
  size += std::uint64_t(plan.strips - 1) * full_bound + last_bound;  // below 2^63
  if (plan.strips > 1) size += 8 * std::uint64_t(plan.strips);
  return size + Directory(tags).Size();
}

std::unique_ptr<std::uint32_t[]> CheckAndAllocate(TiffFileOut& file, const StripPlan& plan,
                                                  const ImageTags& tags, StripBound bound) {
  StrippedTiff::CheckSize(file, plan, tags, bound);
  return NewArray<std::uint32_t>(plan.strips, file.path(), msg::kNoAllocatableMemory);
}

// The page's output: the file is created for the first page, with its
// header, the first directory's offset filled in at the end.
TiffOut& BeginPage(TiffFileOut& file) {
  const bool first = file.first();
  TiffOut& out = file.Begin();
  if (first) PutHeader(out, 0, file.big());
  return out;
}

}  // namespace

void StrippedTiff::CheckSize(TiffFileOut& file, const StripPlan& plan, const ImageTags& tags,
                             StripBound bound) {
  if (!StripsFit(plan, bound)) Error(file.path(), msg::kFileNotStored);
  const std::uint64_t base = file.first() ? kHeaderBytes : file.Offset();
  const std::uint64_t largest = LargestFile(plan, LayoutTags(plan, tags, base, false), bound, base);
  if (file.first()) {
    // A later page counts as large as the largest page announced.
    std::uint64_t later = largest;
    if (file.largest_width() != 0) {
      const StripPlan most = PlanStrips(
          (std::uint64_t(file.largest_width()) * tags.bits + 7) / 8, file.largest_height());
      if (StripsFit(most, bound))
        later = std::max(later, LargestFile(most, LayoutTags(most, tags, base, false), bound, base));
    }
    file.Choose(largest, later);
  }
  if (!file.Holds(largest)) Error(file.path(), msg::kFileNotStored);
}

StrippedTiff::StrippedTiff(TiffFileOut& file, const StripPlan& plan, const ImageTags& tags,
                           StripBound bound)
    : file_(file),
      base_(0),
      plan_(plan),
      tags_(tags),
      counts_(CheckAndAllocate(file, plan, tags, bound)),
      out_(BeginPage(file)) {
  base_ = out_.Offset();  // behind the header, or behind the page before
  tags_ = LayoutTags(plan, tags, base_, file_.big());
  const Description& d = tags_.description;
  if (d.HasBlock(tags_.big_tiff)) {
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
  // A classic file's size check bounded it below 2^32, so every offset fits
  // its 4 bytes; BigTIFF's are 8.
  const bool big = tags_.big_tiff;
  const std::uint64_t end = out_.Offset();
  std::uint64_t directory = end;
  if (k == 1) {
    tags_.strip_offsets = FirstStrip(base_, tags_.description, big);
    tags_.strip_byte_counts = counts_[0];
  } else {
    tags_.strip_offsets = end;
    tags_.strip_byte_counts = end + std::uint64_t(OffsetBytes(big)) * k;
    std::uint64_t at = FirstStrip(base_, tags_.description, big);
    for (std::uint32_t s = 0; s < k; ++s) {
      PutOffset(out_, at, big);
      at += counts_[s] + (counts_[s] & 1);
    }
    for (std::uint32_t s = 0; s < k; ++s) PutOffset(out_, counts_[s], big);
    directory = end + 2 * std::uint64_t(OffsetBytes(big)) * k;
  }
  // The next offset is filled in by the next page, if one follows.
  const Directory dir(tags_);
  dir.Write(out_);
  file_.EndPage(directory, directory + dir.Size() - OffsetBytes(big));
}

}  // namespace pv
