// The image description as the suite uses it: the text that tells how an
// integer image's codes map back to values (value = base + step x code),
// and the text of a value range, in the files and in the printed lines.
//
// The forms, read by DescriptionMapping and written by the functions below:
//
//   form             words                    example
//   range            lo hi (or 6 words)       "10.000000\t20.000000"
//   base and step    word base step (3, 4, 8) "pvquant\t0.000000\t0.100000"
//   ImageJ           first line "ImageJ=...", "cf=0", "c0=-33792.0", "c1=1.0"
//
// Numbers are written in six decimals ("%lf") where that text reads back
// within kReadBackSteps of the finest step that the numbers can stand for,
// and otherwise in 17 significant digits ("%.17g"), which read back exactly.
// The finest step of a range is that of 16-bit codes, (hi - lo) / 65535; a
// range whose ends are equal must read back exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pv {

// White space as "%s" knows it in the C locale: what separates the words
// of a description (and of pvstack's names).
constexpr bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The share of the finest step by which a written number may miss when
// it is read back.
inline constexpr double kReadBackSteps = 0.1;

// The longest word that counts (a 2048-byte word buffer with its NUL).
inline constexpr std::size_t kMaxDescriptionWord = 2047;

// The first word of the base-and-step form that pvquant writes.
inline constexpr char kBaseStepWord[] = "pvquant";

// How an integer image of `bits` bits per sample maps back to values:
// value = code x step + base.
struct Mapping {
  bool found = false;  // false: base 0, step 1, the codes taken as values
  double base = 0;
  double step = 1;
};

// The mapping an image description gives (the text up to its first NUL),
// for an image of 1 to 32 bits per sample. A word counts as a number only
// when all of it is one, and every number of a mapping must be finite.
// An ImageJ description maps by its straight-line calibration (cf=0,
// value = c0 + c1 x code) and by nothing else. Otherwise, of its first
// eight words: two or six end in a range lo hi (lo < hi; base lo, step
// (hi - lo) / (2^bits - 1)); three, four or eight end in a base and a step
// (step > 0). Any other count, or a word longer than kMaxDescriptionWord,
// gives no mapping.
Mapping DescriptionMapping(std::string_view description, int bits);

// Whether `m` gives every code 0 .. top_code the value that base + code x
// step gives, to within kReadBackSteps of the finest step of that range
// plus the rounding of the ends to single precision (a float image's own
// values).
bool SameMapping(const Mapping& m, double base, double step, std::uint32_t top_code);

// "lo<TAB>hi", the range form; also the printed range lines, with "\n".
std::string RangeText(double lo, double hi);

// "pvquant<TAB>base<TAB>step", the base-and-step form for codes 0 ..
// top_code.
std::string BaseStepText(double base, double step, std::uint32_t top_code);

// The description of an image of codes 0 .. 2^bits - 1 made from an image
// described by `input` (or nothing) with base and step, top being the value
// of the top code: the input's text where it already maps the codes back
// so; else, for a mapping derived from the image's range, the range form
// (base top), unless the image held one value only, whose mapping needs
// the base-and-step form as a given one does.
std::string QuantisedDescription(const std::optional<std::string>& input, int bits, double base,
                                 double step, double top, bool derived);

}  // namespace pv
