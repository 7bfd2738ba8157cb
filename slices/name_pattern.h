// The names of the slice files that pvsplit cuts a volume into: a printf
// format with the slice index as its one int argument.
#pragma once

namespace pv::name_pattern {

// CheckNameFormat accepts at most one conversion, of the
// form % [-+ #0]* [digits] [. digits] one of d i o u x X, and any number of
// "%%"; anything else gives "bad file name format.". It returns whether
// every name is 2048 characters or more (a width or precision above 2047),
// which FormatName reports only when it makes the first name.
bool CheckNameFormat(const char* format);

// Whether an accepted format has its conversion: without one, every slice
// would have the same name (pvsplit then writes one file of all slices).
bool HasConversion(const char* format);

// The name of slice k, in a 2048-byte buffer; "bad file name format." when
// it does not fit. `too_long` is what CheckNameFormat returned.
void FormatName(char (&name)[2048], const char* format, bool too_long, int k);

}  // namespace pv::name_pattern
