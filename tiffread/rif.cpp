// Module rif: the TIFF reader delivering 16-bit samples.
#include "tiffread/rif.h"

#include "tiffread/reader_core.h"

namespace pv {

void ReadImageFile(const char* path, std::int32_t* width, std::int32_t* height, int* bits,
                   StoredImage* image, std::optional<std::string>* description) {
  if (image != nullptr) image->Clear();
  TiffPages pages(path);
  ReadPage(pages, width, height, bits, image, description);
}

void ReadPage(TiffPages& pages, std::int32_t* width, std::int32_t* height, int* bits,
              StoredImage* image, std::optional<std::string>* description) {
  if (image != nullptr) image->Clear();
  reader::TiffFile& tif = pages.file();
  reader::StripLayout layout;
  namespace rule = reader::rule;

  reader::ReadImageSize(tif, width, height, image != nullptr, layout);

  // Integer samples of 1 to 16 bits only, signed ones of 8 or 16; a
  // floating-point file is refused for its 32 or 64 bits, a 16-bit one for
  // its sample format.
  std::uint32_t format = tiff::kSampleUnsigned;
  if (bits != nullptr || image != nullptr) {
    layout.bits = static_cast<int>(tif.TagValue(rule::kBitsInt));
    format = tif.TagValue(rule::kSampleFormatInt);
    if (format == tiff::kSampleSigned) tif.TagValue(rule::kBitsSigned);
    if (bits != nullptr) *bits = layout.bits;
  }

  if (description != nullptr) *description = tif.ReadDescription();
  if (image == nullptr) return;

  reader::ReadStripTags(tif, /*floating=*/false, layout);
  layout.big_endian = tif.big_endian();
  reader::SetSampleForm(format, layout.bits, /*sixteen=*/true, layout);
  reader::ReadBlocks(tif, layout, *image);
}

}  // namespace pv
