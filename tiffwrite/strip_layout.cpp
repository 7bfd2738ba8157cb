#include "tiffwrite/strip_layout.h"

#include <new>

#include "common/error.h"
#include "common/sizes.h"

namespace pv {

namespace {

// Offset of the first strip: behind the header and the description block.
std::uint32_t FirstStrip(std::uint32_t length) {
  return length > 4 ? 8 + length + (length & 1) : 8;
}

// The largest file the layout can produce, by the strips' bound.
std::uint64_t LargestFile(const StripPlan& plan, std::uint32_t length, int entries,
                          StripBound bound) {
  const std::uint64_t full = plan.row_bytes * plan.rows_per_strip;  // B < 2^35, R <= 8192
  const std::uint64_t last = plan.row_bytes * plan.RowsOf(plan.strips - 1);
  const std::uint64_t full_bound = bound(full), last_bound = bound(last);
  constexpr std::uint64_t kTooLarge = std::uint64_t{1} << 32;
  if (full_bound >= kTooLarge || last_bound >= kTooLarge) return kTooLarge;
  std::uint64_t size = FirstStrip(length);
  size += std::uint64_t(plan.strips - 1) * full_bound + last_bound;  // below 2^63
  if (plan.strips > 1) size += 8 * std::uint64_t(plan.strips);
  return size + 2 + 12 * std::uint64_t(entries) + 4;
}

std::unique_ptr<std::uint32_t[]> CheckAndAllocate(const char* path, const StripPlan& plan,
                                                  std::uint32_t length, int entries,
                                                  StripBound bound) {
  StrippedTiff::CheckSize(path, plan, length, entries, bound);
  std::unique_ptr<std::uint32_t[]> counts(new (std::nothrow) std::uint32_t[plan.strips]);
  if (!counts) Fail(std::string(path) + " : no allocatable memory.\n");
  return counts;
}

}  // namespace

void StrippedTiff::CheckSize(const char* path, const StripPlan& plan,
                             std::uint32_t description_length, int entries, StripBound bound) {
  if (!FitsTiff32(LargestFile(plan, description_length, entries, bound)))
    TiffOut::NotStored(path);
}

StripPlan PlanStrips(std::uint64_t row_bytes, std::uint32_t ny) {
  StripPlan plan;
  plan.row_bytes = row_bytes;
  plan.rows_per_strip = row_bytes <= 8192 ? static_cast<std::uint32_t>(8192 / row_bytes) : 1;
  plan.strips = static_cast<std::uint32_t>((std::uint64_t(ny) + plan.rows_per_strip - 1) /
                                           plan.rows_per_strip);
  plan.rows = ny;
  return plan;
}

StrippedTiff::StrippedTiff(const char* path, const StripPlan& plan,
                           std::uint32_t description_length, int entries, StripBound bound)
    : plan_(plan),
      length_(description_length),
      entries_(entries),
      counts_(CheckAndAllocate(path, plan, description_length, entries, bound)),
      out_(path, /*allow_stdout=*/false) {
  out_.Put1('I');
  out_.Put1('I');
  out_.Put2(42);
  out_.Put4(0);  // directory offset, filled in by Finish
}

void StrippedTiff::PutDescription(const char* text) {
  if (length_ <= 4) return;  // stands in the entry itself
  out_.PutBytes(text, length_);
  if (length_ & 1) out_.Put1(0);
}

void StrippedTiff::EndStrip(std::uint32_t count) {
  counts_[done_++] = count;
  if (count & 1) out_.Put1(0);  // the next strip starts on an even offset
}

void StrippedTiff::Finish(std::uint32_t nx, std::uint32_t ny, std::uint16_t bps,
                          std::uint16_t compression, std::uint16_t photometric,
                          const char* description, const ExtraEntry* extra, int extras) {
  const std::uint32_t k = plan_.strips;
  const std::uint32_t first = FirstStrip(length_);
  // The size check bounded the whole file below 2^32, so every offset fits.
  const auto end = static_cast<std::uint32_t>(out_.Offset());
  std::uint32_t offsets_at = first, counts_at = counts_[0];
  std::uint32_t directory = end;
  if (k > 1) {
    offsets_at = end;
    counts_at = end + 4 * k;
    std::uint32_t at = first;
    for (std::uint32_t s = 0; s < k; ++s) {
      out_.Put4(at);
      at += counts_[s] + (counts_[s] & 1);
    }
    for (std::uint32_t s = 0; s < k; ++s) out_.Put4(counts_[s]);
    directory = end + 8 * k;
  }

  out_.Put2(static_cast<std::uint16_t>(entries_));
  auto size_entry = [this](std::uint16_t tag, std::uint32_t v) {
    if (v <= 65535)
      out_.PutShortEntry(tag, static_cast<std::uint16_t>(v));
    else
      out_.PutEntry(tag, TiffOut::kLong, 1, v);
  };
  size_entry(256, nx);
  size_entry(257, ny);
  out_.PutShortEntry(258, bps);
  out_.PutShortEntry(259, compression);
  out_.PutShortEntry(262, photometric);
  if (description != nullptr) out_.PutDescriptionEntry(description, length_, 8);
  out_.PutEntry(273, TiffOut::kLong, k, offsets_at);
  out_.PutShortEntry(277, 1);
  out_.PutEntry(278, TiffOut::kLong, 1, plan_.rows_per_strip);
  out_.PutEntry(279, TiffOut::kLong, k, counts_at);
  out_.PutShortEntry(284, 1);
  for (int i = 0; i < extras; ++i) out_.PutEntry(extra[i].tag, extra[i].type, 1, extra[i].value);
  out_.Put4(0);

  out_.Seek(4);
  out_.Put4(directory);
  out_.Close();
}

}  // namespace pv
