#include "slices/csi_f.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>

#include "common/error.h"
#include "tiffread/rif_f.h"

namespace pv {

namespace {

using csi_f::Error;

// The stack being built: the directory text with its "/" (every slice path
// begins with it) and the largest size and bits per sample seen so far.
std::string Directory;
std::size_t DirLen = 0;
int nx = 0, ny = 0, bps = 0;

// The range of everything Dump_TIFF_Float wrote in this process.
bool first = true;
double Min = 0, Max = 0;

// The entries of a directory except "." and "..", in the order of the listing.
std::vector<std::string> ListDirectory(const char* directory) {
  DIR* dir = opendir(directory);
  if (dir == nullptr) Error(directory, "directory not open");
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) break;
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    names.emplace_back(entry->d_name);
  }
  // A listing broken off by a read error must not pass for a shorter stack.
  const bool failed = errno != 0;
  closedir(dir);
  if (failed) Error(directory, "directory not open");
  return names;
}

// The file names of the stack, in the order of their names argument.
std::vector<std::string> CollectNames(const char* directory, const char* names) {
  std::vector<std::string> list;
  switch (csi_f::FormOf(names)) {
    case csi_f::Form::kNameFile: {
      std::FILE* file = std::fopen(names, "r");
      if (file == nullptr) Error(names, "name file not open");
      try {
        list = csi_f::ReadNameFile(file, names);
      } catch (...) {
        std::fclose(file);
        throw;
      }
      std::fclose(file);
      if (list.empty()) Error(names, "no image file name");
      break;
    }
    case csi_f::Form::kInlineList:
      list = csi_f::InlineNames(names + 1);
      if (list.empty()) Error(names + 1, "no image file name");
      break;
    case csi_f::Form::kListing:
      list = ListDirectory(directory);
      if (list.empty()) Error(directory, "no image file name");
      break;
  }
  return list;
}

// Running extremes over the values just written, with the rule "a value
// replaces the minimum when smaller, else the maximum when greater": a NaN
// never becomes an extreme, unless it is the very first value, which then
// holds both for good (every comparison with it fails).
//
// The values are tracked in four interleaved lanes joined at the end. That
// gives the same extremes as one pass in order, because the order cannot
// matter: no value written is -0 (a product sample x step with step > 0 is
// +0 or more, +0 plus any base is never -0, and padding is +0), so equal
// values are identical, and a NaN start stays NaN in every lane.
void TrackRange(const double* v, std::size_t n) {
  std::size_t k = 0;
  if (first && n != 0) {
    first = false;
    Min = Max = v[0];
    k = 1;
  }
  double lo[4] = {Min, Min, Min, Min}, hi[4] = {Max, Max, Max, Max};
  for (; k + 4 <= n; k += 4) {
    for (int l = 0; l < 4; ++l) {
      lo[l] = v[k + l] < lo[l] ? v[k + l] : lo[l];
      hi[l] = v[k + l] > hi[l] ? v[k + l] : hi[l];
    }
  }
  for (; k < n; ++k) {
    lo[0] = v[k] < lo[0] ? v[k] : lo[0];
    hi[0] = v[k] > hi[0] ? v[k] : hi[0];
  }
  for (int l = 1; l < 4; ++l) {
    lo[0] = lo[l] < lo[0] ? lo[l] : lo[0];
    hi[0] = hi[l] > hi[0] ? hi[l] : hi[0];
  }
  Min = lo[0];
  Max = hi[0];
}

}  // namespace

std::vector<std::string> CheckSliceImages_Float(const char* directory, const char* names,
                                                int* width, int* height, int* count, int* bits) {
  if (std::strlen(directory) > csi_f::kMaxDirectory) Error(directory, "too long name");
  Directory = std::string(directory) + "/";
  DirLen = Directory.size();
  nx = ny = bps = 0;

  const std::vector<std::string> list = CollectNames(directory, names);
  std::vector<std::string> paths;
  try {
    paths.reserve(list.size());
  } catch (const std::bad_alloc&) {
    Error(Directory, "no memory for paths");
  }
  for (const std::string& name : list) {
    std::string path;
    try {
      path.reserve(DirLen + name.size());
      path.append(Directory).append(name);
    } catch (const std::bad_alloc&) {
      Error(Directory, "no memory for path");
    }
    // Header, directory, sample format, bits per sample and size only; the
    // rest of the file is looked at when the slice is exported.
    std::int32_t w = 0, h = 0;
    const int result = ReadImageFile_Float(path.c_str(), &w, &h, nullptr, nullptr);
    nx = std::max(nx, int(w));
    ny = std::max(ny, int(h));
    bps = std::max(bps, result);
    paths.push_back(std::move(path));
  }

  if (csi_f::FormOf(names) == csi_f::Form::kListing) {
    // The option is looked at only now, after every slice has been opened.
    const std::optional<csi_f::Order> order = csi_f::SortingOption(names);
    if (!order) Error(names + 1, "unknown sorting option");
    csi_f::SortNames(paths, DirLen, *order);
  }

  if (width != nullptr) *width = nx;
  if (height != nullptr) *height = ny;
  if (count != nullptr) *count = int(paths.size());
  if (bits != nullptr) *bits = bps;
  return paths;
}

void Dump_TIFF_Float(int width, int height, const char* path, VolumeOut& out) {
  std::int32_t w = 0, h = 0;
  RowTable<double> rows;
  std::optional<std::string> description;
  const int bits = ReadImageFile_Float(path, &w, &h, &rows, &description);

  double base = 0, step = 1;
  if (bits != 0) {
    csi_f::Mapping m;
    if (description) m = csi_f::DescriptionMapping(*description, bits);
    base = m.base;
    step = m.step;
    Warn(std::string(path) + " : " +
         (m.found ? "converting PV by TIFF image description tag"
                  : "using integer PV as is floating-point PV") +
         " (warning).\n");
  }
  description.reset();

  // Every row of the frame goes out in blocks straight from the output
  // buffer: the slice's samples mapped, then zeros to the stack width; rows
  // below the slice are all zeros. Each slice row is freed once written.
  const std::size_t frame_width = width > 0 ? std::size_t(width) : 0;
  for (int i = 0; i < height; ++i) {
    const bool in_slice = i < h && std::size_t(i) < rows.size();
    const double* src = in_slice ? rows[std::size_t(i)].get() : nullptr;
    const std::size_t mapped = src != nullptr ? std::min(frame_width, std::size_t(w)) : 0;
    for (std::size_t j = 0; j < frame_width;) {
      std::size_t room;
      double* dst = out.Room(room);
      const std::size_t n = std::min(room, frame_width - j);
      const std::size_t m = j < mapped ? std::min(n, mapped - j) : 0;
      for (std::size_t k = 0; k < m; ++k) {
        // Two roundings, kept apart as two statements (a fused multiply-add
        // would change the values). A float slice passes through x * 1 + 0,
        // which leaves every value as it is except -0, written as +0.
        const double scaled = src[j + k] * step;
        dst[k] = scaled + base;
      }
      std::fill(dst + m, dst + n, 0.0);
      TrackRange(dst, n);
      out.Commit(n);
      j += n;
    }
    if (src != nullptr) rows[std::size_t(i)].reset();
  }
}

namespace csi_f {

double Min() { return pv::Min; }
double Max() { return pv::Max; }

void ResetRange() {
  first = true;
  pv::Min = pv::Max = 0;
}

}  // namespace csi_f

}  // namespace pv
