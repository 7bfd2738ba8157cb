// Fuzzes the description mapping of integer slices against a model built
// from the scanning it stands for: "%s %s %s %s %s %s %s %s" into 2048-byte
// words, and "%lf%n" on each, which must take the whole word. The first byte gives the bits per sample (1 to
// 32), the rest is the description as stored.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/description.h"

namespace {

using pv::DescriptionMapping;
using pv::Mapping;

void Check(bool ok) {
  if (!ok) std::abort();
}

bool IsSpace(char c) { return c != '\0' && std::strchr(" \t\n\v\f\r", c) != nullptr; }

bool Same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A number that is all of the word, and finite. The C library's scanf
// takes characters that end no number ("1e-", "0x.") into the number it
// reads, so the word must also be what strtod reads whole.
bool Number(const char* word, double& v) {
  int used = -1;
  char* end = nullptr;
  const std::size_t n = std::strlen(word);
  return std::sscanf(word, "%lf%n", &v, &used) == 1 && std::size_t(used) == n &&
         std::strtod(word, &end) == v && end == word + n && std::isfinite(v);
}

Mapping Model(const char* text, int bits) {
  static char w[8][2048];
  const int n = std::sscanf(text, "%s %s %s %s %s %s %s %s", w[0], w[1], w[2], w[3], w[4], w[5],
                            w[6], w[7]);
  double a, b;
  if (n == 2 || n == 6) {
    if (Number(w[n - 2], a) && Number(w[n - 1], b) && a < b) {
      const double step = (b - a) / double((std::uint64_t{1} << bits) - 1);
      if (std::isfinite(step) && step > 0) return {true, a, step};
    }
  } else if (n == 3 || n == 4 || n == 8) {
    if (Number(w[n - 2], a) && Number(w[n - 1], b) && b > 0)
      return {true, a, b};
  }
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) return 0;
  const int bits = 1 + bytes[0] % 32;
  const std::string description(reinterpret_cast<const char*>(bytes + 1), size - 1);
  const Mapping got = DescriptionMapping(description, bits);
  const std::string text = description.substr(0, description.find('\0'));
  if (text.rfind("ImageJ=", 0) == 0) {
    // ImageJ's calibration: a straight line, never flat, never infinite.
    if (got.found) Check(std::isfinite(got.base) && std::isfinite(got.step) && got.step != 0);
  } else if (text.size() <= pv::kMaxDescriptionWord) {
    // No word can outgrow its buffer: the model is exact.
    const Mapping want = Model(text.c_str(), bits);
    Check(got.found == want.found && Same(got.base, want.base) && Same(got.step, want.step));
  } else {
    // Any of the first eight words too long: no mapping at all.
    std::size_t i = 0;
    for (int k = 0; k < 8; ++k) {
      while (i < text.size() && IsSpace(text[i])) ++i;
      std::size_t start = i;
      while (i < text.size() && !IsSpace(text[i])) ++i;
      if (i - start > pv::kMaxDescriptionWord) Check(!got.found);
    }
  }
  if (got.found) Check(std::isfinite(got.base) && std::isfinite(got.step) && got.step != 0);
  else Check(got.base == 0 && got.step == 1);
  return 0;
}
