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
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "common/error.h"
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

// The slices that a regular file holds whole are read in place: each is
// mapped (its pages brought in at once), and the writer's rows are copied
// from the mapping as it asks for them, so the body is never copied into a
// buffer of its own first. The file's size was checked before the slice's
// output is created, so a slice whose data is missing still leaves no file
// behind. Memory stays at one slice of the file's pages.
class MappedSlices {
 public:
  MappedSlices(int fd, std::uint64_t start, std::size_t row_bytes)
      : fd_(fd), start_(start), row_bytes_(row_bytes) {}
  ~MappedSlices() { Unmap(); }
  MappedSlices(const MappedSlices&) = delete;
  MappedSlices& operator=(const MappedSlices&) = delete;

  // Slice k's rows for the writer (rows copied: a row of the body need not
  // be aligned for doubles, since the header line has any length); nothing
  // when the slice cannot be mapped (then it is read as from a pipe).
  pv::FloatRows Slice(std::size_t k, std::size_t height) {
    Unmap();
    static const std::uint64_t page = std::uint64_t(::sysconf(_SC_PAGESIZE));
    const std::uint64_t at = start_ + k * height * row_bytes_;
    const std::uint64_t base = at - at % page;
    length_ = std::size_t(at - base) + height * row_bytes_;
    void* m = ::mmap(nullptr, length_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_, off_t(base));
    if (m == MAP_FAILED) return nullptr;
    map_ = static_cast<unsigned char*>(m);
    const unsigned char* slice = map_ + (at - base);
    return [this, slice](std::uint32_t y, double* scratch) {
      std::memcpy(scratch, slice + std::size_t(y) * row_bytes_, row_bytes_);
      return static_cast<const double*>(scratch);
    };
  }

 private:
  void Unmap() {
    if (map_ != nullptr) ::munmap(map_, length_);
    map_ = nullptr;
  }

  const int fd_;
  const std::uint64_t start_;
  const std::size_t row_bytes_;
  unsigned char* map_ = nullptr;
  std::size_t length_ = 0;
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
  // Slices a regular file holds whole are read in place; the rest (all of
  // them on a pipe) are read whole into one buffer before their file is
  // made.
  const std::size_t left = BytesLeft(in);
  std::size_t in_place = std::min<std::size_t>(left / *bytes, std::size_t(h.count));
  const long data_start = std::ftell(in);
  const std::size_t row_bytes = std::size_t(h.width) * rv::kSampleBytes;
  std::unique_ptr<MappedSlices> placed;
  if (in_place > 0) {
    placed = std::make_unique<MappedSlices>(fileno(in), std::uint64_t(data_start), row_bytes);
    if (in_place < std::size_t(h.count) &&
        std::fseek(in, static_cast<long>(data_start + in_place * *bytes), SEEK_SET) != 0)
      Error("data read error");
  }
  std::unique_ptr<SliceBuffer> slice;

  double lo = 0, hi = 0;
  char name[2048];
  for (int k = 0; k < h.count; ++k) {
    pv::FloatRows rows;
    if (std::size_t(k) < in_place) {
      rows = placed->Slice(std::size_t(k), std::size_t(h.height));
      if (!rows) {
        // Not to be mapped (no memory for it, or a file system without
        // mappings): this slice and the rest are read into memory.
        in_place = std::size_t(k);
        if (std::fseek(in, static_cast<long>(data_start + in_place * *bytes), SEEK_SET) != 0)
          Error("data read error");
      }
    }
    if (!rows) {
      if (!slice) slice = std::make_unique<SliceBuffer>(*bytes, BytesLeft(in));
      slice->Read(in);
      rows = [&](std::uint32_t y, double*) { return slice->samples() + y * (row_bytes / sizeof(double)); };
    }
    rv::FormatName(name, format, names_too_long, k);
    pv::sif_f_fast::StoreImageFile_Float(name, h.width, h.height, rows, pv::SIF_F_desc);
    if (k == 0) {
      lo = pv::SIF_F_min;
      hi = pv::SIF_F_max;
    } else {
      if (pv::SIF_F_min < lo) lo = pv::SIF_F_min;
      if (pv::SIF_F_max > hi) hi = pv::SIF_F_max;
    }
  }
  std::printf("%lf\t%lf\n", lo, hi);
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return pv::RunMain(Run, argc, argv); }
