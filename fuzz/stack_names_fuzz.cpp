// Fuzzes the slice-list parsers and orders against a plain model of their
// rules. The first byte picks the piece:
//   0: a name file (read through a memory stream, as from disk), checked
//      against a line-by-line model of a 2048-byte line buffer;
//   1: an inline list, checked against "%s" scanning with the scan resumed
//      after each word's first occurrence;
//   2: names, one per line, sorted in all four orders; each result must be a
//      permutation that every comparison agrees with.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "slices/stack_names.h"
#include "tests/support/fatal.h"
#include "tests/support/name_order.h"

namespace {

using namespace pv::stack_names;
using Names = std::vector<std::string>;

void Check(bool ok) {
  if (!ok) std::abort();
}

std::string FirstWord(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size() && IsSpace(s[i])) ++i;
  std::size_t e = i;
  while (e < s.size() && !IsSpace(s[e])) ++e;
  return s.substr(i, e - i);
}

void NameFile(const char* data, std::size_t size) {
  if (size == 0) return;  // fmemopen needs a buffer
  // Model: lines as a 2048-byte fgets buffer cuts them, each seen up to its
  // first NUL.
  Names want;
  std::string want_error;
  for (std::size_t pos = 0; pos < size;) {
    std::size_t end = pos;
    while (end < size && end - pos < 2047 && data[end] != '\n') ++end;
    if (end < size && end - pos < 2047) ++end;  // the newline itself
    std::string line(data + pos, end - pos);
    pos = end;
    line = line.substr(0, line.find('\0'));
    if (line.empty()) continue;
    if (line.back() != '\n') {
      want_error = "n : too long line.\n";
      break;
    }
    std::string w = FirstWord(line);
    if (!w.empty()) want.push_back(w);
  }

  std::string copy(data, size);
  std::FILE* f = fmemopen(copy.data(), copy.size(), "r");
  if (f == nullptr) return;
  const auto [got, error] = pvtest::Outcome([&] { return ReadNameFile(f, "n"); });
  std::fclose(f);
  Check(error == want_error);
  if (error.empty()) Check(*got == want);
}

void Inline(const char* data, std::size_t size) {
  const std::string text(data, strnlen(data, size));
  // Model: "%s" from where the previous word was first found.
  Names want;
  std::string want_error;
  std::vector<char> word(text.size() + 1);
  for (const char* rest = text.c_str(); std::sscanf(rest, "%s", word.data()) == 1;) {
    const std::size_t n = std::strlen(word.data());
    if (n > kMaxWord && want_error.empty()) want_error = std::string(word.data()) + " : too long name.\n";
    want.emplace_back(word.data());
    rest = std::strstr(rest, word.data()) + n;
  }
  const auto [got, error] = pvtest::Outcome([&] { return InlineNames(text.c_str()); });
  Check(error == want_error);
  if (error.empty()) Check(*got == want);
}

void Orders(const char* data, std::size_t size) {
  Names names;
  std::string cur;
  for (std::size_t i = 0; i <= size && names.size() < 32; ++i) {
    if (i == size || data[i] == '\n' || data[i] == '\0') {
      names.push_back(cur);
      cur.clear();
    } else {
      cur += data[i];
    }
  }
  (void)SortingOption(("--" + names[0]).c_str());
  const std::string dir = "d/";
  const Order orders[] = {Order::kNormal, Order::kReverse, Order::kAscending, Order::kDescending};
  int (*const compare[])(const char*, const char*) = {pvtest::ByName, pvtest::ByNameReversed,
                                                       pvtest::ByNumber, pvtest::ByNumberReversed};
  for (int o = 0; o < 4; ++o) {
    Names paths;
    for (const auto& n : names) paths.push_back(dir + n);
    SortNames(paths, dir.size(), orders[o]);
    Names bare;
    for (const auto& p : paths) {
      Check(p.compare(0, dir.size(), dir) == 0);
      bare.push_back(p.substr(dir.size()));
    }
    Names a = names, b = bare;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    Check(a == b);
    for (std::size_t i = 0; i < bare.size(); ++i)
      for (std::size_t j = i + 1; j < bare.size(); ++j)
        Check(compare[o](bare[i].c_str(), bare[j].c_str()) <= 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  if (size == 0) return 0;
  const char* data = reinterpret_cast<const char*>(bytes + 1);
  switch (bytes[0] % 3) {
    case 0: NameFile(data, size - 1); break;
    case 1: Inline(data, size - 1); break;
    default: Orders(data, size - 1); break;
  }
  return 0;
}
