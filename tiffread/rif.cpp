// Module rif: the TIFF reader delivering rows of unsigned 16-bit samples.
#include "tiffread/rif.h"

#include "tiffread/reader_core.h"

namespace pv {

void ReadImageFile(const char* path, std::int32_t* width, std::int32_t* height, int* bits,
                   RowTable<std::uint16_t>* rows, std::optional<std::string>* description) {
  rif_core::TiffFile tif(path);
  rif_core::StripLayout layout;

  rif_core::ReadImageSize(tif, width, height, rows != nullptr, layout);

  // Integer samples of 1 to 16 bits only; a floating-point file is not
  // recognised as such and its 32 or 64 bits are refused here.
  if (bits != nullptr || rows != nullptr) {
    int b = 1;
    if (auto stored = tif.GetShort(258)) {
      if (*stored < 1 || *stored > 16) tif.Error("bad bits per sample.");
      b = static_cast<int>(*stored);
    }
    if (bits != nullptr) *bits = b;
    layout.bits = b;
  }

  if (description != nullptr) *description = tif.ReadDescription();
  if (rows == nullptr) return;

  rif_core::ReadStripTags(tif, /*floating=*/false, layout);
  layout.kind = layout.bits == 8    ? rif_core::SampleKind::kInt8
                : layout.bits == 16 ? rif_core::SampleKind::kInt16
                                    : rif_core::SampleKind::kPacked;
  rif_core::ReadStrips(tif, layout, *rows);
}

}  // namespace pv
