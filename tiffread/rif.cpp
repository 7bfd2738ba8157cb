// Module rif: the TIFF reader delivering unsigned 16-bit samples.
#include "tiffread/rif.h"

#include <cstring>
#include <new>

#include "tiffread/reader_core.h"

namespace pv {

void ReadImageFile(const char* path, std::int32_t* width, std::int32_t* height, int* bits,
                   StoredImage* image, std::optional<std::string>* description) {
  if (image != nullptr) image->Clear();
  rif_core::TiffFile tif(path);
  rif_core::StripLayout layout;
  namespace rule = rif_core::rule;

  rif_core::ReadImageSize(tif, width, height, image != nullptr, layout);

  // Unsigned integer samples of 1 to 16 bits only; a floating-point file is
  // refused for its 32 or 64 bits, a 16-bit one for its sample format.
  if (bits != nullptr || image != nullptr) {
    layout.bits = static_cast<int>(tif.Check(rule::kBitsInt));
    tif.Check(rule::kSampleFormatInt);
    if (bits != nullptr) *bits = layout.bits;
  }

  if (description != nullptr) *description = tif.ReadDescription();
  if (image == nullptr) return;

  rif_core::ReadStripTags(tif, /*floating=*/false, layout);
  layout.big_endian = tif.big_endian();
  layout.kind = layout.bits == 8    ? rif_core::SampleKind::kInt8
                : layout.bits == 16 ? rif_core::SampleKind::kInt16
                                    : rif_core::SampleKind::kPacked;
  layout.type = SampleType::kUint16;
  rif_core::ReadStrips(tif, layout, *image);
}

void ReadImageFile(const char* path, std::int32_t* width, std::int32_t* height, int* bits,
                   RowTable<std::uint16_t>* rows, std::optional<std::string>* description) {
  if (rows == nullptr) {
    ReadImageFile(path, width, height, bits, static_cast<StoredImage*>(nullptr), description);
    return;
  }
  StoredImage image;
  ReadImageFile(path, width, height, bits, &image, description);
  RowTable<std::uint16_t> table;
  const auto w = static_cast<std::size_t>(image.width());
  try {
    table.reserve(static_cast<std::size_t>(image.height()));
    for (std::int32_t y = 0; y < image.height(); ++y) {
      table.emplace_back(new std::uint16_t[w]);
      std::memcpy(table.back().get(), image.Row<std::uint16_t>(y), image.row_size());
    }
  } catch (const std::bad_alloc&) {
    rif_core::ReaderError(path, "no allocatable memory for cell.");
  }
  *rows = std::move(table);
}

}  // namespace pv
