// libFuzzer harness for both TIFF readers. The readers take a path, so each
// input is written to a scratch file first. Every output is requested, so
// the whole directory phase and strip phase run; a FatalError is the
// normal end of a bad file. Run with -close_fd_mask=2 to keep the readers'
// warning lines out of the way.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "common/error.h"
#include "tiffread/rif.h"
#include "tiffread/rif_f.h"

namespace {

// Never destroyed, so that the exit handler that removes the file can use it.
const std::string& ScratchPath() {
  static const std::string* const path = [] {
    auto* p = new std::string("/tmp/pv_reader_fuzz." + std::to_string(getpid()) + ".tif");
    std::atexit([] { std::remove(ScratchPath().c_str()); });
    return p;
  }();
  return *path;
}

bool WriteInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(ScratchPath().c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, f) == size;
  return std::fclose(f) == 0 && ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (!WriteInput(data, size)) return 0;
  const char* path = ScratchPath().c_str();
  std::int32_t width = 0, height = 0;
  std::optional<std::string> description;
  try {
    pv::RowTable<double> rows;
    pv::ReadImageFile_Float(path, &width, &height, &rows, &description);
  } catch (const pv::FatalError&) {
  }
  try {
    int bits = 0;
    pv::RowTable<std::uint16_t> rows;
    pv::ReadImageFile(path, &width, &height, &bits, &rows, &description);
  } catch (const pv::FatalError&) {
  }
  // Classification only: the directory phase with nothing requested.
  try {
    pv::ReadImageFile_Float(path, nullptr, nullptr, nullptr, nullptr);
  } catch (const pv::FatalError&) {
  }
  return 0;
}
