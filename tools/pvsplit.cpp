// pvsplit image.bin TIFF_format
//
// Cuts a raw volume (a header line "width height [count]" and then the
// slices as little-endian doubles) into one floating-point TIFF per slice,
// named by TIFF_format and the slice index, each carrying its own minimum
// and maximum as its description; prints the range over all slices.
//
// The header is only a line of text: memory follows the bytes the body
// actually supplies, so a few bytes declaring a huge volume cost a few
// bytes, and end with "data read error".
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "common/error.h"
#include "common/progress.h"
#include "common/range.h"
#include "common/sizes.h"
#include "slices/raw_volume.h"
#include "tiffwrite/sif_f.h"

namespace {

using pv::Error;
namespace rv = pv::raw_volume;

// The bytes left in `in` when it is a regular file, else nothing known.
std::size_t BytesLeft(std::FILE* in) {
  struct stat st;
  if (fstat(fileno(in), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  const long at = std::ftell(in);
  return at >= 0 && st.st_size > at ? std::size_t(st.st_size - at) : 0;
}

// One slice's samples, reused for every slice. It starts at what the input
// can supply (the bytes left in a regular file, else one block) and doubles
// while data keeps coming, up to a whole slice; from then on every slice is
// one read straight into it.
class SliceBuffer {
 public:
  SliceBuffer(std::size_t slice_bytes, std::size_t first)
      : slice_(slice_bytes), first_(std::min(slice_bytes, RoundUp(first))) {}

  // Fills the buffer with the next slice; "data read error" when the input
  // ends first, "memory allocation error." when the buffer cannot grow.
  void Read(std::FILE* in) {
    for (std::size_t have = 0; have < slice_;) {
      if (have == capacity_) {
        // Grow only for data that is there: a file that ends right at the
        // buffer's end costs no larger buffer.
        if (have > 0) {
          const int c = std::getc(in);
          if (c == EOF) Error("data read error");
          std::ungetc(c, in);
        }
        Grow();
      }
      const std::size_t want = capacity_ - have;
      const std::size_t got = std::fread(reinterpret_cast<unsigned char*>(data_.get()) + have, 1, want, in);
      have += got;
      if (got < want) Error("data read error");
    }
  }

  const double* samples() const { return data_.get(); }

 private:
  static constexpr std::size_t kBlock = std::size_t{1} << 16;

  // At least one block, whole samples.
  static std::size_t RoundUp(std::size_t n) {
    n = std::max(n, kBlock);
    return n + (rv::kSampleBytes - n % rv::kSampleBytes) % rv::kSampleBytes;
  }

  void Grow() {
    const std::size_t next = capacity_ == 0 ? first_ : capacity_ > slice_ / 2 ? slice_ : capacity_ * 2;
    void* p = std::realloc(data_.get(), next);
    if (p == nullptr) Error("memory allocation error.");
    (void)data_.release();
    data_.reset(static_cast<double*>(p));
    capacity_ = next;
  }

  struct Free {
    void operator()(double* p) const { std::free(p); }
  };
  const std::size_t slice_;
  const std::size_t first_;
  std::size_t capacity_ = 0;
  std::unique_ptr<double, Free> data_;
};

int Run(int argc, char** argv) {
  if (argc != 3) Error("usage : pvsplit image.bin TIFF_format");
  const char* format = argv[2];
  const bool names_too_long = rv::CheckNameFormat(format);

  std::FILE* in = argv[1][0] == '-' ? stdin : std::fopen(argv[1], "rb");
  if (in == nullptr) Error("file not found.");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> input(in == stdin ? nullptr : in, std::fclose);

  const rv::Header h = rv::ReadHeader(in);
  const auto bytes = pv::MulSize(std::size_t(h.width), std::size_t(h.height), rv::kSampleBytes);
  if (!bytes) Error("memory allocation error.");
  // Each slice is read whole before its file is made: a volume that ends
  // (or is cut short by another process) within a slice leaves no file of
  // that slice behind.
  SliceBuffer slice(*bytes, BytesLeft(in));
  const std::size_t row_values = std::size_t(h.width);
  const pv::FloatRows rows = [&](std::uint32_t y, double*) {
    return slice.samples() + y * row_values;
  };

  pv::Range range;
  char name[2048];
  pv::Progress progress(std::size_t(h.count));
  for (int k = 0; k < h.count; ++k) {
    slice.Read(in);
    rv::FormatName(name, format, names_too_long, k);
    pv::StoreImageFile_Float(name, h.width, h.height, rows, pv::SIF_F_desc,
                             pv::FloatLayout::kOneStrip);
    range.Join(pv::Range::Spanning(pv::SIF_F_min, pv::SIF_F_max));
    progress.Count();
  }
  std::printf("%lf\t%lf\n", range.min(), range.max());
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return pv::RunMain(Run, argc, argv); }
