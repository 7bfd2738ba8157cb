// pvsplit image.bin TIFF_format
//
// Cuts a raw volume (a header line "width height [count]" and then the
// slices as little-endian doubles) into one floating-point TIFF per slice,
// named by TIFF_format and the slice index, each carrying its own minimum
// and maximum as its description; prints the range over all slices.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "common/error.h"
#include "common/sizes.h"
#include "tiffwrite/sif_f.h"

namespace {

using pv::Error;

// The output names come from a printf format with the slice index as its
// one int argument. Only a format of that shape is accepted: at most one
// conversion, of the form % [-+ #0]* [digits] [. digits] one of d i o u x X,
// and any number of "%%". Returns whether every name it makes is 2048
// characters or more (a width or precision above 2047), which is found out
// only when the first name is formatted.
bool CheckNameFormat(const char* format) {
  int conversions = 0;
  bool too_long = false;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') continue;
    if (p[1] == '%') {
      ++p;
      continue;
    }
    ++p;
    while (*p != '\0' && std::strchr("-+ #0", *p) != nullptr) ++p;
    for (int field = 0; field < 2; ++field) {
      if (field == 1) {
        if (*p != '.') break;
        ++p;
      }
      long digits = 0;
      while (*p >= '0' && *p <= '9') {
        if (digits <= 2047) digits = digits * 10 + (*p - '0');
        ++p;
      }
      if (digits > 2047) too_long = true;
    }
    if (*p == '\0' || std::strchr("diouxX", *p) == nullptr) Error("bad file name format.");
    if (++conversions > 1) Error("bad file name format.");
  }
  return too_long;
}

// The name of slice k, in a 2048-byte buffer.
void FormatName(char (&name)[2048], const char* format, bool too_long, int k) {
  if (too_long) Error("bad file name format.");
  int n = std::snprintf(name, sizeof name, format, k);
  if (n < 0 || n >= static_cast<int>(sizeof name)) Error("bad file name format.");
}

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
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) Error("bad image size.");
    values[n++] = static_cast<int>(v);
    text = end;
  }
  return n;
}

int Run(int argc, char** argv) {
  if (argc != 3) Error("usage : pvsplit image.bin TIFF_format");
  const char* format = argv[2];
  const bool names_too_long = CheckNameFormat(format);

  std::FILE* in = argv[1][0] == '-' ? stdin : std::fopen(argv[1], "rb");
  if (in == nullptr) Error("file not found.");
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> input(in == stdin ? nullptr : in, std::fclose);

  char line[2048];
  if (std::fgets(line, sizeof line, in) == nullptr) Error("bad image size.");
  if (std::strlen(line) == sizeof line - 1 && line[sizeof line - 2] != '\n') Error("bad image size.");
  int size[3] = {0, 0, 1};
  if (ScanInts(line, size, 3) < 2 || size[0] <= 0 || size[1] <= 0 || size[2] <= 0)
    Error("bad image size.");
  const int width = size[0], height = size[1], count = size[2];

  const auto bytes = pv::MulSize(std::size_t(width), std::size_t(height), sizeof(double));
  if (!bytes) Error("memory allocation error.");
  std::unique_ptr<const double*[]> rows(new (std::nothrow) const double*[std::size_t(height)]);
  if (!rows) Error("memory allocation error.");
  const std::size_t values = *bytes / sizeof(double);
  std::unique_ptr<double[]> block(new (std::nothrow) double[values]);
  if (!block) Error("memory allocation error.");
  for (int i = 0; i < height; ++i) rows[i] = block.get() + std::size_t(i) * std::size_t(width);

  double lo = 0, hi = 0;
  char name[2048];
  for (int k = 0; k < count; ++k) {
    if (std::fread(block.get(), sizeof(double), values, in) != values) Error("data read error");
    FormatName(name, format, names_too_long, k);
    pv::sif_f_fast::StoreImageFile_Float(name, width, height, rows.get(), pv::SIF_F_desc);
    if (k == 0) {
      lo = pv::SIF_F_min;
      hi = pv::SIF_F_max;
    } else {
      if (pv::SIF_F_min < lo) lo = pv::SIF_F_min;
      if (pv::SIF_F_max > hi) hi = pv::SIF_F_max;
    }
  }
  std::printf("%lf\t%lf\n", lo, hi);
  return 0;
}

}  // namespace

int main(int argc, char** argv) { return pv::RunMain(Run, argc, argv); }
