#include "slices/stack_names.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/error.h"
#include "common/messages.h"

namespace pv::stack_names {

Form FormOf(const char* names) {
  if (names[0] != '-') return Form::kNameFile;
  if (names[1] != '-' && names[1] != '\0') return Form::kInlineList;
  return Form::kListing;
}

namespace {

// The first word of `p` as [begin, end), or begin == end when there is none.
std::string_view FirstWord(const char* p) {
  while (IsSpace(*p)) ++p;
  const char* e = p;
  while (*e != '\0' && !IsSpace(*e)) ++e;
  return {p, std::size_t(e - p)};
}

}  // namespace

std::vector<std::string> ReadNameFile(std::FILE* file, const std::string& path) {
  std::vector<std::string> names;
  // fgets keeps the line buffer's rules: at most 2047 bytes per read, up to
  // and including the newline. What strlen sees is what counts, so a NUL in
  // a line hides its newline and the line is refused as too long.
  char line[2048];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (line[0] == '\0') continue;
    if (line[std::strlen(line) - 1] != '\n') Error(path, msg::kTooLongLine);
    std::string_view word = FirstWord(line);
    if (!word.empty()) names.emplace_back(word);
  }
  // A failed read must not pass for the end of the list (a name file that
  // is a directory fails here too).
  if (std::ferror(file)) Error(path, msg::kNameFileNotOpen);
  return names;
}

std::vector<std::string> InlineNames(const char* text) {
  std::vector<std::string> names;
  for (;;) {
    std::string_view word = FirstWord(text);
    if (word.empty()) break;
    if (word.size() > kMaxWord) Error(word, msg::kTooLongName);
    names.emplace_back(word);
    text = word.data() + word.size();
  }
  return names;
}

std::optional<Order> SortingOption(const char* names) {
  if (std::strcmp(names, "-") == 0) return Order::kNormal;
  // names begins with "--": the third character picks, the fourth may add the other letter.
  const char third = names[2];
  const char fourth = third == '\0' ? '\0' : names[3];
  if (third == 'r') {
    if (fourth == '\0') return Order::kReverse;
    if (fourth == 'n') return Order::kDescending;
  } else if (third == 'n') {
    if (fourth == '\0') return Order::kAscending;
    if (fourth == 'r') return Order::kDescending;
  }
  return std::nullopt;
}

std::optional<double> NumberInName(const char* name) {
  const char* p = name;
  while (*p != '\0' && !(('0' <= *p && *p <= '9') || *p == '+' || *p == '-')) ++p;
  if (*p == '\0') return std::nullopt;
  // sscanf rather than strtod: the two differ on texts like "0x", which
  // sscanf does not take as a number.
  double v;
  if (std::sscanf(p, "%lf", &v) != 1) return std::nullopt;
  return v;
}

void SortNames(std::vector<std::string>& paths, std::size_t skip, Order order) {
  auto bare = [skip](const std::string& s) { return s.c_str() + std::min(skip, s.size()); };
  if (order == Order::kNormal || order == Order::kReverse) {
    const bool up = order == Order::kNormal;
    std::sort(paths.begin(), paths.end(), [&](const std::string& a, const std::string& b) {
      const int c = std::strcmp(bare(a), bare(b));
      return up ? c < 0 : c > 0;
    });
    return;
  }
  // Each name's number is read once. The ranks make the comparison a strict
  // order even with NaN: names without a number, then numbered names by
  // their number, then names whose number is NaN; ties by the name itself.
  struct Key {
    int rank;
    double number;
    std::string path;
  };
  std::vector<Key> keys;
  keys.reserve(paths.size());
  for (std::string& p : paths) {
    const std::optional<double> x = NumberInName(bare(p));
    const int rank = !x ? 0 : *x != *x ? 2 : 1;
    keys.push_back({rank, rank == 1 ? *x : 0.0, std::move(p)});
  }
  std::sort(keys.begin(), keys.end(), [&](const Key& a, const Key& b) {
    if (a.rank != b.rank) return a.rank < b.rank;
    if (a.number != b.number) return a.number < b.number;
    return std::strcmp(bare(a.path), bare(b.path)) < 0;
  });
  if (order == Order::kDescending) std::reverse(keys.begin(), keys.end());
  for (std::size_t i = 0; i < keys.size(); ++i) paths[i] = std::move(keys[i].path);
}

}  // namespace pv::stack_names
