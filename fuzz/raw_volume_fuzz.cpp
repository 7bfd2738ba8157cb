// Fuzzes the raw volume header against a model of its rules: the bytes are
// the start of a volume, read through a memory stream as from a file. The
// line is what comes up to and including the first LF within 2047 bytes
// (or all of a shorter input), seen up to its first NUL; up to three ints,
// each white space, a sign and decimal digits. An accepted header must
// leave the stream at the first body byte and survive a round trip through
// the header writer; a rejected one gives exactly "bad image size.".
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "slices/raw_volume.h"
#include "tests/support/fatal.h"

namespace {

using namespace pv::raw_volume;

void Check(bool ok) {
  if (!ok) std::abort();
}

bool Same(const Header& a, const Header& b) {
  return a.width == b.width && a.height == b.height && a.count == b.count;
}

// The header the line holds, or nothing when it is refused.
std::optional<Header> Model(const std::string& line) {
  long long v[3] = {0, 0, 1};
  int n = 0;
  for (std::size_t i = 0; n < 3;) {
    while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
    const bool minus = i < line.size() && line[i] == '-';
    if (i < line.size() && (line[i] == '-' || line[i] == '+')) ++i;
    std::size_t d = i;
    while (i < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) ++i;
    if (i == d) break;
    while (d + 1 < i && line[d] == '0') ++d;
    if (i - d > 10) return std::nullopt;
    const long long x = std::stoll(line.substr(d, i - d));
    if ((minus ? -x : x) < INT32_MIN || (minus ? -x : x) > INT32_MAX) return std::nullopt;
    v[n++] = minus ? -x : x;
  }
  if (n < 2 || v[0] <= 0 || v[1] <= 0 || v[2] <= 0) return std::nullopt;
  return Header{int(v[0]), int(v[1]), int(v[2])};
}

std::optional<Header> Parse(const char* line) {
  const auto [header, error] = pvtest::Outcome([&] { return ParseHeader(line); });
  Check(error.empty() || error == "bad image size.\n");
  return header;
}

// The writer's line reads back as the header it was made from.
void RoundTrip(const Header& h) {
  const std::string line = FormatHeader(h.width, h.height, h.count);
  char want[64];
  if (h.count > 1) std::snprintf(want, sizeof want, "%d\t%d\t%d\n", h.width, h.height, h.count);
  else std::snprintf(want, sizeof want, "%d\t%d\n", h.width, h.height);
  Check(line == want);
  const auto back = Parse(line.c_str());
  Check(back.has_value() && Same(*back, {h.width, h.height, h.count > 1 ? h.count : 1}));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) return 0;  // fmemopen needs a buffer
  std::string copy(reinterpret_cast<const char*>(bytes), size);
  std::size_t end = 0;
  while (end < size && end < 2047 && copy[end] != '\n') ++end;
  const bool whole = end < size && end < 2047;  // the LF is within the limit
  std::optional<Header> want;
  if (whole || end < 2047) {
    const std::size_t length = whole ? end + 1 : end;
    want = Model(std::string(copy.data(), strnlen(copy.data(), length)));
    end = length;
  }

  std::FILE* f = fmemopen(copy.data(), copy.size(), "rb");
  if (f == nullptr) return 0;
  const auto [got, error] = pvtest::Outcome([&] { return ReadHeader(f); });
  Check(error.empty() || error == "bad image size.\n");
  const long at = std::ftell(f);
  std::fclose(f);
  Check(got.has_value() == want.has_value());
  if (got) {
    Check(Same(*got, *want));
    Check(at == long(end));
    RoundTrip(*got);
  }
  // Any positive ints from the first bytes, through the writer and back.
  if (size >= 12) {
    int v[3];
    std::memcpy(v, bytes, sizeof v);
    if (v[0] > 0 && v[1] > 0 && v[2] > 0) RoundTrip({v[0], v[1], v[2]});
  }
  return 0;
}
