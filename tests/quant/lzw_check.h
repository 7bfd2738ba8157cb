// Test helpers for LZW strips: an independent, strict decoder of one strip
// as a TIFF reader sees it, and the encoder's output for a run of bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/files.h"

namespace pvtest {

struct StripCode {
  std::uint32_t code, width;
};

struct DecodedStrip {
  Bytes data;                     // the decompressed bytes
  std::vector<StripCode> codes;   // every code read, with its width
  std::string problem;            // empty when the strip is exactly right
};

// Decodes one strip, reading codes of 9 to 12 bits most significant bit
// first and widening when the next free code reaches 511, 1023 and 2047 (the
// decoder's table runs one entry behind the encoder's). A strip is exactly
// right when it starts with a clear code, every code is defined, it ends
// with the end code at the current width, and only zero fill bits follow in
// its last byte.
DecodedStrip DecodeStrip(const Bytes& strip);

// The encoder's output for `input`, fed in pieces of `piece` bytes (0: one
// Encode call per byte), into the room the writers give a strip; empty when
// the encoder wrote beyond that room.
Bytes EncodeStrip(const Bytes& input, std::size_t piece);

// A TIFF file of one 8-bit strip (width x height = its decompressed size)
// holding `strip` as LZW data, for libtiff to decode.
Bytes WrapStrip(const Bytes& strip, std::uint32_t width, std::uint32_t height);

// Rows like those of a CT slice: a dark background, a bright disc with
// smooth structure and a little noise; 8 or 16 bits, little-endian bytes.
Bytes CtLikeRows(std::uint32_t width, std::uint32_t height, int bits, std::uint32_t seed);

// A sequence whose consecutive byte pairs are all different (up to 65536
// bytes): every Encode after the first defines a new entry.
Bytes DistinctPairs(std::size_t n);

}  // namespace pvtest

namespace pvtest {

// One directory entry as stored.
struct TiffEntry {
  std::uint16_t tag, type;
  std::uint32_t count, value;
};

// The first directory of a little-endian file: its offset and entries in
// stored order (empty when the header is not "II" 42).
struct TiffDirectory {
  std::uint32_t offset = 0;
  std::vector<TiffEntry> entries;
  std::uint32_t next = 0;
  const TiffEntry* Find(std::uint16_t tag) const;
};
TiffDirectory ParseDirectory(const Bytes& file);

// The K strips' offsets and counts, from the entries or the arrays.
struct StripTable {
  std::vector<std::uint32_t> offsets, counts;
};
StripTable Strips(const Bytes& file, const TiffDirectory& dir);

// What a file in the writers' strip layout (the integer writer and both
// builds of the full float writer) must hold.
struct StripFileWant {
  bool description = false, floating = false;  // which entries are written
  std::uint32_t width = 0, height = 0;
  std::uint16_t width_type = 3, height_type = 3;  // SHORT, or LONG (4)
  std::uint16_t bits = 0, compression = 5, photometric = 1;
  std::uint32_t rows_per_strip = 0, strips = 0, first_strip = 8;
};

struct StripFile {
  TiffDirectory dir;
  std::vector<Bytes> strips;  // as stored, decoded when LZW
};

// Checks every rule of the strip layout, each as a test expectation: the
// entries in order with the wanted values (SamplesPerPixel and
// PlanarConfiguration 1, the float entries), the strips one after another
// from first_strip on even offsets with zero pad bytes, every LZW strip an
// exactly right stream, the strip arrays (K > 1) and the directory behind
// them, the file ending with the directory. Returns the directory and the
// strips' contents for the caller to compare with its rows.
StripFile CheckStripFile(const Bytes& file, const StripFileWant& want);

}  // namespace pvtest
