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

void Directory::Write(BufferedOut& out) const {
  out.Put2(static_cast<std::uint16_t>(count_));
  for (std::uint32_t i = 0; i < count_; ++i) {
    const Entry& e = entries_[i];
    out.Put2(e.tag);
    out.Put2(e.type);
    out.Put4(e.count);
    out.PutBytes(e.field, 4);
  }
  out.Put4(0);  // no next directory
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

// Offset of the first strip: behind the header and the description block.
std::uint32_t FirstStrip(const Description& d) {
  return d.HasBlock() ? 8 + d.length + (d.length & 1) : 8;
}

// The caller's tags with the strip layout's own entries.
ImageTags LayoutTags(const StripPlan& plan, ImageTags tags) {
  tags.strips = plan.strips;
  tags.rows_per_strip = plan.rows_per_strip;
  tags.description_at = 8;
  return tags;
}

// The largest file the layout can produce, by the strips' bound.
std::uint64_t LargestFile(const StripPlan& plan, const ImageTags& tags, StripBound bound) {
  const std::uint64_t full = plan.StripBytes();  // B < 2^35, R <= 8192
  const std::uint64_t last = plan.row_bytes * plan.RowsOf(plan.strips - 1);
  const std::uint64_t full_bound = bound(full), last_bound = bound(last);
  constexpr std::uint64_t kTooLarge = std::uint64_t{1} << 32;
  if (full_bound >= kTooLarge || last_bound >= kTooLarge) return kTooLarge;
  std::uint64_t size = FirstStrip(tags.description);
  size += std::uint64_t(plan.strips - 1) * full_bound + last_bound;  // below 2^63
  if (plan.strips > 1) size += 8 * std::uint64_t(plan.strips);
  return size + Directory(tags).Bytes();
}

std::unique_ptr<std::uint32_t[]> CheckAndAllocate(const char* path, const StripPlan& plan,
                                                  const ImageTags& tags, StripBound bound) {
  StrippedTiff::CheckSize(path, plan, tags, bound);
  std::unique_ptr<std::uint32_t[]> counts(new (std::nothrow) std::uint32_t[plan.strips]);
  if (!counts) Error(path, msg::kNoAllocatableMemory);
  return counts;
}

}  // namespace

void StrippedTiff::CheckSize(const char* path, const StripPlan& plan, const ImageTags& tags,
                             StripBound bound) {
  if (!FitsTiff32(LargestFile(plan, LayoutTags(plan, tags), bound))) Error(path, msg::kFileNotStored);
}

StrippedTiff::StrippedTiff(const char* path, const StripPlan& plan, const ImageTags& tags,
                           StripBound bound)
    : plan_(plan),
      tags_(LayoutTags(plan, tags)),
      counts_(CheckAndAllocate(path, plan, tags, bound)),
      out_(path, /*allow_stdout=*/false) {
  out_.Put1(tiff::kLittleEndian);
  out_.Put1(tiff::kLittleEndian);
  out_.Put2(tiff::kMagic);
  out_.Put4(0);  // directory offset, filled in by Finish
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
    tags_.strip_offsets = FirstStrip(tags_.description);
    tags_.strip_byte_counts = counts_[0];
  } else {
    tags_.strip_offsets = end;
    tags_.strip_byte_counts = end + 4 * k;
    std::uint32_t at = FirstStrip(tags_.description);
    for (std::uint32_t s = 0; s < k; ++s) {
      out_.Put4(at);
      at += counts_[s] + (counts_[s] & 1);
    }
    for (std::uint32_t s = 0; s < k; ++s) out_.Put4(counts_[s]);
    directory = end + 8 * k;
  }
  Directory(tags_).Write(out_);
  out_.Seek(4);
  out_.Put4(directory);
  out_.Close();
}

}  // namespace pv
