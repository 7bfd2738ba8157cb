// Slice module csi_f: the slice list of a stack and the export of each
// slice into a raw volume body.
//
// A stack is a directory of slice images and a names argument: a name
// file, an inline list ("-a.tif b.tif") or the whole directory in a sorted
// order ("-", "--r", "--n", "--nr"). CheckSliceImages_Float turns them into
// the ordered list of slice paths, opening every slice once as a TIFF image
// for its size. Dump_TIFF_Float then appends one slice at a time to the
// volume as a full frame of the stack size, integer slices mapped back to PV
// by their description, and keeps the range of every value written.
//
// The module keeps one stack per process in its file-scope state, as
// pvstack uses it.
#pragma once

#include <string>
#include <vector>

#include "slices/csi_f_core.h"

namespace pv {

using csi_f::VolumeOut;

// The slice paths (`directory` + "/" + file name) in stack order. Each
// output pointer may be null: width and height are the largest over all
// slices, count the number of slices, bits the largest bits per sample of
// the integer slices (0 when all are floating-point). Faults of the list end
// the run with "<subject> : <message>.\n", faults of a slice file with the
// reader's message for it.
std::vector<std::string> CheckSliceImages_Float(const char* directory, const char* names,
                                                int* width, int* height, int* count, int* bits);

// Reads the slice at `path` and appends it to `out` as `height` rows of
// `width` values: sample x step + base within the slice, 0 to the right of
// and below a smaller slice. Integer slices print one warning line saying
// whether their description gave the mapping.
void Dump_TIFF_Float(int width, int height, const char* path, VolumeOut& out);

namespace csi_f {

// The smallest and largest value written by Dump_TIFF_Float in this process
// (a NaN never becomes either, unless it was the very first value).
double Min();
double Max();

// Forgets the range, as if no value had been written yet. For tests; a run
// of pvstack keeps one range over all its slices.
void ResetRange();

}  // namespace csi_f

}  // namespace pv
