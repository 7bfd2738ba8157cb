#include "slices/csi_f.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "common/description.h"
#include "common/error.h"
#include "common/interrupt.h"
#include "common/messages.h"
#include "common/parallel.h"
#include "common/progress.h"
#include "common/sizes.h"
#include "tiffread/image.h"
#include "tiffread/rif_f.h"

namespace pv {

namespace {

// The entries of a directory except "." and "..", in the order of the listing.
std::vector<std::string> ListDirectory(const char* directory) {
  DIR* dir = opendir(directory);
  if (dir == nullptr) Error(directory, msg::kDirectoryNotOpen);
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
  if (failed) Error(directory, msg::kDirectoryNotOpen);
  return names;
}

// The file names of the stack, in the order of their names argument.
std::vector<std::string> CollectNames(const char* directory, const char* names) {
  std::vector<std::string> list;
  switch (stack_names::FormOf(names)) {
    case stack_names::Form::kNameFile: {
      std::FILE* file = std::fopen(names, "r");
      if (file == nullptr) Error(names, msg::kNameFileNotOpen);
      try {
        list = stack_names::ReadNameFile(file, names);
      } catch (...) {
        std::fclose(file);
        throw;
      }
      std::fclose(file);
      if (list.empty()) Error(names, msg::kNoImageFileName);
      break;
    }
    case stack_names::Form::kInlineList:
      list = stack_names::InlineNames(names + 1);
      if (list.empty()) Error(names + 1, msg::kNoImageFileName);
      break;
    case stack_names::Form::kListing:
      list = ListDirectory(directory);
      if (list.empty()) Error(directory, msg::kNoImageFileName);
      break;
  }
  return list;
}

}  // namespace

std::vector<std::string> CheckSliceImages_Float(const char* directory, const char* names,
                                                int* width, int* height, int* count, int* bits,
                                                std::vector<SliceSize>* sizes) {
  if (std::strlen(directory) > stack_names::kMaxDirectory) Error(directory, msg::kTooLongName);
  // Every slice path begins with the directory text and its "/".
  const std::string prefix = std::string(directory) + "/";
  int nx = 0, ny = 0, bps = 0;

  const std::vector<std::string> list = CollectNames(directory, names);
  std::vector<std::string> paths;
  std::vector<SliceSize> found;
  // Each file's pages, in list order: every file is opened before the
  // listing is sorted, so that its faults come in the order of the names.
  std::vector<std::string> files;
  std::vector<std::vector<SliceSize>> pages;
  Allocate([&] {
    files.reserve(list.size());
    pages.reserve(list.size());
  }, prefix, msg::kNoMemoryForPaths);
  Progress progress(list.size(), msg::kProgressChecked);
  for (const std::string& name : list) {
    CheckInterrupt();
    std::string path = Allocate([&] { return prefix + name; }, prefix, msg::kNoMemoryForPath);
    // Header, directories, sample format, bits per sample and size only;
    // the rest of the file is looked at when the slice is exported.
    int result = 0;
    std::vector<SliceSize> of_file = ImagePages_Float(path.c_str(), &result);
    Allocate([&] { pages.push_back(std::move(of_file)); }, prefix, msg::kNoMemoryForPaths);
    for (const SliceSize& p : pages.back()) {
      nx = std::max(nx, p.width);
      ny = std::max(ny, p.height);
    }
    bps = std::max(bps, result);
    files.push_back(std::move(path));
    progress.Count();
  }

  std::vector<std::size_t> order(files.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  if (stack_names::FormOf(names) == stack_names::Form::kListing) {
    // The option is looked at only now, after every slice has been opened.
    const std::optional<stack_names::Order> sorting = stack_names::SortingOption(names);
    if (!sorting) Error(names + 1, msg::kUnknownSortingOption);
    // The pages follow their files through the sort (a listing names each
    // file once).
    std::unordered_map<std::string, std::size_t> by_path;
    for (std::size_t i = 0; i < files.size(); ++i) by_path.emplace(files[i], i);
    std::vector<std::string> sorted = files;
    stack_names::SortNames(sorted, prefix.size(), *sorting);
    for (std::size_t i = 0; i < sorted.size(); ++i) order[i] = by_path[sorted[i]];
  }
  Allocate([&] {
    for (const std::size_t i : order) {
      for (const SliceSize& p : pages[i]) {
        paths.push_back(files[i]);
        found.push_back(p);
      }
    }
  }, prefix, msg::kNoMemoryForPaths);

  if (width != nullptr) *width = nx;
  if (height != nullptr) *height = ny;
  if (count != nullptr) *count = int(paths.size());
  if (bits != nullptr) *bits = bps;
  if (sizes != nullptr) *sizes = std::move(found);
  return paths;
}

std::vector<SliceSize> ImagePages_Float(const char* path, int* bits) {
  std::vector<SliceSize> pages;
  TiffPages file(path);
  int most = 0;
  do {
    std::int32_t w = 0, h = 0;
    most = std::max(most, ReadPage_Float(file, &w, &h, nullptr, nullptr));
    Allocate([&] { pages.push_back({int(w), int(h), file.page()}); }, path, msg::kNoMemoryForPaths);
  } while (file.Next());
  if (bits != nullptr) *bits = most;
  return pages;
}

bool OverwritesASlice(const char* target, const std::vector<std::string>& paths) {
  struct stat out;
  if ((raw_volume::IsStandardStream(target) ? ::fstat(STDOUT_FILENO, &out) : ::stat(target, &out)) !=
      0)
    return false;
  for (const std::string& path : paths) {
    struct stat in;
    if (::stat(path.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
      return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Slice export.

// A slice read, with its mapping back to PV, ready to be written; then
// the range of its whole frame, found as the frame is made.
struct SliceStack::Slice {
  StoredImage image;  // the samples as read; kept from slice to slice
  double base = 0, step = 1;
  Range range;
  std::string warnings;  // of a slice read ahead by CheckSlice, due in its turn
  std::unique_ptr<double[]> band;  // a piece of the frame; kept from slice to slice
};

namespace {

// Frames are made and written a band at a time: small enough to stay in the
// cache from its making to its writing.
constexpr std::size_t kBandValues = std::size_t{1} << 15;

}  // namespace

SliceStack::SliceStack(int width, int height) : width_(width), height_(height) {}
SliceStack::~SliceStack() = default;

void SliceStack::Read(const char* path, const PageAt& page, Slice& slice) const {
  std::int32_t w = 0, h = 0;
  std::optional<std::string> description;
  TiffPages file(path, page);
  const int bits = ReadPage_Float(file, &w, &h, &slice.image, &description);
  slice.base = 0;
  slice.step = 1;
  if (bits != 0) {
    Mapping m;
    if (description) m = DescriptionMapping(*description, bits);
    slice.base = m.base;
    slice.step = m.step;
    Warning(file.subject(), m.found ? msg::kConvertingByDescription : msg::kIntegerAsIs);
  }
}

void SliceStack::Take(const char* path, const PageAt& page, bool read_ahead, Slice& slice) const {
  if (!read_ahead) {
    Read(path, page, slice);
  } else if (!slice.warnings.empty()) {
    Warn(slice.warnings);
    slice.warnings.clear();
  }
}

template <class Sink>
void SliceStack::MakeFrame(Slice& slice, Sink&& sink) const {
  const std::size_t frame_width = width_ > 0 ? std::size_t(width_) : 0;
  const std::size_t frame_height = height_ > 0 ? std::size_t(height_) : 0;
  const std::size_t columns = std::min(frame_width, std::size_t(slice.image.width()));
  const std::size_t rows = std::min(frame_height, std::size_t(slice.image.height()));
  if (!slice.band) slice.band = NewArray<double>(kBandValues, msg::kMemoryAllocation);
  double* const band = slice.band.get();
  std::size_t used = 0;  // values in the band
  auto flush = [&] {
    if (used != 0) sink(static_cast<const double*>(band), used);
    used = 0;
  };
  auto zeros = [&](std::size_t n) {
    while (n != 0) {
      if (used == kBandValues) flush();
      const std::size_t k = std::min(n, kBandValues - used);
      std::fill(band + used, band + used + k, 0.0);
      used += k;
      n -= k;
    }
  };

  // The range follows the frame in order: a row's values, then its padding
  // (any number of +0 weighs as one), and last the rows below the slice.
  static constexpr double kZero = 0.0;
  slice.range = Range();
  const double base = slice.base, step = slice.step;
  for (std::size_t i = 0; i < rows; ++i) {
    VisitRow(slice.image, std::int32_t(i), [&](const auto* src) {
      for (std::size_t j = 0; j < columns;) {
        if (used == kBandValues) flush();
        const std::size_t n = std::min(columns - j, kBandValues - used);
        double* dst = band + used;
        for (std::size_t k = 0; k < n; ++k) {
          // Two roundings, kept apart as two statements (a fused
          // multiply-add would change the values). A float slice passes
          // through x * 1 + 0, which leaves every value as it is except -0,
          // written as +0.
          const double scaled = static_cast<double>(src[j + k]) * step;
          dst[k] = scaled + base;
        }
        slice.range.Add(dst, n);
        used += n;
        j += n;
      }
    });
    if (columns < frame_width) {
      slice.range.Add(&kZero, 1);
      zeros(frame_width - columns);
    }
  }
  if (rows < frame_height && frame_width > 0) {
    slice.range.Add(&kZero, 1);
    zeros((frame_height - rows) * frame_width);
  }
  flush();
}

void SliceStack::Write(Slice& slice, VolumeOut& out) {
  MakeFrame(slice, [&](const double* v, std::size_t n) { out.PutValues(v, n); });
  range_.Join(slice.range);
}

void SliceStack::CheckSlice(const char* path, bool first, const PageAt& page) {
  auto slice = std::make_unique<Slice>();
  WarningCapture capture;
  Read(path, page, *slice);
  slice->warnings = capture.Take();
  if (first) checked_ = std::move(slice);
}

void SliceStack::Dump_TIFF_Float(const std::vector<std::string>& paths, VolumeOut& out,
                                 const std::vector<SliceSize>* pages) {
  auto page = [&](std::size_t i) { return pages != nullptr ? (*pages)[i].page : PageAt(); };
  // Two slices in work and one being written keep both CPUs of a small
  // machine busy; more slots only hold more memory.
  const BatchPlan plan{.items = paths.size(), .ahead = 1, .most_slots = 5, .most_threads = ThreadsFor(
                           std::uint64_t(width_) * std::uint64_t(height_) * sizeof(double) * paths.size())};
  std::vector<Slice> slice(plan.slots());
  if (checked_ && !paths.empty()) slice[0] = std::move(*checked_);
  const bool have_first = checked_ != nullptr;
  checked_.reset();
  Progress progress(paths.size());  // counted as each slice's turn ends

  // Into a regular file every frame is written at its own place by the
  // thread that made it, so frames are made and written on all CPUs at
  // once. What a user sees stays that of writing the frames in order: a
  // slice's warnings and failure come in its turn, and a run that ends at
  // slice k leaves exactly the header and the frames before k. Into
  // anything else (standard output, a pipe) the frames go out in order.
  const int fd = out.RegularFile();
  if (fd < 0) {
    OrderedParallel(
        plan.batches(), slice.size(),
        [&](std::size_t i, std::size_t s) {
          CheckInterrupt();
          Take(paths[i].c_str(), page(i), i == 0 && have_first, slice[s]);
        },
        [&](std::size_t, std::size_t s) {
          Write(slice[s], out);
          progress.Count();
        },
        plan.threads());
    return;
  }
  out.Flush();
  const std::uint64_t start = out.Offset();
  const std::uint64_t frame = std::uint64_t(width_) * std::uint64_t(height_) * sizeof(double);
  std::size_t written = 0;
  try {
    OrderedParallel(
        plan.batches(), slice.size(),
        [&](std::size_t i, std::size_t s) {
          CheckInterrupt();
          Take(paths[i].c_str(), page(i), i == 0 && have_first, slice[s]);
          std::uint64_t at = start + i * frame;
          MakeFrame(slice[s], [&](const double* v, std::size_t n) {
            CheckInterrupt();
            out.PutValuesAt(fd, v, n, at);
            at += n * sizeof(double);
          });
        },
        [&](std::size_t, std::size_t s) {
          range_.Join(slice[s].range);
          ++written;
          progress.Count();
        },
        plan.threads());
  } catch (...) {
    // Frames made ahead of the failing slice are taken back.
    if (::ftruncate(fd, static_cast<off_t>(start + written * frame)) != 0) {
      // The fault already being reported stays the one the user sees.
    }
    throw;
  }
  // The output stands behind the last frame, for whatever follows.
  out.Seek(start + written * frame);
}

}  // namespace pv
