// Module rif_f: the TIFF reader delivering rows of doubles, from integer
// samples of 1 to 32 bits or IEEE floating-point samples of 32 or 64 bits.
#include "tiffread/rif_f.h"

#include "tiffread/reader_core.h"

namespace pv {

int ReadImageFile_Float(const char* path, std::int32_t* width, std::int32_t* height,
                        RowTable<double>* rows, std::optional<std::string>* description) {
  rif_core::TiffFile tif(path);
  rif_core::StripLayout layout;

  bool floating = false;
  if (auto format = tif.GetShort(339)) {
    if (*format == 3) floating = true;
    else if (*format != 1) tif.Error("unknown sample format.");
  }

  int bits = 1;
  if (auto stored = tif.GetShort(258)) {
    const unsigned b = *stored;
    if (b == 0 || (floating ? b != 32 && b != 64 : b > 32)) tif.Error("bad bits per sample.");
    bits = static_cast<int>(b);
  } else if (floating) {
    tif.Error("bad bits per sample.");
  }
  // The result classifies the file whatever is requested: its bits per
  // sample when it holds integers, 0 for floating-point samples.
  const int result = floating ? 0 : bits;
  layout.bits = bits;

  rif_core::ReadImageSize(tif, width, height, rows != nullptr, layout);

  if (description != nullptr) *description = tif.ReadDescription();
  if (rows == nullptr) return result;

  rif_core::ReadStripTags(tif, floating, layout);
  using rif_core::SampleKind;
  if (floating) layout.kind = bits == 32 ? SampleKind::kFloat32 : SampleKind::kFloat64;
  else if (bits == 8) layout.kind = SampleKind::kInt8;
  else if (bits == 16) layout.kind = SampleKind::kInt16;
  else if (bits == 32) layout.kind = SampleKind::kInt32;
  else layout.kind = SampleKind::kPacked;
  rif_core::ReadStrips(tif, layout, *rows);
  return result;
}

}  // namespace pv
