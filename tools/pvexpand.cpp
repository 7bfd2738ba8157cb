// pvexpand TIFF_int base step TIFF_float
//
// Turns an integer TIFF image back into a floating-point one: value = base
// + step x sample. The input's description goes to the output unchanged.
// One front end, three programs: the writer is chosen when the program is
// built (PVEXPAND_WRITER: sif_f_full_lzw, sif_f_full_nolzw or sif_f_fast).
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <string>

#include "common/error.h"
#include "common/sizes.h"
#include "tiffread/rif.h"
#include "tiffread/row_table.h"
#include "tiffwrite/sif_f.h"

#ifndef PVEXPAND_WRITER
#error "PVEXPAND_WRITER must name the floating-point writer's namespace"
#endif

using pv::PVEXPAND_WRITER::StoreImageFile_Float;

namespace {

using pv::Error;

int Run(int argc, char** argv) {
  if (argc != 5) Error("usage : pvexpand TIFF_int base step TIFF_float");

  std::int32_t width = 0, height = 0;
  pv::RowTable<std::uint16_t> samples;
  std::optional<std::string> description;
  pv::ReadImageFile(argv[1], &width, &height, nullptr, &samples, &description);

  const auto count = pv::MulSize(std::size_t(width), std::size_t(height));
  std::unique_ptr<const double*[]> rows(new (std::nothrow) const double*[std::size_t(height)]);
  if (!rows || !count) Error("memory allocation error.");
  std::unique_ptr<double[]> block(new (std::nothrow) double[*count]);
  if (!block) Error("memory allocation error.");

  const double base = std::atof(argv[2]);
  const double step = std::atof(argv[3]);
  for (std::int32_t i = 0; i < height; ++i) {
    double* row = block.get() + std::size_t(i) * std::size_t(width);
    const std::uint16_t* in = samples[i].get();
    for (std::int32_t j = 0; j < width; ++j) row[j] = base + step * in[j];
    rows[i] = row;
  }

  StoreImageFile_Float(argv[4], width, height, rows.get(),
                       description ? description->c_str() : nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return pv::RunMain(Run, argc, argv); }
