// The float writer's strip layout: the strip layout of the integer writer
// (directory.h) with 32-bit IEEE samples, R = 8192 / (4 nx) rows per strip (1
// from nx = 2048 on) and SampleFormat, SMinSampleValue and SMaxSampleValue
// behind the common entries. The strips are LZW-compressed on all CPUs, or
// stored as they are, the rows converted straight into the output's buffer;
// nothing else differs.
//
// The image is read twice: the extremes first, since the minimum-and-maximum
// description stands in front of the strips, then the strips.
#include <cstdint>
#include <memory>
#include <optional>

#include "common/error.h"
#include "common/messages.h"
#include "common/range.h"
#include "common/sizes.h"
#include "tiffwrite/directory.h"
#include "tiffwrite/lzw_strips.h"
#include "tiffwrite/float_writer.h"
#include "tiffwrite/sif_f.h"
#include "tiffwrite/tiff_out.h"

namespace pv::float_writer {

namespace {

// Rows of 4 nx bytes: every count is even, no pad byte occurs.
std::uint64_t StoredAsIs(std::uint64_t n) { return n; }

}  // namespace

void StoreStrips(TiffFileOut& file, std::uint32_t width, std::uint32_t height,
                 const FloatRows& rows, FloatDescription& text, bool lzw) {
  const char* path = file.path();
  const StripPlan plan = PlanStrips(4 * std::uint64_t(width), height);
  const StripBound bound = lzw ? LzwStripBound : StoredAsIs;
  ImageTags tags = FloatTags(width, height, lzw ? tiff::kCompressionLZW : tiff::kCompressionNone);

  // The length of a given description is known now, and a file too large
  // for it is refused before the image is read. The description of the
  // extremes needs them first.
  if (!text.OfExtremes()) {
    const std::optional<Description> given = text.Settle(Range());
    if (!given) Error(path, msg::kFileNotStored);
    tags.description = *given;
    StrippedTiff::CheckSize(file, plan, tags, bound);
  }
  const Range range = FindRange(path, width, height, rows);
  tags.description = *text.Settle(range);  // the extremes' text always fits
  tags.min_bits = FloatBits(range.min());
  tags.max_bits = FloatBits(range.max());
  StrippedTiff::CheckSize(file, plan, tags, bound);

  if (lzw) {
    LzwStrips strips(path, plan);
    const SlotRows<double> scratch(path, strips.slots(), width, 4 * std::size_t(width));
    StrippedTiff page(file, plan, tags, bound);
    // The globals change only once the file is created.
    text.Publish(range);
    strips.Write(page, [&](std::uint32_t y, std::size_t slot) -> const std::uint8_t* {
      ConvertRow(rows(y, scratch.samples(slot)), width, scratch.bytes(slot));
      return scratch.bytes(slot);
    });
    page.Finish();
    return;
  }
  const auto values = NewArray<double>(width, path, msg::kNoAllocatableMemory);
  StrippedTiff page(file, plan, tags, bound);
  text.Publish(range);
  for (std::uint32_t k = 0; k < plan.strips; ++k) {
    const std::uint32_t first = k * plan.rows_per_strip, end = first + plan.RowsOf(k);
    for (std::uint32_t y = first; y < end; ++y) PutRow(page.out(), rows(y, values.get()), width);
    page.EndStrip(static_cast<std::uint32_t>(plan.row_bytes * plan.RowsOf(k)));
  }
  page.Finish();
}

}  // namespace pv::float_writer
