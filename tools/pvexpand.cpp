// pvexpand TIFF_int base step TIFF_float
//
// Turns an integer TIFF image back into a floating-point one: value = base
// + step x sample. The input's description goes to the output unchanged.
// One front end, three programs: the layout of the float file is fixed when
// the program is built (PVEXPAND_LAYOUT: kLzwStrips for pvexpand, kStrips
// for pvexpand-nolzw, kOneStrip for pvexpand-fast). A stack in one file
// (several pages) gives a file of as many pages, page k from input page k,
// each with its own description.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/error.h"
#include "common/messages.h"
#include "tiffread/image.h"
#include "tiffread/pages.h"
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

  // Every page is read whole before the output exists: a fault of the
  // input leaves nothing behind. Page 1 is kept; the later ones are read
  // again as they are written.
  pv::StoredImage samples, later;
  std::optional<std::string> description, later_description;
  pv::TiffPages pages(argv[1]);
  pv::ReadPage(pages, nullptr, nullptr, nullptr, &samples, &description);
  std::vector<std::pair<std::int32_t, std::int32_t>> sizes = {{samples.width(), samples.height()}};
  while (pages.Next()) {
    pv::ReadPage(pages, nullptr, nullptr, nullptr, &later, nullptr);
    sizes.emplace_back(later.width(), later.height());
  }
  const auto count = std::uint32_t(sizes.size());

  // Each row of values is made when the writer asks for it.
  const double base = std::atof(argv[2]);
  const double step = std::atof(argv[3]);
  pv::TiffFileOut out(argv[4], /*allow_stdout=*/kLayout == pv::FloatLayout::kOneStrip, count);
  std::int32_t widest = 0, tallest = 0;
  for (const auto& [w, h] : sizes) {
    widest = std::max(widest, w);
    tallest = std::max(tallest, h);
  }
  out.ExpectLargest(std::uint32_t(widest), std::uint32_t(tallest));
  std::size_t k = 0;
  auto store = [&](const pv::StoredImage& page, const std::optional<std::string>& text) {
    // A page written front to back states where the next one's directory lies.
    if (++k < sizes.size()) out.ExpectNext(std::uint32_t(sizes[k].first), std::uint32_t(sizes[k].second));
    // Samples are unsigned, or signed (int16) where the file says so.
    auto values = [&](std::uint32_t y, double* row) -> const double* {
      pv::VisitRow(page, std::int32_t(y), [&](const auto* in) {
        for (std::int32_t j = 0; j < page.width(); ++j) row[j] = base + step * in[j];
      });
      return row;
    };
    pv::StoreImagePage_Float(out, page.width(), page.height(), values,
                             text ? text->c_str() : nullptr, kLayout);
  };
  store(samples, description);
  if (count > 1) {
    // The later pages again, their warnings already given.
    pv::WarningCapture said;
    pv::TiffPages again(argv[1]);
    while (again.Next()) {
      pv::ReadPage(again, nullptr, nullptr, nullptr, &later, &later_description);
      store(later, later_description);
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return pv::RunMain(Run, argc, argv); }
