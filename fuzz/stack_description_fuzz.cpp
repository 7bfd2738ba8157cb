// Fuzzes the description mapping of integer slices against a model built
// from the scanning it stands for: "%s %s %s %s %s %s %s %s" into 2048-byte
// words and "%lf" on each. The first byte gives the bits per sample (1 to
// 32), the rest is the description as stored.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "slices/csi_f_core.h"

namespace {

using namespace pv::csi_f;

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Same(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

Mapping Model(const char* text, int bits) {
  static char w[8][2048];
  const int n = std::sscanf(text, "%s %s %s %s %s %s %s %s", w[0], w[1], w[2], w[3], w[4], w[5],
                            w[6], w[7]);
  double a, b;
  if (n == 2 || n == 6) {
    if (std::sscanf(w[n - 2], "%lf", &a) == 1 && std::sscanf(w[n - 1], "%lf", &b) == 1 && a < b)
      return {true, a, (b - a) / double((std::uint64_t{1} << bits) - 1)};
  } else if (n == 3 || n == 4 || n == 8) {
    if (std::sscanf(w[n - 2], "%lf", &a) == 1 && std::sscanf(w[n - 1], "%lf", &b) == 1 && b > 0)
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
  if (text.size() <= kMaxWord) {
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
      if (i - start > kMaxWord) Check(!got.found);
    }
  }
  if (got.found) Check(got.step > 0 || got.step == 0);  // never NaN or negative
  else Check(got.base == 0 && got.step == 1);
  return 0;
}
