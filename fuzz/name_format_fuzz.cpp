// Fuzzes pvsplit's slice-name pattern (the input up to its first NUL)
// against a model of the accepted patterns written as a POSIX regular
// expression: "%%" anywhere, at most one conversion % [-+ #0]* [digits]
// [. digits] one of d i o u x X. Names are made only from patterns the
// model accepts, for slice indexes 0, 7 and the largest int, and must
// equal printf's own result, or give "bad file name format." exactly when
// that result is 2048 characters or more.
#include <regex.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "slices/name_pattern.h"
#include "tests/support/fatal.h"

namespace {

using namespace pv::name_pattern;

void Check(bool ok) {
  if (!ok) std::abort();
}

const regex_t& Pattern() {
  static regex_t re;
  static const bool ready =
      regcomp(&re, "^([^%]|%%)*(%[-+ #0]*([0-9]*)(\\.([0-9]*))?[diouxX]([^%]|%%)*)?$",
              REG_EXTENDED) == 0;
  Check(ready);
  return re;
}

// A width or precision above 2047 (leading zeros do not count).
bool Over2047(const char* text, const regmatch_t& m) {
  if (m.rm_so < 0) return false;
  std::string digits(text + m.rm_so, std::size_t(m.rm_eo - m.rm_so));
  digits.erase(0, digits.find_first_not_of('0'));
  return digits.size() > 4 || (!digits.empty() && std::stoi(digits) > 2047);
}


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  const std::string format(reinterpret_cast<const char*>(bytes),
                           strnlen(reinterpret_cast<const char*>(bytes), size));
  regmatch_t m[6];
  const bool want_ok = regexec(&Pattern(), format.c_str(), 6, m, 0) == 0;
  const bool want_long = want_ok && (Over2047(format.c_str(), m[3]) || Over2047(format.c_str(), m[5]));

  const auto [checked, error] = pvtest::Outcome([&] { return CheckNameFormat(format.c_str()); });
  Check(want_ok ? error.empty() : error == "bad file name format.\n");
  if (!want_ok) return 0;
  const bool too_long = *checked;
  Check(too_long == want_long);

  for (int k : {0, 7, INT_MAX}) {
    std::string want_error = "bad file name format.\n";
    std::string want_name;
    if (!want_long) {
      const int n = std::snprintf(nullptr, 0, format.c_str(), k);
      Check(n >= 0);
      std::vector<char> full(std::size_t(n) + 1);
      std::snprintf(full.data(), full.size(), format.c_str(), k);
      if (n < 2048) want_error.clear(), want_name = full.data();
    }
    char name[2048];
    const std::string got_error =
        pvtest::FatalLine([&] { FormatName(name, format.c_str(), too_long, k); });
    Check(got_error == want_error);
    if (got_error.empty()) Check(want_name == name);
  }
  return 0;
}
