#include "common/buffered_out.h"

#include <sys/stat.h>

#include <climits>
#include <cstring>

#include "common/error.h"

namespace pv {

namespace {

// The block buffer of the last output closed on this thread. Programs write
// file after file (a stack's slices); taking the same buffer again spares
// each file a fresh allocation and the kernel's fresh pages behind it.
thread_local std::unique_ptr<std::uint8_t[]> spare_buffer;

}  // namespace

BufferedOut::BufferedOut(std::FILE* file, bool owned, std::string subject, const char* message,
                         OnAbandon on_abandon)
    : file_(file),
      owned_(owned),
      subject_(std::move(subject)),
      message_(message),
      on_abandon_(on_abandon) {
  try {
    buffer_ = spare_buffer ? std::move(spare_buffer) : std::make_unique<std::uint8_t[]>(kBlock);
  } catch (...) {
    if (owned_) std::fclose(file_);
    throw;
  }
  if (owned_) std::setvbuf(file_, nullptr, _IONBF, 0);
}

BufferedOut::~BufferedOut() {
  if (file_ != nullptr) {
    // Reached without Close only when the run ends on a fatal error.
    if (on_abandon_ == OnAbandon::kWriteOut && used_ != 0)
      std::fwrite(buffer_.get(), 1, used_, file_);
    if (owned_)
      std::fclose(file_);
    else
      std::fflush(file_);
  }
  if (!spare_buffer) spare_buffer = std::move(buffer_);
}

void BufferedOut::Failed() {
  if (file_ != nullptr && owned_) std::fclose(file_);
  file_ = nullptr;
  Error(subject_, message_);
}

void BufferedOut::WriteOrFail(const void* data, std::size_t n) {
  if (n != 0 && std::fwrite(data, 1, n, file_) != n) Failed();
  flushed_ += n;
}

void BufferedOut::Drain() {
  WriteOrFail(buffer_.get(), used_);
  used_ = 0;
}

void BufferedOut::PutBytes(const void* data, std::size_t n) {
  if (n >= kBlock) {
    Drain();
    WriteOrFail(data, n);
    return;
  }
  if (kBlock - used_ < n) Drain();
  std::memcpy(buffer_.get() + used_, data, n);
  used_ += n;
}

void BufferedOut::Seek(std::uint64_t offset) {
  Drain();
  if (offset > static_cast<std::uint64_t>(LONG_MAX) ||
      std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0)
    Failed();
  flushed_ = offset;
}

void BufferedOut::Flush() {
  Drain();
  if (std::fflush(file_) != 0 || std::ferror(file_)) Failed();
}

int BufferedOut::RegularFile() const {
  if (file_ == nullptr || !owned_) return -1;
  struct stat st;
  const int fd = fileno(file_);
  return fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? fd : -1;
}

void BufferedOut::Close() {
  if (file_ == nullptr) return;
  Drain();
  if (std::fflush(file_) != 0 || std::ferror(file_)) Failed();
  std::FILE* f = file_;
  file_ = nullptr;
  if (owned_ && std::fclose(f) != 0) Error(subject_, message_);
}

}  // namespace pv
