#include "common/description.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace pv {

namespace {

// Whether all of `word` is one number, and which.
bool WholeNumber(std::string_view word, double& v) {
  if (word.empty()) return false;
  const std::string text(word);
  char* end = nullptr;
  v = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size();
}

// ImageJ keeps its calibration as lines "key=value": the straight line
// (cf=0) maps a code to c0 + c1 x code; any other function, or none, maps
// nothing here.
Mapping ImageJMapping(std::string_view text) {
  std::string_view cf, c0, c1;
  while (!text.empty()) {
    const std::size_t eol = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, eol);
    text.remove_prefix(std::min(eol + 1, text.size()));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, eq), value = line.substr(eq + 1);
    std::string_view* slot = key == "cf" ? &cf : key == "c0" ? &c0 : key == "c1" ? &c1 : nullptr;
    if (slot != nullptr && slot->data() == nullptr) *slot = value;  // the first line of each
  }
  double f, base, step;
  if (!WholeNumber(cf, f) || f != 0 || !WholeNumber(c0, base) || !WholeNumber(c1, step)) return {};
  if (!std::isfinite(base) || !std::isfinite(step) || step == 0) return {};
  return {true, base, step};
}

// How far the six-decimal text of v misses v when it is read back. An
// infinity or NaN keeps that form, which names it.
double SixDecimalMiss(double v) {
  if (!std::isfinite(v)) return 0;
  char text[400];  // "%lf" of the largest double is 317 characters
  std::snprintf(text, sizeof text, "%lf", v);
  return std::fabs(std::strtod(text, nullptr) - v);
}

std::string Join(const char* form, double a, double b) {
  char text[800];
  std::snprintf(text, sizeof text, form, a, b);
  return text;
}

// The finest step that a range can stand for: that of 16-bit codes.
constexpr double kFinestCodes = 65535;
// Single precision keeps 24 bits: a float image's extremes may miss the
// values they were made from by half a unit in the last place, 2^-24 of
// their size, which SameMapping allows twice over.
constexpr double kFloatRounding = 0x1p-23;

}  // namespace

Mapping DescriptionMapping(std::string_view description, int bits) {
  if (bits < 1 || bits > 32) return {};
  const std::string_view text = description.substr(0, description.find('\0'));
  if (text.starts_with("ImageJ=")) return ImageJMapping(text);
  // At most eight words, as "%s %s %s %s %s %s %s %s" takes them.
  std::string_view words[8];
  int n = 0;
  for (std::size_t i = 0; n < 8;) {
    while (i < text.size() && IsSpace(text[i])) ++i;
    if (i == text.size()) break;
    const std::size_t start = i;
    while (i < text.size() && !IsSpace(text[i])) ++i;
    if (i - start > kMaxDescriptionWord) return {};
    words[n++] = text.substr(start, i - start);
  }
  if (n != 2 && n != 6 && n != 3 && n != 4 && n != 8) return {};
  double a, b;
  if (!WholeNumber(words[n - 2], a) || !WholeNumber(words[n - 1], b)) return {};
  if (!std::isfinite(a) || !std::isfinite(b)) return {};
  if (n == 2 || n == 6) {
    // A value range: the inverse of quantising lo..hi onto 0..2^bits - 1.
    if (!(a < b)) return {};
    const std::uint64_t levels = (std::uint64_t{1} << bits) - 1;
    const double step = (b - a) / static_cast<double>(levels);
    if (!std::isfinite(step) || !(step > 0)) return {};
    return {true, a, step};
  }
  // A base and a step.
  if (!(b > 0)) return {};
  return {true, a, b};
}

bool SameMapping(const Mapping& m, double base, double step, std::uint32_t top_code) {
  const double top = base + top_code * step;
  if (!m.found || !std::isfinite(base) || !std::isfinite(step) || !std::isfinite(top)) return false;
  const double tolerance = kReadBackSteps * ((top - base) / kFinestCodes) +
                           kFloatRounding * std::max(std::fabs(base), std::fabs(top));
  return std::fabs(m.base - base) <= tolerance &&
         std::fabs(m.base + top_code * m.step - top) <= tolerance;
}

std::string RangeText(double lo, double hi) {
  const double tolerance = lo < hi ? kReadBackSteps * ((hi - lo) / kFinestCodes) : 0;
  if (std::max(SixDecimalMiss(lo), SixDecimalMiss(hi)) <= tolerance)
    return Join("%lf\t%lf", lo, hi);
  return Join("%.17g\t%.17g", lo, hi);
}

std::string BaseStepText(double base, double step, std::uint32_t top_code) {
  // The codes' values move by the base's miss plus top_code times the
  // step's, which must stay within the finest step of their range.
  const bool six = SixDecimalMiss(base) + top_code * SixDecimalMiss(step) <=
                   kReadBackSteps * (top_code * step / kFinestCodes);
  const char* form = six ? "%s\t%lf\t%lf" : "%s\t%.17g\t%.17g";
  char text[800];
  std::snprintf(text, sizeof text, form, kBaseStepWord, base, step);
  return text;
}

std::string QuantisedDescription(const std::optional<std::string>& input, int bits, double base,
                                 double step, double top, bool derived) {
  const std::uint32_t top_code = (std::uint32_t{1} << bits) - 1;
  if (input && SameMapping(DescriptionMapping(*input, bits), base, step, top_code)) return *input;
  if (derived && !(base == top)) return RangeText(base, top);
  return BaseStepText(base, step, top_code);
}

}  // namespace pv
