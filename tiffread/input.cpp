#include "tiffread/input.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/error.h"

namespace pv::rif_core {

std::string ErrorLine(const char* path, std::string_view message) {
  std::string line(path);
  line += " : ";
  line += message;
  line += "\n";
  return line;
}

std::string WarningLine(const char* path, std::string_view message) {
  std::string line(path);
  line += " : ";
  line += message;
  line += " (warning).\n";
  return line;
}

void ReaderError(const char* path, std::string_view message) { Fail(ErrorLine(path, message)); }

Input::Input(const char* path) : path_(path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) Error("file not found.");
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    size_ = static_cast<std::uint64_t>(st.st_size);
    if (size_ == 0) {
      mapped_ = true;  // nothing to map: every byte is past the end
    } else {
      void* map = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
      if (map != MAP_FAILED) {
        map_ = static_cast<const std::uint8_t*>(map);
        mapped_ = true;
      }
    }
  }
  if (mapped_) {
    ::close(fd);  // the mapping stays valid without the descriptor
    return;
  }
  // Not a regular file, or one that cannot be mapped: read it as a stream.
  size_ = 0;
  file_ = ::fdopen(fd, "rb");
  if (file_ == nullptr) {
    ::close(fd);
    Error("file not found.");
  }
}

Input::~Input() {
  if (map_ != nullptr) ::munmap(const_cast<std::uint8_t*>(map_), size_);
  if (file_ != nullptr) std::fclose(file_);
}

Bytes Input::Window(std::uint64_t at, std::uint8_t* block, std::size_t capacity) {
  if (mapped_) {
    if (at >= size_) return {};
    return {map_ + at, static_cast<std::size_t>(size_ - at)};
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
