#include "tiffwrite/tiff_out.h"

#include <cstdio>
#include <cstring>

#include "common/error.h"

namespace pv {

namespace {

std::FILE* Open(const char* path, bool allow_stdout) {
  if (allow_stdout && std::strcmp(path, "-") == 0) return stdout;
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) TiffOut::NotStored(path);
  return file;
}

}  // namespace

void TiffOut::NotStored(const std::string& path) { Fail(ErrorLine(path, "file not stored.")); }

void TiffOut::NoMemory(const std::string& path) { Fail(ErrorLine(path, "no allocatable memory.")); }

TiffOut::TiffOut(const char* path, bool allow_stdout)
    : BufferedOut(Open(path, allow_stdout), !(allow_stdout && std::strcmp(path, "-") == 0),
                  ErrorLine(path, "file not stored."), OnAbandon::kDrop) {}

}  // namespace pv
