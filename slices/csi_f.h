// Slice module csi_f: the slice list of a stack and the export of each
// slice into a raw volume body.
//
// A stack is a directory of slice images and a names argument: a name
// file, an inline list ("-a.tif b.tif") or the whole directory in a sorted
// order ("-", "--r", "--n", "--nr"). CheckSliceImages_Float turns them into
// the ordered list of slices, opening every file once as a TIFF image for
// the size of each of its pages: a file of several pages (a stack in one
// file) gives all its pages, in order, as consecutive slices where its name
// stands. Dump_TIFF_Float then appends one slice at a time to the
// volume as a full frame of the stack size, integer slices mapped back to PV
// by their description, and keeps the range of every value written.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/range.h"
#include "slices/raw_volume.h"
#include "slices/stack_names.h"
#include "tiffread/pages.h"

namespace pv {

using raw_volume::VolumeOut;

// The size of one slice, as its directory gives it, and its page in its
// file.
struct SliceSize {
  int width = 0, height = 0;
  PageAt page;
};

// Every page of the TIFF file at `path`, in order, each through the
// reader's first checks (a fault ends the run with the reader's line for
// the page). `bits` (may be null) takes the largest bits per sample of its
// integer pages, 0 when all are floating-point.
std::vector<SliceSize> ImagePages_Float(const char* path, int* bits);

// The slice paths (`directory` + "/" + file name) in stack order, one per
// page. Each output pointer may be null: width and height are the largest
// over all slices, count the number of slices, bits the largest bits per
// sample of the integer slices (0 when all are floating-point), sizes the
// size and page of each slice in stack order. While standard error is a
// terminal, the files opened so far show on a progress line. Faults of the
// list end the run with "<subject> : <message>.\n", faults of a slice file with the
// reader's message for it.
std::vector<std::string> CheckSliceImages_Float(const char* directory, const char* names,
                                                int* width, int* height, int* count, int* bits,
                                                std::vector<SliceSize>* sizes = nullptr);

// Whether writing the volume to `target` would write over one of `paths`:
// the same file (device and inode) as the named file, if it exists, or as
// standard output when `target` begins with "-".
bool OverwritesASlice(const char* target, const std::vector<std::string>& paths);

// The export of slices into a raw volume body: every slice becomes a frame
// of the stack size, `height` rows of `width` values, sample x step + base
// within the slice and 0 to the right of and below a smaller slice. Integer
// slices print one warning line saying whether their description gave the
// mapping. The stack keeps the range of every value written.
//
// Slices are read ahead on the usable CPUs while earlier ones are written:
// what a user sees is that of reading and writing one slice after the
// other. Slice k's warnings come after slice k - 1 is written, and a fault
// of slice k ends the run after slices 0 .. k-1 are written whole. At most
// a few slices are in memory at once, in buffers kept from slice to slice.
class SliceStack {
 public:
  SliceStack(int width, int height);
  ~SliceStack();
  SliceStack(const SliceStack&) = delete;
  SliceStack& operator=(const SliceStack&) = delete;

  // Reads the slice at `path` whole, as its export will, without printing
  // its warnings; a fault ends the run with the reader's message. When
  // `first` (it is the first slice to export), the slice is kept and its
  // export prints the warnings it would have printed.
  void CheckSlice(const char* path, bool first, const PageAt& page = {});

  // Reads every slice of `paths` in turn, reading ahead, and appends its
  // frame to `out`. Slice k is page pages[k].page of its file (page 1 of
  // every file without `pages`).
  void Dump_TIFF_Float(const std::vector<std::string>& paths, VolumeOut& out,
                       const std::vector<SliceSize>* pages = nullptr);

  // The smallest and largest finite value written so far (NaN while none
  // was).
  double Min() const { return range_.min(); }
  double Max() const { return range_.max(); }

 private:
  struct Slice;
  // Reads the slice at `path` into `slice`; its warnings go out as it reads.
  void Read(const char* path, const PageAt& page, Slice& slice) const;
  // The slice of the next turn: read now, or read ahead by CheckSlice, whose
  // warnings come now.
  void Take(const char* path, const PageAt& page, bool read_ahead, Slice& slice) const;
  // Makes the slice's frame a band of values at a time, handing each band
  // to sink(values, count) in order, and finds the frame's range.
  template <class Sink>
  void MakeFrame(Slice& slice, Sink&& sink) const;
  void Write(Slice& slice, VolumeOut& out);

  int width_, height_;
  Range range_;
  std::unique_ptr<Slice> checked_;  // the first slice, read by CheckSlice
};

}  // namespace pv
