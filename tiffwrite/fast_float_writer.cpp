// The float writer's one-strip layout: the whole image as one uncompressed
// strip, written strictly front to back, so the output may be standard output
// or a pipe. The strip size is known in advance, hence the directory offset
// too, and the offset where a next page begins (behind the description block,
// rounded up to even): a later page is the same layout from offset 8 on, moved
// to there.
//
// Layout for nx x ny samples, S = 4 nx ny, N directory entries (directory.h:
// ImageWidth and ImageLength always LONG), L = description length with its
// NUL:
//
//   offset        bytes   content
//   0             2       "II"
//   2             2       42
//   4             4       directory offset, 8 + S
//   8             S       pixel data: ny rows of nx little-endian floats
//   8 + S         2       N
//   10 + S        12 N    entries
//   10 + S + 12N  4       next directory: 0
//   14 + S + 12N  L       description block, only when L > 4 (N = 14 then:
//                         the block starts at 182 + S)
//
// Each row is converted straight into the output's block buffer while its
// extremes are taken, so the image is read once and copied once.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/error.h"
#include "common/messages.h"
#include "common/range.h"
#include "common/sizes.h"
#include "tiffwrite/directory.h"
#include "tiffwrite/float_writer.h"
#include "tiffwrite/sif_f.h"
#include "tiffwrite/tiff_out.h"

namespace pv::float_writer {

namespace {

// The directory of the image whose strip begins at `base`; the description
// block follows it.
ImageTags Tags(std::uint32_t nx, std::uint32_t ny, const Description& d, const Range& range,
               std::uint64_t base, bool big) {
  ImageTags t = FloatTags(nx, ny, tiff::kCompressionNone);
  t.long_sizes = true;
  t.big_tiff = big;
  t.description = d;
  t.rows_per_strip = ny;  // one strip holds the whole image
  t.strip_offsets = base;
  t.strip_byte_counts = 4 * std::uint64_t(nx) * ny;
  t.min_bits = FloatBits(range.min());
  t.max_bits = FloatBits(range.max());
  t.description_at = base + t.strip_byte_counts + Directory(t).Size();
  return t;
}

// Largest description the minimum-and-maximum format can produce: the
// buffer it is formatted into.
constexpr std::uint64_t kLongestOwnDescription = sizeof SIF_F_desc;

// The file's size but for the description block: base + S and the
// directory with a description entry. With the block of L bytes (L = 0
// without a description) it must stay below 2^32 for a classic file.
std::uint64_t FileWithoutText(std::uint32_t nx, std::uint32_t ny, std::uint64_t base) {
  ImageTags with_text = FloatTags(nx, ny, tiff::kCompressionNone);
  with_text.description.text = "";
  return base + 4 * std::uint64_t(nx) * ny + Directory(with_text).Size();
}

}  // namespace

void StoreOneStrip(TiffFileOut& file, std::uint32_t width, std::uint32_t height,
                   const FloatRows& rows, FloatDescription& text) {
  const char* path = file.path();
  // The page's strip begins behind the header, or behind the page before.
  const bool first = file.first();
  // The most bytes the file can take with this page, as a classic TIFF,
  // known before anything is written and before the globals change: a page
  // with a page behind it ends on an even offset, with one pad byte after
  // an odd block. The first page chooses BigTIFF where it is too large;
  // a later page too large for a classic file is refused.
  const std::uint64_t fixed =
      FileWithoutText(width, height, first ? kHeaderBytes : file.Offset()) + (file.last() ? 0 : 1);
  std::uint64_t largest = fixed + kLongestOwnDescription;
  if (!text.OfExtremes()) {
    const std::optional<Description> given = text.Settle(Range());
    if (!given) Error(path, msg::kFileNotStored);
    largest = fixed + given->length;
  }
  const auto scratch = NewArray<double>(width, path, msg::kNoAllocatableMemory);
  if (text.OfExtremes() && !file.Holds(largest)) {
    // Close to the limit the exact length matters: the extremes are found
    // and formatted first.
    const Range range = FindRange(path, width, height, rows);
    largest = fixed + text.Settle(range)->length;
  }
  if (first) {
    // A later page counts as large as the largest page announced.
    std::uint64_t later = largest;
    if (file.largest_width() != 0)
      later = std::max(later, FileWithoutText(file.largest_width(), file.largest_height(),
                                              kHeaderBytes) + 1 + (largest - fixed));
    file.Choose(largest, later);
  }
  if (!file.Holds(largest)) Error(path, msg::kFileNotStored);
  const bool big = file.big();
  const std::uint64_t base = first ? HeaderBytes(big) : file.Offset();
  TiffOut& out = file.Begin();

  const std::uint64_t strip = 4 * std::uint64_t(width) * height;
  if (first) PutHeader(out, base + strip, big);

  Range range;
  for (std::uint32_t y = 0; y < height; ++y) {
    const double* row = rows(y, scratch.get());
    range.Add(row, width);
    PutRow(out, row, width);
  }

  const Description d = *text.Settle(range);  // its length was checked
  text.Publish(range);
  const ImageTags tags = Tags(width, height, d, range, base, big);
  const std::uint64_t block = d.HasBlock(big) ? d.length : 0;
  // The next page's strip begins on the even offset behind this page, its
  // directory behind that strip.
  const std::uint64_t next = tags.description_at + block + (block & 1) +
                             4 * std::uint64_t(file.next_width()) * file.next_height();
  Directory(tags).Write(out, file.last() ? 0 : next);
  if (d.HasBlock(big)) out.PutBytes(d.text, d.length);
  if (!file.last() && (block & 1)) out.Put1(0);
  file.EndPage();
}

}  // namespace pv::float_writer
