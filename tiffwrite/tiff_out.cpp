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

}  // namespace

TiffOut::TiffOut(const char* path, bool allow_stdout)
    : BufferedOut(Open(path, allow_stdout), !(allow_stdout && IsStandardOutput(path)),
                  path, msg::kFileNotStored, OnAbandon::kDrop) {}

}  // namespace pv
