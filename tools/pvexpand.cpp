// pvexpand TIFF_int base step TIFF_float
//
// Turns an integer TIFF image back into a floating-point one: value = base
// + step x sample. The input's description goes to the output unchanged.
// One front end, three programs: the layout of the float file is fixed when
// the program is built (PVEXPAND_LAYOUT: kLzwStrips for pvexpand, kStrips
// for pvexpand-nolzw, kOneStrip for pvexpand-fast).
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/error.h"
#include "common/messages.h"
#include "tiffread/image.h"
#include "tiffread/rif.h"
#include "tiffwrite/sif_f.h"

#ifndef PVEXPAND_LAYOUT
#error "PVEXPAND_LAYOUT must name the float file's layout (a pv::FloatLayout)"
#endif

namespace {

using pv::Error;

constexpr pv::FloatLayout kLayout = pv::FloatLayout::PVEXPAND_LAYOUT;

int Run(int argc, char** argv) {
  if (argc != 5) Error(pv::msg::kUsagePvexpand);

  // The whole image is read before the output exists: a fault of the input
  // leaves nothing behind.
  std::int32_t width = 0, height = 0;
  pv::StoredImage samples;
  std::optional<std::string> description;
  pv::ReadImageFile(argv[1], &width, &height, nullptr, &samples, &description);

  // Each row of values is made when the writer asks for it.
  const double base = std::atof(argv[2]);
  const double step = std::atof(argv[3]);
  // Samples are unsigned, or signed (int16) where the file says so.
  auto values = [&](std::uint32_t y, double* row) -> const double* {
    pv::VisitRow(samples, std::int32_t(y), [&](const auto* in) {
      for (std::int32_t j = 0; j < width; ++j) row[j] = base + step * in[j];
    });
    return row;
  };
  pv::StoreImageFile_Float(argv[4], width, height, values,
                           description ? description->c_str() : nullptr, kLayout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return pv::RunMain(Run, argc, argv); }
