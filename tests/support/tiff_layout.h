// Our written TIFF files taken apart for checking: the first directory as
// stored, the strip tables, a strict LZW decoder of one strip, and the
// checker of the strip layout shared by the integer writer and both builds
// of the full floating-point writer.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace pvtest {

// One directory entry as stored; `at` is its offset in the file, so its
// value field starts at at + 8.
struct TiffEntry {
  std::uint16_t tag, type;
  std::uint32_t count, value;
  std::uint32_t at;
};

// The first directory of a little-endian file: its offset and entries in
// stored order (empty when the header is not "II" 42).
struct TiffDirectory {
  std::uint32_t offset = 0;
  std::vector<TiffEntry> entries;
  std::uint32_t next = 0;
  std::optional<TiffEntry> Find(std::uint16_t tag) const;
};
TiffDirectory ParseDirectory(const Bytes& file);

// The K strips' offsets and counts, from the entries or the arrays.
struct StripTable {
  std::vector<std::uint32_t> offsets, counts;
};
StripTable Strips(const Bytes& file, const TiffDirectory& dir);

struct StripCode {
  std::uint32_t code, width;
};

struct DecodedStrip {
  Bytes data;                     // the decompressed bytes
  std::vector<StripCode> codes;   // every code read, with its width
  std::string problem;            // empty when the strip is exactly right
};

// Decodes one LZW strip, reading codes of 9 to 12 bits most significant bit
// first and widening when the next free code reaches 511, 1023 and 2047 (the
// decoder's table runs one entry behind the encoder's). A strip is exactly
// right when it starts with a clear code, every code is defined, it ends
// with the end code at the current width, and only zero fill bits follow in
// its last byte.
DecodedStrip DecodeStrip(const Bytes& strip);

// What a file in the writers' strip layout must hold.
struct StripFileWant {
  bool floating = false;  // SampleFormat and the extremes follow
  std::uint32_t width = 0, height = 0;
  std::uint16_t width_type = 3, height_type = 3;  // SHORT, or LONG (4)
  std::uint16_t bits = 0, compression = 5, photometric = 1;
  std::uint32_t rows_per_strip = 0, strips = 0, first_strip = 8;
  Bytes rows;  // the rows' bytes as stored before compression (empty: not compared)
};

// Checks every rule of the strip layout of a file without a description,
// each as a test expectation: the entries in order with the wanted values
// (SamplesPerPixel and PlanarConfiguration 1, the float entries), the
// strips one after another from first_strip on even offsets with zero pad
// bytes, every LZW strip an exactly right stream holding its rows, the strip
// arrays (K > 1) and the directory behind them, the file ending with the
// directory. Where the writers put a description is checked over all of
// them in the writers' table.
void CheckStripFile(const Bytes& file, const StripFileWant& want);

}  // namespace pvtest
