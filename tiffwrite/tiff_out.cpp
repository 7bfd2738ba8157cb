#include "tiffwrite/tiff_out.h"

#include <cstdio>

#include "common/error.h"
#include "common/messages.h"

namespace pv {

namespace {

std::FILE* Open(const char* path, bool allow_stdout) {
  if (allow_stdout && IsStandardOutput(path)) return stdout;
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) Error(path, msg::kFileNotStored);
  return file;
}

// Writes an offset of the file at `at`: 4 bytes, 8 in BigTIFF.
void PutOffsetAt(TiffOut& out, std::uint64_t at, std::uint64_t value, bool big) {
  out.Seek(at);
  out.Put4(static_cast<std::uint32_t>(value));
  if (big) out.Put4(static_cast<std::uint32_t>(value >> 32));
}

}  // namespace

TiffOut::TiffOut(const char* path, bool allow_stdout)
    : BufferedOut(Open(path, allow_stdout), !(allow_stdout && IsStandardOutput(path)),
                  path, msg::kFileNotStored, OnAbandon::kDrop) {}

TiffFileOut::TiffFileOut(const char* path, bool allow_stdout, std::uint32_t pages)
    : path_(path), allow_stdout_(allow_stdout), pages_(pages) {}

void TiffFileOut::Choose(std::uint64_t first, std::uint64_t later) {
  // first + (pages - 1) x later, without overflow.
  const std::uint64_t others = pages_ - 1;
  big_ = first >= classic_limit_ ||
         (others != 0 && (later >= classic_limit_ || others > (classic_limit_ - first) / later ||
                          first + others * later >= classic_limit_));
}

TiffOut& TiffFileOut::Begin() {
  if (!out_) out_.emplace(path_, allow_stdout_);
  return *out_;
}

void TiffFileOut::EndPage(std::uint64_t directory, std::uint64_t next_at) {
  if (directory != 0) {
    if (first()) {
      first_directory_ = directory;
    } else if (next_at_ != 0) {
      const std::uint64_t end = out_->Offset();
      PutOffsetAt(*out_, next_at_, directory, big_);
      out_->Seek(end);
    }
  }
  next_at_ = next_at;
  const bool closing = last();
  ++done_;
  if (!closing) return;
  if (first_directory_ != 0) PutOffsetAt(*out_, big_ ? 8 : 4, first_directory_, big_);
  out_->Close();
}

}  // namespace pv
