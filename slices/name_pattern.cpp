#include "slices/name_pattern.h"

#include <cstdio>
#include <cstring>

#include "common/error.h"
#include "common/messages.h"

namespace pv::name_pattern {

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
    if (*p == '\0' || std::strchr("diouxX", *p) == nullptr) Error(msg::kBadFileNameFormat);
    if (++conversions > 1) Error(msg::kBadFileNameFormat);
  }
  return too_long;
}

bool HasConversion(const char* format) {
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') continue;
    if (p[1] != '%') return true;
    ++p;
  }
  return false;
}

void FormatName(char (&name)[2048], const char* format, bool too_long, int k) {
  if (too_long) Error(msg::kBadFileNameFormat);
  int n = std::snprintf(name, sizeof name, format, k);
  if (n < 0 || n >= static_cast<int>(sizeof name)) Error(msg::kBadFileNameFormat);
}

}  // namespace pv::name_pattern
