// Module rif_f: the TIFF reader for integer samples of 1 to 32 bits (signed
// ones of 8, 16 or 32) and IEEE floating-point samples of 16, 32 or 64 bits.
#include "tiffread/rif_f.h"

#include "tiffread/reader_core.h"

namespace pv {

int ReadImageFile_Float(const char* path, std::int32_t* width, std::int32_t* height,
                        StoredImage* image, std::optional<std::string>* description) {
  if (image != nullptr) image->Clear();
  TiffPages pages(path);
  return ReadPage_Float(pages, width, height, image, description);
}

int ReadPage_Float(TiffPages& pages, std::int32_t* width, std::int32_t* height,
                   StoredImage* image, std::optional<std::string>* description) {
  if (image != nullptr) image->Clear();
  reader::TiffFile& tif = pages.file();
  reader::StripLayout layout;
  namespace rule = reader::rule;

  const std::uint32_t format = tif.TagValue(rule::kSampleFormat_f);
  const bool floating = format == tiff::kSampleIEEEFloat;
  const int bits = static_cast<int>(tif.TagValue(floating                        ? rule::kBitsFloat
                                                 : format == tiff::kSampleSigned ? rule::kBitsSigned_f
                                                                                 : rule::kBitsInt_f));
  // The result classifies the file whatever is requested: its bits per
  // sample when it holds integers, 0 for floating-point samples.
  const int result = floating ? 0 : bits;
  layout.bits = bits;

  reader::ReadImageSize(tif, width, height, image != nullptr, layout);

  if (description != nullptr) *description = tif.ReadDescription();
  if (image == nullptr) return result;

  reader::ReadStripTags(tif, floating, layout);
  layout.big_endian = tif.big_endian();
  reader::SetSampleForm(format, bits, /*sixteen=*/false, layout);
  reader::ReadBlocks(tif, layout, *image);
  return result;
}

}  // namespace pv
