// pvquant TIFF_float {base step} BPS TIFF_int
//
// Quantises a TIFF image to BPS bits per sample (1 to 16): base maps to
// code 0, each step adds 1, values are clamped to 0 .. 2^BPS - 1. Without
// base and step the mapping runs from the image's minimum (code 0) to its
// maximum (the top code), and the minimum and maximum are printed. The
// input's description goes to the output unchanged.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/error.h"
#include "tiffread/rif_f.h"
#include "tiffread/row_table.h"
#include "tiffwrite/sif.h"

namespace {

using pv::Error;

// atoi's reading (leading digits, no number gives 0), without its undefined
// result on overflow: out-of-range values saturate.
int ParseInt(const char* text) {
  long v = std::strtol(text, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// The code of v: 0 at or below base, the top code at or above top, else the
// nearest code with halves rounded up. A value that gives no number (a NaN
// pixel, or a mapping made of NaN) gets code 0.
std::uint16_t Quantise(double v, double base, double step, double top, std::uint32_t top_code) {
  if (v <= base) return 0;
  if (v >= top) return static_cast<std::uint16_t>(top_code);
  const double q = (v - base) / step + 0.5;
  if (!(q >= 0)) return 0;
  if (q >= top_code) return static_cast<std::uint16_t>(top_code);  // rounding at the top edge
  return static_cast<std::uint16_t>(q);
}

int Run(int argc, char** argv) {
  if (argc != 4 && argc != 6) Error("usage : pvquant TIFF_float {base step} BPS TIFF_int");
  const char* input = argv[1];
  const char* output = argv[argc - 1];

  std::int32_t width = 0, height = 0;
  pv::RowTable<double> rows;
  std::optional<std::string> description;
  if (pv::ReadImageFile_Float(input, &width, &height, &rows, &description) != 0)
    pv::Warn(std::string(input) + " : containing non-float pixel values (warning).\n");

  const int bps = ParseInt(argv[argc - 2]);
  if (bps < 1 || bps > 16) Error("bad bit per sample (BPS).");
  const std::uint32_t top_code = (1u << bps) - 1;

  double base, step, top;
  if (argc == 6) {
    step = std::strtod(argv[3], nullptr);
    if (!(step > 0)) Error("bad value step.");
    base = std::strtod(argv[2], nullptr);
    top = base + top_code * step;
  } else {
    double lo = rows[0][0], hi = lo;
    for (std::int32_t i = 0; i < height; ++i)
      for (std::int32_t j = 0; j < width; ++j) {
        const double v = rows[i][j];
        if (lo > v)
          lo = v;
        else if (v > hi)
          hi = v;
      }
    base = lo;
    top = hi;
    step = hi > lo ? (hi - lo) / top_code : 1;
    std::printf("%lf\t%lf\n", lo, hi);
  }

  // Each row of doubles becomes a row of 16-bit codes in the same storage:
  // code j goes to bytes 2j and 2j + 1, which belong to a double already
  // read (j / 4 <= j), so no second buffer is needed.
  std::vector<const std::uint16_t*> codes(static_cast<std::size_t>(height));
  for (std::int32_t i = 0; i < height; ++i) {
    double* row = rows[i].get();
    auto* bytes = reinterpret_cast<unsigned char*>(row);
    for (std::int32_t j = 0; j < width; ++j) {
      const std::uint16_t c = Quantise(row[j], base, step, top, top_code);
      std::memcpy(bytes + 2 * std::size_t(j), &c, sizeof c);
    }
    codes[i] = reinterpret_cast<const std::uint16_t*>(bytes);
  }

  pv::StoreImageFile(output, width, height, bps, codes.data(),
                     description ? description->c_str() : nullptr);
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return pv::RunMain(Run, argc, argv); }
