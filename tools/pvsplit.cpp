// pvsplit image.bin TIFF_format
//
// Cuts a raw volume (a header line "width height [count]" and then the
// slices as little-endian doubles) into one floating-point TIFF per slice,
// named by TIFF_format and the slice index, each carrying its own minimum
// and maximum as its description; prints the range over all slices. A
// TIFF_format without a conversion (one name for every slice; "-" is
// standard output) names one file of all slices, page k = slice k, each
// page carrying its own minimum and maximum.
//
// The volume is read a slice at a time (slices/raw_volume.h): memory
// follows the bytes the body actually supplies, so a few bytes declaring a
// huge volume cost a few bytes, and end with "data read error".
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "common/description.h"
#include "common/error.h"
#include "common/interrupt.h"
#include "common/messages.h"
#include "common/progress.h"
#include "common/range.h"
#include "slices/name_pattern.h"
#include "slices/raw_volume.h"
#include "tiffwrite/sif_f.h"
#include "tiffwrite/tiff_out.h"

namespace {

using pv::Error;
namespace rv = pv::raw_volume;
namespace np = pv::name_pattern;

// Removes the regular file `name` ("-" is standard output).
void RemoveFile(const char* name) {
  struct stat st;
  if (!pv::IsStandardOutput(name) && ::stat(name, &st) == 0 && S_ISREG(st.st_mode))
    std::remove(name);
}

int Run(int argc, char** argv) {
  pv::CatchInterrupts();
  if (argc != 3) Error(pv::msg::kUsagePvsplit);
  const char* format = argv[2];
  const bool names_too_long = np::CheckNameFormat(format);

  std::FILE* in = rv::IsStandardStream(argv[1]) ? stdin : std::fopen(argv[1], "rb");
  if (in == nullptr) Error(pv::msg::kFileNotFound);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> input(in == stdin ? nullptr : in, std::fclose);

  rv::VolumeIn volume(in);
  const rv::Header& h = volume.header();
  const pv::FloatRows rows = [&](std::uint32_t y, double* scratch) {
    pv::CheckInterrupt();
    return volume.Row(y, scratch);
  };

  pv::Range range;
  char name[2048];
  // One name for every slice: one file, a page a slice.
  const bool stack = !np::HasConversion(format);
  std::optional<pv::TiffFileOut> pages;
  if (stack) {
    np::FormatName(name, format, names_too_long, 0);
    pages.emplace(name, /*allow_stdout=*/true, std::uint32_t(h.count));
    pages->ExpectNext(std::uint32_t(h.width), std::uint32_t(h.height));
  }
  pv::Progress progress(std::size_t(h.count));
  for (int k = 0; k < h.count; ++k) {
    try {
      pv::CheckInterrupt();
      volume.NextSlice();
    } catch (...) {
      // A stack file is not left without its later pages.
      if (stack && (k > 0 || pv::Interrupted() != 0)) RemoveFile(name);
      throw;
    }
    if (!stack) np::FormatName(name, format, names_too_long, k);
    try {
      if (stack)
        pv::StoreImagePage_Float(*pages, h.width, h.height, rows, pv::SIF_F_desc,
                                 pv::FloatLayout::kOneStrip);
      else
        pv::StoreImageFile_Float(name, h.width, h.height, rows, pv::SIF_F_desc,
                                 pv::FloatLayout::kOneStrip);
    } catch (...) {
      // A volume cut short by another process while this slice was read
      // leaves no file of the slice, as a volume that was short from the
      // start does; so does an interrupt; a stack file is not left without
      // its later pages.
      if (volume.cut_short() || pv::Interrupted() != 0 || (stack && k > 0)) RemoveFile(name);
      throw;
    }
    range.Join(pv::Range::Spanning(pv::SIF_F_min, pv::SIF_F_max));
    progress.Count();
  }
  std::printf("%s\n", pv::RangeText(range.min(), range.max()).c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return pv::RunMain(Run, argc, argv); }
