#include "tiffwrite/tiff_out.h"

#include <cstring>

#include "common/error.h"

namespace pv {

void TiffOut::NotStored(const std::string& path) { pv::Fail(path + " : file not stored.\n"); }

TiffOut::TiffOut(const char* path, bool allow_stdout) : path_(path) {
  if (allow_stdout && std::strcmp(path, "-") == 0) {
    file_ = stdout;
    is_stdout_ = true;
  } else {
    file_ = std::fopen(path, "wb");
    if (file_ == nullptr) NotStored(path_);
  }
}

TiffOut::~TiffOut() {
  if (file_ != nullptr && !is_stdout_) std::fclose(file_);
}

void TiffOut::Abandon() {
  if (!is_stdout_) std::fclose(file_);
  file_ = nullptr;
  NotStored(path_);
}

void TiffOut::Drain() {
  if (used_ != 0 && std::fwrite(buffer_, 1, used_, file_) != used_) Abandon();
  flushed_ += used_;
  used_ = 0;
}

void TiffOut::PutBytes(const void* data, std::size_t n) {
  auto p = static_cast<const std::uint8_t*>(data);
  while (n != 0) {
    if (used_ == kBufferSize) Drain();
    std::size_t room = kBufferSize - used_;
    std::size_t take = n < room ? n : room;
    std::memcpy(buffer_ + used_, p, take);
    used_ += take;
    p += take;
    n -= take;
  }
}

void TiffOut::Seek(std::uint32_t offset) {
  Drain();
  if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) Abandon();
  flushed_ = offset;
}

void TiffOut::Close() {
  Drain();
  if (std::fflush(file_) != 0 || std::ferror(file_)) Abandon();
  if (!is_stdout_) {
    std::FILE* f = file_;
    file_ = nullptr;
    if (std::fclose(f) != 0) NotStored(path_);
  }
  file_ = nullptr;
}

void TiffOut::PutDescriptionEntry(const char* text, std::uint32_t length, std::uint32_t offset) {
  if (length > 4) {
    PutEntry(270, kAscii, length, offset);
    return;
  }
  Put2(270);
  Put2(kAscii);
  Put4(length);
  for (std::uint32_t i = 0; i < 4; ++i) Put1(i < length ? static_cast<std::uint8_t>(text[i]) : 0);
}

}  // namespace pv
