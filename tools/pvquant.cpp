// pvquant TIFF_float {base step} BPS TIFF_int
//
// Quantises a TIFF image to BPS bits per sample (1 to 16): base maps to
// code 0, each step adds 1, values are clamped to 0 .. 2^BPS - 1. Without
// base and step the mapping runs from the image's minimum (code 0) to its
// maximum (the top code), and the minimum and maximum are printed. The
// output's description states the mapping (the input's own description
// where that already maps the codes back).
//
// A stack in one file (several pages) gives a file of as many pages, page k
// from input page k. Its derived mapping is one for the whole stack, from
// the range of every page, printed once and stated by every page.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "common/description.h"
#include "common/error.h"
#include "common/messages.h"
#include "common/parallel.h"
#include "common/range.h"
#include "tiffread/image.h"
#include "tiffread/pages.h"
#include "tiffread/rif_f.h"
#include "tiffwrite/sif.h"

namespace {

using pv::Error;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// atoi's reading (leading digits, no number gives 0), without its undefined
// result on overflow: out-of-range values saturate.
int ParseInt(const char* text) {
  long v = std::strtol(text, nullptr, 10);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// The codes of a row: 0 at or below base, the top code at or above top,
// else the nearest code with halves rounded up. A value that gives no number
// (a NaN pixel, or any value under a mapping made of NaN, as an image
// without a finite value derives) gets code 0, except +inf, which is the top
// code under any mapping. Written as selections rather than branches, so
// that the compiler makes one vector loop of it (the division dominates);
// every value is computed as the rules' order would, the rule nearest the
// end of the loop body winning.
template <class T>
void QuantiseRow(const T* in, std::uint16_t* out, std::size_t n, double base, double step,
                 double top, std::uint32_t top_code) {
  const double top_value = top_code;
  for (std::size_t j = 0; j < n; ++j) {
    const double v = static_cast<double>(in[j]);
    const double q = (v - base) / step + 0.5;
    double c = q >= top_value ? top_value : q;  // rounding at the top edge
    c = c >= 0 ? c : 0;                         // below 0, or no number
    std::uint32_t code = static_cast<std::uint32_t>(static_cast<std::int32_t>(c));
    code = !(q >= 0) && v == kInfinity ? top_code : code;
    code = v >= top ? top_code : code;
    code = v <= base ? 0 : code;
    out[j] = static_cast<std::uint16_t>(code);
  }
}

// The range of the image's finite samples, found a band of 64 rows at a time.
pv::Range ImageRange(const pv::StoredImage& image) {
  const pv::BatchPlan bands{.items = std::size_t(image.height()), .per_batch = 64,
                            .most_threads = pv::ThreadsFor(std::uint64_t(image.row_size()) * image.height())};
  return pv::RangeOfRows(bands, [&](pv::Range& range, std::size_t y, std::size_t) {
    pv::VisitRow(image, std::int32_t(y), [&](const auto* row) { range.Add(row, image.width()); });
  });
}

// Reads the current page whole; an integer page is warned of.
void ReadPage(pv::TiffPages& pages, pv::StoredImage& image, std::optional<std::string>& description) {
  if (pv::ReadPage_Float(pages, nullptr, nullptr, &image, &description) != 0)
    pv::Warning(pages.subject(), pv::msg::kNonFloatPixels);
}

int Run(int argc, char** argv) {
  if (argc != 4 && argc != 6) Error(pv::msg::kUsagePvquant);
  const char* input = argv[1];
  const char* output = argv[argc - 1];

  // Every page is read whole, in its stored sample width, before anything
  // else: a fault of the input leaves nothing behind. Page 1 is kept; the
  // later ones give their range and are read again as they are written.
  pv::StoredImage image, later;
  std::optional<std::string> description, later_description;
  pv::TiffPages pages(input);
  ReadPage(pages, image, description);
  pv::Range stack_range;
  std::uint32_t count = 1;
  std::int32_t widest = image.width(), tallest = image.height();
  while (pages.Next()) {
    if (count == 1) stack_range = ImageRange(image);
    ReadPage(pages, later, later_description);
    stack_range.Join(ImageRange(later));
    widest = std::max(widest, later.width());
    tallest = std::max(tallest, later.height());
    ++count;
  }

  const int bps = ParseInt(argv[argc - 2]);
  if (bps < 1 || bps > 16) Error(pv::msg::kBadBitsPerSampleBPS);
  const std::uint32_t top_code = (1u << bps) - 1;

  double base, step, top;
  if (argc == 6) {
    step = std::strtod(argv[3], nullptr);
    if (!(step > 0)) Error(pv::msg::kBadValueStep);
    base = std::strtod(argv[2], nullptr);
    top = base + top_code * step;
  } else {
    const pv::Range range = count == 1 ? ImageRange(image) : stack_range;
    base = range.min();
    top = range.max();
    step = top > base ? (top - base) / top_code : 1;
    std::printf("%s\n", pv::RangeText(base, top).c_str());
  }
  // Each page states the mapping its codes were made with; each row of
  // codes is made when the writer asks for it.
  pv::TiffFileOut out(output, /*allow_stdout=*/false, count);
  out.ExpectLargest(std::uint32_t(widest), std::uint32_t(tallest));
  auto store = [&](const pv::StoredImage& page, const std::optional<std::string>& text) {
    const std::string stated = pv::QuantisedDescription(text, bps, base, step, top, argc == 4);
    auto codes = [&](std::uint32_t y, std::uint16_t* row) -> const std::uint16_t* {
      pv::VisitRow(page, std::int32_t(y), [&](const auto* in) {
        QuantiseRow(in, row, std::size_t(page.width()), base, step, top, top_code);
      });
      return row;
    };
    pv::StoreImagePage(out, page.width(), page.height(), bps, codes, stated.c_str());
  };
  store(image, description);
  if (count > 1) {
    // The later pages again, their warnings already given.
    pv::WarningCapture said;
    pv::TiffPages again(input);
    while (again.Next()) {
      pv::ReadPage_Float(again, nullptr, nullptr, &later, &later_description);
      store(later, later_description);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return pv::RunMain(Run, argc, argv); }
