#include "tiffread/input.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <new>
#include <utility>

#include "common/error.h"
#include "common/file_io.h"
#include "common/messages.h"
#include "common/pages.h"

namespace pv::reader {

namespace {

// Files up to this size are read into memory from the allocator; larger
// ones into fresh pages, which come in a huge page at a time.
constexpr std::size_t kSmallFile = 256 * 1024;

// The buffer of the last file read whole on this thread: a stack's slices
// are read one after the other into the same memory.
thread_local LoadBuffer spare;

}  // namespace

LoadBuffer::~LoadBuffer() { Release(); }

LoadBuffer& LoadBuffer::operator=(LoadBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    capacity_ = std::exchange(other.capacity_, 0);
    mapped_ = std::exchange(other.mapped_, false);
  }
  return *this;
}

void LoadBuffer::Release() {
  if (mapped_) UnmapPages(data_, capacity_);
  else delete[] data_;
  data_ = nullptr;
  capacity_ = 0;
  mapped_ = false;
}

bool LoadBuffer::Reserve(std::size_t bytes) {
  if (bytes <= capacity_ && (!kExactBuffers || bytes == capacity_)) return true;
  Release();
  if (kExactBuffers || bytes <= kSmallFile) {
    data_ = new (std::nothrow) std::uint8_t[bytes];
    if (data_ == nullptr) return false;
    capacity_ = bytes;
    return true;
  }
  const std::size_t size = MappingSize(bytes);
  void* p = size == 0 ? nullptr : MapPages(size);
  if (p == nullptr) return false;
  AdviseHugePages(p, size);
  data_ = static_cast<std::uint8_t*>(p);
  capacity_ = size;
  mapped_ = true;
  return true;
}

Input::Input(const char* path) : path_(path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) Error(path, msg::kFileNotFound);
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
    Error(path, msg::kFileNotFound);
  }
}

Input::~Input() {
  // Closing the file gives its read lease back.
  if (mapped_) ::munmap(const_cast<std::uint8_t*>(memory_), size_);
  if (fd_ >= 0) ::close(fd_);
  if (file_ != nullptr) std::fclose(file_);
  // The buffer goes back to the thread for its next file.
  if (loaded_.capacity() > spare.capacity()) spare = std::move(loaded_);
}

void Input::Load() {
  if (!regular_ || memory_ != nullptr || size_ == 0 || size_ > SIZE_MAX) return;
  if (size_ > kSmallFile && MapLeased()) return;
  if (mapped_only_ && size_ > kSmallFile) return;
  const auto size = static_cast<std::size_t>(size_);
  if (spare.capacity() >= size) loaded_ = std::move(spare);
  if (!loaded_.Reserve(size)) return;
  // A file that shrank meanwhile stays with positioned reads.
  if (ReadFullyAt(fd_, loaded_.data(), size, 0) < size) return;
  memory_ = loaded_.data();
}

bool Input::MapLeased() {
  if (!TakeReadLease(fd_)) return false;
  // The size it has under the lease must be the size it had when opened.
  struct stat st;
  void* map = MAP_FAILED;
  if (::fstat(fd_, &st) == 0 && static_cast<std::uint64_t>(st.st_size) == size_)
    map = ::mmap(nullptr, static_cast<std::size_t>(size_), PROT_READ, MAP_PRIVATE, fd_, 0);
  if (map == MAP_FAILED) {
    GiveBackLease(fd_);
    return false;
  }
  memory_ = static_cast<const std::uint8_t*>(map);
  mapped_ = true;
  return true;
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

}  // namespace pv::reader
