// The listing orders of pvstack as plain three-way comparisons of two bare
// file names: the model that sorted listings are checked against, in the
// tests and in the fuzzer.
#pragma once

#include <cstring>
#include <optional>

#include "slices/stack_names.h"

namespace pvtest {

// Byte order of the names, or its reverse.
inline int ByName(const char* a, const char* b) { return std::strcmp(a, b); }
inline int ByNameReversed(const char* a, const char* b) { return std::strcmp(b, a); }

// By the number in the name; names without a number come first and compare
// by their bytes; equal numbers compare equal.
inline int ByNumber(const char* a, const char* b) {
  const std::optional<double> x = pv::stack_names::NumberInName(a), y = pv::stack_names::NumberInName(b);
  if (x && y) return *x > *y ? 1 : *x < *y ? -1 : 0;
  if (x) return 1;
  if (y) return -1;
  return std::strcmp(a, b);
}
inline int ByNumberReversed(const char* a, const char* b) { return ByNumber(b, a); }

}  // namespace pvtest
