#include "slices/raw_volume.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "common/error.h"

namespace pv::raw_volume {

std::string FormatHeader(int width, int height, int count) {
  char line[64];
  int n = std::snprintf(line, sizeof line, "%d\t%d", width, height);
  n += count > 1 ? std::snprintf(line + n, sizeof line - std::size_t(n), "\t%d\n", count)
                 : std::snprintf(line + n, sizeof line - std::size_t(n), "\n");
  return std::string(line, std::size_t(n));
}

namespace {

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

}  // namespace

Header ParseHeader(const char* line) {
  int size[3] = {0, 0, 1};
  if (ScanInts(line, size, 3) < 2 || size[0] <= 0 || size[1] <= 0 || size[2] <= 0)
    Error("bad image size.");
  return {size[0], size[1], size[2]};
}

Header ReadHeader(std::FILE* in) {
  // Byte by byte rather than fgets, so that a NUL inside the line cannot
  // hide its true length.
  char line[2048];
  std::size_t n = 0;
  int c = EOF;
  while (n < sizeof line - 1 && (c = std::getc(in)) != EOF) {
    line[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  if (n == 0 || (n == sizeof line - 1 && line[n - 1] != '\n')) Error("bad image size.");
  line[n] = '\0';
  return ParseHeader(line);
}

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

void FormatName(char (&name)[2048], const char* format, bool too_long, int k) {
  if (too_long) Error("bad file name format.");
  int n = std::snprintf(name, sizeof name, format, k);
  if (n < 0 || n >= static_cast<int>(sizeof name)) Error("bad file name format.");
}

}  // namespace pv::raw_volume
