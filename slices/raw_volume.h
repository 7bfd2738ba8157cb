// The raw volume file: one header line, then the body.
//
//   header  width TAB height LF            one slice
//           width TAB height TAB count LF  count > 1 slices
//   body    count slices, each height rows of width samples, row 0 and
//           column 0 first, every sample an 8-byte IEEE double in
//           little-endian byte order; nothing between rows or slices,
//           nothing after the last sample.
//
// The format has no magic number: a file is a raw volume by its header
// alone. Readers take up to three decimal ints separated by white space,
// need the first two, and let a missing count mean 1.
//
// Also here: the printf-style pattern that names the slices of a volume
// when it is cut into TIFF files.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdio>
#include <string>

namespace pv::raw_volume {

// Samples are moved between memory and the body without conversion, so the
// host's doubles must already have the body's layout.
inline constexpr std::endian kBodyOrder = std::endian::little;
inline constexpr std::size_t kSampleBytes = 8;
static_assert(std::endian::native == kBodyOrder && sizeof(double) == kSampleBytes,
              "raw volume bodies are little-endian 8-byte doubles, moved as the host holds them");

struct Header {
  int width = 0;
  int height = 0;
  int count = 1;
};

// The header line, LF included: the count only when greater than 1.
std::string FormatHeader(int width, int height, int count);

// Reads the header line (at most 2047 bytes up to and including its LF) and
// checks it. "bad image size." for no line, a longer line, fewer than two
// numbers, a value outside the int range or a value of 0 or less. The
// stream is left at the first body byte.
Header ReadHeader(std::FILE* in);

// The checks of ReadHeader on a line already read (the text up to its first
// NUL counts).
Header ParseHeader(const char* line);

// Output names of the slices: a printf format with the slice index as its
// one int argument. CheckNameFormat accepts at most one conversion, of the
// form % [-+ #0]* [digits] [. digits] one of d i o u x X, and any number of
// "%%"; anything else gives "bad file name format.". It returns whether
// every name is 2048 characters or more (a width or precision above 2047),
// which FormatName reports only when it makes the first name.
bool CheckNameFormat(const char* format);

// The name of slice k, in a 2048-byte buffer; "bad file name format." when
// it does not fit. `too_long` is what CheckNameFormat returned.
void FormatName(char (&name)[2048], const char* format, bool too_long, int k);

}  // namespace pv::raw_volume
