// The reader-independent half of the slice module csi_f: how the names
// argument of pvstack becomes a list of file names, how a directory listing is
// ordered.
// Nothing here opens a TIFF file, so every piece can be tested and fuzzed on
// its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/description.h"


namespace pv::stack_names {

// The directory text and every word are held in 2048-byte texts: the
// directory argument may have up to 2046 characters (a "/" is appended), a
// word up to 2047.
inline constexpr std::size_t kMaxDirectory = 2046;
inline constexpr std::size_t kMaxWord = 2047;

// Names are words as descriptions are (common/description.h).
using pv::IsSpace;

// The three forms of a names argument, told apart by its first two
// characters: a name file (no leading "-"), an inline list ("-" and then
// anything but "-" or the end), the directory listing ("-" alone or "--"
// and a sorting option).
enum class Form { kNameFile, kInlineList, kListing };
Form FormOf(const char* names);

// The names of a name file, one per line: the first word of each line that
// holds one. Lines are read as into a 2048-byte line buffer: a line whose
// first byte is NUL is skipped; any other line must end with its newline
// within 2047 bytes (NUL bytes hide what follows them), else "too long
// line" with `path` as subject; this also refuses a last line without its
// newline. A read error counts as "name file not open". An empty result is
// left to the caller.
std::vector<std::string> ReadNameFile(std::FILE* file, const std::string& path);

// The words of an inline list (the text after its "-"), in order. A word
// longer than kMaxWord is refused with "too long name", the word itself as
// subject. An empty result is left to the caller.
std::vector<std::string> InlineNames(const char* text);

// The orders of the directory listing form, by the bare file names.
enum class Order { kNormal, kReverse, kAscending, kDescending };

// The order a listing argument asks for: "-" byte order of the names,
// "--r" its reverse, "--n" ascending by the number in the name, "--nr" or
// "--rn" descending. Only the third and fourth
// characters count; anything else (including "--" alone) is unknown.
std::optional<Order> SortingOption(const char* names);

// The number in a file name: read with "%lf" from its first digit, "+" or
// "-". A name whose first such character does not start a number has none;
// no later position is tried.
std::optional<double> NumberInName(const char* name);

// Sorts slice paths by their bare names (the text after the first `skip`
// characters) in `order`. Where a comparison leaves two names equal (the
// same number, or a number that is NaN against any other) the result is
// still one fixed order: equal numbers by their names byte by byte, names
// whose number is NaN after every other numbered name. The descending
// orders are the exact reverse of the ascending ones.
void SortNames(std::vector<std::string>& paths, std::size_t skip, Order order);

}  // namespace pv::stack_names
