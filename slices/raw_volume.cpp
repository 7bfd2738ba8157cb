#include "slices/raw_volume.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/error.h"
#include "common/file_io.h"
#include "common/messages.h"
#include "common/pages.h"
#include "common/sizes.h"

namespace pv::raw_volume {

std::string FormatHeader(int width, int height, int count) {
  char line[64];
  int n = std::snprintf(line, sizeof line, "%d\t%d", width, height);
  n += count > 1 ? std::snprintf(line + n, sizeof line - std::size_t(n), "\t%d\n", count)
                 : std::snprintf(line + n, sizeof line - std::size_t(n), "\n");
  return std::string(line, std::size_t(n));
}

namespace {

// Up to `max` decimal ints separated by white space, as "%d %d %d" reads
// them: the count converted before the first failure. A value outside the
// int range makes the header unusable.
int ScanInts(const char* text, int* values, int max) {
  int n = 0;
  while (n < max) {
    char* end;
    errno = 0;
    long long v = std::strtoll(text, &end, 10);
    if (end == text) break;
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) Error(msg::kBadImageSize);
    values[n++] = static_cast<int>(v);
    text = end;
  }
  return n;
}

}  // namespace

Header ParseHeader(const char* line) {
  int size[3] = {0, 0, 1};
  if (ScanInts(line, size, 3) < 2 || size[0] <= 0 || size[1] <= 0 || size[2] <= 0)
    Error(msg::kBadImageSize);
  return {size[0], size[1], size[2]};
}

Header ReadHeader(std::FILE* in) {
  // Byte by byte rather than fgets, so that a NUL inside the line cannot
  // hide its true length.
  char line[2048];
  std::size_t n = 0;
  int c = EOF;
  while (n < sizeof line - 1 && (c = std::getc(in)) != EOF) {
    line[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (n == 0 || (n == sizeof line - 1 && line[n - 1] != '\n')) Error(msg::kBadImageSize);
  line[n] = '\0';
  return ParseHeader(line);
}

// ---------------------------------------------------------------------------
// Slices in.

namespace {

// Rows are read in bands of about this many bytes: large enough that a
// read's fixed cost is small beside its copy, small enough to stay in the
// second-level cache while the rows are converted.
constexpr std::size_t kBandBytes = std::size_t{1} << 18;

// Slices from a band up to this size are mapped where a lease allows. The
// lease is looked at once a slice, and a slice is done in well under the
// lease-break time; a larger one would keep another process waiting too
// long, and needs the mapping's speed least.
constexpr std::size_t kMappedSliceMax = std::size_t{1} << 28;

}  // namespace

// One slice's samples read whole, reused for every slice. It starts at what
// the input can supply (the bytes left in a regular file, else one block)
// and doubles while data keeps coming, up to a whole slice; from then on
// every slice is one read straight into it.
struct VolumeIn::Whole {
  Whole(std::size_t slice_bytes, std::size_t first)
      : slice(slice_bytes), first(std::min(slice_bytes, RoundUp(first))) {}
  ~Whole() { std::free(data); }

  void Read(std::FILE* in) {
    for (std::size_t have = 0; have < slice;) {
      if (have == capacity) {
        // Grow only for data that is there: a file that ends right at the
        // buffer's end costs no larger buffer.
        if (have > 0) {
          const int c = std::getc(in);
          if (c == EOF) Error(msg::kDataReadError);
          std::ungetc(c, in);
        }
        Grow();
      }
      const std::size_t want = capacity - have;
      const std::size_t got = std::fread(data + have, 1, want, in);
      have += got;
      if (got < want) Error(msg::kDataReadError);
    }
  }

  static constexpr std::size_t kBlock = std::size_t{1} << 16;
  // At least one block, whole samples.
  static std::size_t RoundUp(std::size_t n) {
    n = std::max(n, kBlock);
    return n + (kSampleBytes - n % kSampleBytes) % kSampleBytes;
  }
  void Grow() {
    const std::size_t next = capacity == 0 ? first : capacity > slice / 2 ? slice : capacity * 2;
    void* p = Allocate([&] { return std::realloc(data, next); }, msg::kMemoryAllocation);
    data = static_cast<unsigned char*>(p);
    capacity = next;
  }

  const std::size_t slice, first;
  std::size_t capacity = 0;
  unsigned char* data = nullptr;
};

VolumeIn::VolumeIn(std::FILE* in) : in_(in), header_(ReadHeader(in)) {
  const auto bytes = MulSize(std::size_t(header_.width), std::size_t(header_.height), kSampleBytes);
  if (!bytes) Error(msg::kMemoryAllocation);
  slice_bytes_ = *bytes;
  row_bytes_ = std::size_t(header_.width) * kSampleBytes;
  struct stat st;
  const long at = std::ftell(in);
  if (at >= 0 && ::fstat(fileno(in), &st) == 0 && S_ISREG(st.st_mode)) {
    fd_ = fileno(in);
    next_ = std::uint64_t(at);
    leased_ = slice_bytes_ >= kBandBytes && slice_bytes_ <= kMappedSliceMax && TakeReadLease(fd_);
  }
}

VolumeIn::~VolumeIn() {
  Unmap();
  if (leased_) GiveBackLease(fd_);
}

void VolumeIn::Unmap() {
  if (map_ != nullptr) ::munmap(map_, map_bytes_);
  map_ = nullptr;
  mapped_ = nullptr;
}

void VolumeIn::MapSlice() {
  if (ReadLeaseUnbroken(fd_)) {
    const std::uint64_t page = PageSize();
    const std::uint64_t base = slice_at_ - slice_at_ % page;
    const std::size_t bytes = std::size_t(slice_at_ - base) + slice_bytes_;
    void* m = ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_, off_t(base));
    if (m != MAP_FAILED) {
      map_ = m;
      map_bytes_ = bytes;
      mapped_ = static_cast<const unsigned char*>(m) + (slice_at_ - base);
      return;
    }
  }
  GiveBackLease(fd_);
  leased_ = false;
}

void VolumeIn::NextSlice() {
  Unmap();
  struct stat st;
  const bool held = fd_ >= 0 && ::fstat(fd_, &st) == 0 && std::uint64_t(st.st_size) >= next_ &&
                    std::uint64_t(st.st_size) - next_ >= slice_bytes_;
  if (held) {
    in_place_ = true;
    slice_at_ = next_;
    next_ += slice_bytes_;
    band_count_ = 0;
    owner_ = std::this_thread::get_id();
    if (leased_) MapSlice();
    if (mapped_ == nullptr && !band_) {
      band_rows_ = std::uint32_t(std::clamp<std::size_t>(kBandBytes / row_bytes_, 1, header_.height));
      if (std::size_t(band_rows_) * row_bytes_ <= kBandBytes) {
        band_ = NewArray<double>(std::size_t(band_rows_) * std::size_t(header_.width), msg::kMemoryAllocation);
      } else {
        band_rows_ = 0;  // rows longer than a band are read straight into their scratch
      }
    }
    return;
  }
  // Read whole: from a stream in order; from a regular file from the
  // slice's place on (the volume ends within this slice, or it could not be
  // sized).
  if (in_place_ || (fd_ >= 0 && std::ftell(in_) != long(next_))) {
    if (next_ > std::uint64_t(LONG_MAX) || std::fseek(in_, long(next_), SEEK_SET) != 0) Error(msg::kDataReadError);
  }
  in_place_ = false;
  if (!whole_) {
    std::size_t left = 0;
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && std::uint64_t(st.st_size) > next_)
      left = std::size_t(std::uint64_t(st.st_size) - next_);
    whole_ = std::make_unique<Whole>(slice_bytes_, left);
  }
  whole_->Read(in_);
  next_ += slice_bytes_;
}

