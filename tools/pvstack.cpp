// pvstack image.tif image.bin
// pvstack image/ nameFile image.bin
//
// Gathers the pages of one TIFF file, or the slices of a directory chosen
// and ordered by a names argument (every page of each), into a raw volume
// (a header line "width height [count]" and then the slices as 8-byte
// doubles); integer slices are mapped back to PV by their description.
// Prints the range of the values written. An output path beginning with "-" is standard output, and the
// range line then goes to standard error.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/description.h"
#include "common/error.h"
#include "common/interrupt.h"
#include "common/messages.h"
#include "slices/csi_f.h"
#include "slices/raw_volume.h"
#include "tiffread/rif_f.h"

namespace {

using pv::Error;

int Run(int argc, char** argv) {
  pv::CatchInterrupts();
  if (argc != 3 && argc != 4)
    Error(pv::msg::kUsagePvstack);

  // Every slice passes the reader's first checks before the output exists.
  int width = 0, height = 0, count = 1;
  std::vector<std::string> slices;
  std::vector<pv::SliceSize> sizes;
  if (argc == 3) {
    // Every page of the image is a slice.
    sizes = pv::ImagePages_Float(argv[1], nullptr);
    for (const pv::SliceSize& s : sizes) {
      width = std::max(width, s.width);
      height = std::max(height, s.height);
    }
    slices.assign(sizes.size(), argv[1]);
    count = int(sizes.size());
  } else {
    slices = pv::CheckSliceImages_Float(argv[1], argv[2], &width, &height, &count, nullptr, &sizes);
  }

  // The slices that set the stack's width and height are read whole before
  // the output exists: a slice that only claims a huge size fails here,
  // instead of after earlier slices were padded to that size on disk.
  pv::SliceStack stack(width, height);
  auto sets = [&](auto dimension) {
    return std::size_t(std::find_if(sizes.begin(), sizes.end(), dimension) - sizes.begin());
  };
  const std::size_t by_width = sets([&](const pv::SliceSize& s) { return s.width == width; });
  const std::size_t by_height = sets([&](const pv::SliceSize& s) { return s.height == height; });
  stack.CheckSlice(slices[by_width].c_str(), by_width == 0, sizes[by_width].page);
  if (by_height != by_width)
    stack.CheckSlice(slices[by_height].c_str(), by_height == 0, sizes[by_height].page);

  const char* target = argv[argc - 1];
  const bool to_stdout = pv::raw_volume::IsStandardStream(target);
  // A volume written over one of its own slices would destroy the slice
  // before it is read.
  if (pv::OverwritesASlice(target, slices)) Error(pv::msg::kFileNotOpen);
  std::FILE* file = to_stdout ? stdout : std::fopen(target, "wb");
  if (file == nullptr) Error(pv::msg::kFileNotOpen);
  pv::VolumeOut out(file, target, !to_stdout);

  out.PutText(pv::raw_volume::FormatHeader(width, height, count));
  stack.Dump_TIFF_Float(slices, out, &sizes);
  out.Close();

  std::fprintf(to_stdout ? stderr : stdout, "%s\n", pv::RangeText(stack.Min(), stack.Max()).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return pv::RunMain(Run, argc, argv); }
