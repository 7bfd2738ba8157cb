// The float writer's entry points and the globals it shares with its
// callers; the layouts are in fast_float_writer.cpp (one strip) and
// full_float_writer.cpp (strips, LZW or not).
#include "common/error.h"
#include "common/messages.h"
#include "tiffwrite/sif_f.h"

#include "tiffwrite/float_writer.h"
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
  float_writer::FloatDescription text = float_writer::FloatDescription::Of(description);
  switch (layout) {
    case FloatLayout::kOneStrip: float_writer::StoreOneStrip(file, width, height, rows, text); return;
    case FloatLayout::kStrips: float_writer::StoreStrips(file, width, height, rows, text, false); return;
    case FloatLayout::kLzwStrips: float_writer::StoreStrips(file, width, height, rows, text, true); return;
  }
}

}  // namespace pv