void VolumeIn::ReadAt(std::uint64_t at, void* into, std::size_t n) {
  if (ReadFullyAt(fd_, into, n, at) < n) {
    cut_short_ = true;
    Error(msg::kDataReadError);
  }
}

const double* VolumeIn::Row(std::uint32_t y, double* scratch) {
  if (!in_place_) return reinterpret_cast<const double*>(whole_->data + std::size_t(y) * row_bytes_);
  if (mapped_ != nullptr) {
    // The header line has any length, so the rows of a mapping are seldom
    // where doubles may be read: those are copied, while the cache holds them.
    const unsigned char* row = mapped_ + std::size_t(y) * row_bytes_;
    if (reinterpret_cast<std::uintptr_t>(row) % alignof(double) == 0) return reinterpret_cast<const double*>(row);
    std::memcpy(scratch, row, row_bytes_);
    return scratch;
  }
  const std::uint64_t row_at = slice_at_ + std::uint64_t(y) * row_bytes_;
  // Other threads (a writer finding the extremes of a huge image first) and
  // rows longer than a band read the row alone, into its scratch.
  if (band_rows_ == 0 || std::this_thread::get_id() != owner_) {
    ReadAt(row_at, scratch, row_bytes_);
    return scratch;
  }
  if (y < band_first_ || y >= band_first_ + band_count_) {
    band_first_ = y;
    band_count_ = std::min<std::uint32_t>(band_rows_, std::uint32_t(header_.height) - y);
    ReadAt(row_at, band_.get(), std::size_t(band_count_) * row_bytes_);
  }
  return band_.get() + std::size_t(y - band_first_) * std::size_t(header_.width);
}

// ---------------------------------------------------------------------------
// Frames out.

VolumeOut::VolumeOut(std::FILE* file, const std::string& name, bool owned)
    : BufferedOut(file, owned, name, msg::kDataWriteError, OnAbandon::kWriteOut),
      name_(name) {}

void VolumeOut::PutValuesAt(int fd, const double* v, std::size_t n, std::uint64_t offset) const {
  if (!WriteFullyAt(fd, v, n * sizeof(double), offset)) Error(name_, msg::kDataWriteError);
}

// The host's doubles have the body's layout (checked above), so values go
// out as they lie.
void VolumeOut::PutValues(const double* v, std::size_t n) { PutBytes(v, n * sizeof(double)); }

}  // namespace pv::raw_volume
