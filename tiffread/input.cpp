#include "tiffread/input.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <new>

#include "common/error.h"

namespace pv::rif_core {

namespace {

// Files up to this size are read whole rather than mapped: one read costs
// less than setting up and tearing down a mapping.
constexpr std::uint64_t kReadWhole = 256 * 1024;

}  // namespace

void ReaderError(const char* path, std::string_view message) { Fail(ErrorLine(path, message)); }

Input::Input(const char* path) : path_(path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) Error("file not found.");
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    fd_ = fd;
    regular_ = true;
    size_ = static_cast<std::uint64_t>(st.st_size);
    return;
  }
  // Not a regular file: read it as a stream.
  file_ = ::fdopen(fd, "rb");
  if (file_ == nullptr) {
    ::close(fd);
    Error("file not found.");
  }
}

Input::~Input() {
  if (mapped_) ::munmap(const_cast<std::uint8_t*>(memory_), size_);
  if (fd_ >= 0) ::close(fd_);
  if (file_ != nullptr) std::fclose(file_);
}

void Input::Load() {
  if (!regular_ || memory_ != nullptr || size_ == 0) return;
  if (size_ <= kReadWhole) {
    std::unique_ptr<std::uint8_t[]> whole(new (std::nothrow) std::uint8_t[size_]);
    if (whole == nullptr) return;
    std::size_t got = 0;
    while (got < size_) {
      const ssize_t n = ::pread(fd_, whole.get() + got, size_ - got, static_cast<off_t>(got));
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (got < size_) return;  // the file shrank: stay with positioned reads
    owned_ = std::move(whole);
    memory_ = owned_.get();
    return;
  }
  void* map = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd_, 0);
  if (map == MAP_FAILED) return;
  memory_ = static_cast<const std::uint8_t*>(map);
  mapped_ = true;
}

Bytes Input::Window(std::uint64_t at, std::uint8_t* block, std::size_t capacity) {
  if (memory_ != nullptr || (regular_ && size_ == 0)) {
    if (at >= size_) return {};
    return {memory_ + at, static_cast<std::size_t>(size_ - at)};
  }
  if (regular_) {
    const ssize_t n = at > static_cast<std::uint64_t>(INT64_MAX) ? -1 : ::pread(fd_, block, capacity, static_cast<off_t>(at));
    if (n <= 0) return {};
    return {block, static_cast<std::size_t>(n)};
  }
  // A seek that fails is not reported as such: the window is just empty.
  if (at != file_pos_ && std::fseek(file_, static_cast<long>(at), SEEK_SET) != 0) {
    file_pos_ = UINT64_MAX;
    return {};
  }
  const std::size_t got = std::fread(block, 1, capacity, file_);
  file_pos_ = at + got;
  if (got == 0) {
    std::clearerr(file_);
    return {};
  }
  return {block, got};
}

void Input::Error(std::string_view message) const { ReaderError(path_, message); }

void Input::Warning(std::string_view message) const { Warn(WarningLine(path_, message)); }

}  // namespace pv::rif_core
