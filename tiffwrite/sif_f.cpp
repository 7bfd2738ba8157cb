// The float writer's entry points and the globals it shares with its
// callers; the layouts are in sif_f_fast.cpp (one strip) and sif_f_full.cpp
// (strips, LZW or not).
#include "common/error.h"
#include "common/messages.h"
#include "tiffwrite/sif_f.h"

#include "tiffwrite/sif_f_common.h"
#include "tiffwrite/tiff_out.h"

namespace pv {

const char SIF_F_form[2048] = "%lf\t%lf";
char SIF_F_desc[2048] = {};
double SIF_F_min = 0;
double SIF_F_max = 0;

void StoreImageFile_Float(const char* path, int nx, int ny, const FloatRows& rows,
                          const char* description, FloatLayout layout) {
  TiffFileOut file(path, /*allow_stdout=*/layout == FloatLayout::kOneStrip);
  StoreImagePage_Float(file, nx, ny, rows, description, layout);
}

void StoreImagePage_Float(TiffFileOut& file, int nx, int ny, const FloatRows& rows,
                          const char* description, FloatLayout layout) {
  if (nx < 1 || ny < 1) Error(file.path(), msg::kFileNotStored);
  const auto width = std::uint32_t(nx), height = std::uint32_t(ny);
  sif_f::FloatDescription text = sif_f::FloatDescription::Of(description);
  switch (layout) {
    case FloatLayout::kOneStrip: sif_f::StoreOneStrip(file, width, height, rows, text); return;
    case FloatLayout::kStrips: sif_f::StoreStrips(file, width, height, rows, text, false); return;
    case FloatLayout::kLzwStrips: sif_f::StoreStrips(file, width, height, rows, text, true); return;
  }
}

}  // namespace pv
