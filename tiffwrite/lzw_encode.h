// LZW strip encoder (TIFF Compression 5) of the compressing writers.
//
// How the machine works. Codes are 9 to 12 bits wide, packed most
// significant bit first; 256 is the clear code, 257 the end code, 258 the
// first free code. Every strip is compressed on its own:
//
//   InitLZWEncode(out)   clear code in 9 bits (the byte 0x80 at once), fresh
//                        table, no current string
//   Encode(b) ...        one call per uncompressed byte of the strip, in file
//                        order; EncodeBlock is the same for a run of bytes
//   TermLZWEncode()      the pending string's code, the end code, the last
//                        byte completed with zero bits; returns the strip's
//                        compressed length
//
// Between calls the state is: the current string (`LZWhead`, the code of the
// longest match so far, 4096 = none yet), the next free code `LZWcode` and
// the code width `LZWlen`, and fewer than 8 pending bits in `LZWbuf`. Every
// output byte goes to the TiffOut as soon as its eight bits are known; no
// compressed strip is ever held in memory. Rows are not marked: strings run
// on across row boundaries.
//
// The width grows once the entry 511 (1023, 2047) has been stored, so the
// first 10-bit code is the one put out after entry 511. When the next free
// code reaches 4094 the next new string is put out, then a clear code in 12
// bits, and coding goes on in 9 bits with a fresh table; the largest code
// ever assigned is 4093. At the end of a strip the encoder counts the entry
// the decoder defines on the last data code, so the end code has the width
// the decoder expects.
//
// Strings are found in an open-addressing hash table `LZWstr` of 16384
// slots: a slot holds the prefix code in bits 31..20, the appended byte in
// bits 19..12 and the string's code in bits 11..0, and 0 when empty (codes
// are at least 258, so an occupied slot is never 0). The slot is a
// multiplicative hash of the 20-bit (prefix, byte) pair, probed linearly. At
// most 3836 entries are present, so the table is less than a quarter full:
// probes are short and always end. Which strings are known depends only on
// the input, never on the table, so the code stream is that of any exact
// dictionary. The slots in use are listed, so a clear touches only them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tiffwrite/tiff_out.h"

namespace pv {

class LzwEncoder {
 public:
  // Starts a strip written to `out`: clear code, fresh table.
  void InitLZWEncode(TiffOut& out);
  // Takes the next uncompressed byte of the strip.
  void Encode(std::uint8_t b) { EncodeBlock(&b, 1); }
  // Takes the next n uncompressed bytes of the strip; the output is exactly
  // that of n calls of Encode.
  void EncodeBlock(const std::uint8_t* data, std::size_t n);
  // Ends the strip; returns its compressed length in bytes (pad byte not
  // included: writing it is the writer's business).
  std::uint32_t TermLZWEncode();

  // A sound upper bound of TermLZWEncode's result for a strip of n input
  // bytes: every byte after the first puts out at most one 12-bit code, a
  // table-full clear (12 bits) follows at most every 3837 codes, and the
  // strip adds the first clear code (9 bits), the last data code and the
  // end code (12 bits each) and at most 7 fill bits.
  static constexpr std::uint64_t WorstCaseBytes(std::uint64_t n) {
    return (12 * n + 12 * (n / 3837) + 9 + 12 + 12 + 7) / 8;
  }

  static constexpr std::uint32_t kSlots = 16384;

 private:
  void ClearTable();
  // Multiplicative hash of a 20-bit (prefix, byte) pair to a slot.
  static std::uint32_t Slot(std::uint32_t pair) { return (pair * 0x9E3779B1u) >> 18; }

  static constexpr std::uint32_t kNoString = 4096;
  static constexpr std::uint32_t kClear = 256;
  static constexpr std::uint32_t kEnd = 257;
  static constexpr std::uint32_t kFirstFree = 258;
  static constexpr std::uint32_t kTableFull = 4094;
  // Input bytes handled per reservation of output room: each byte puts out
  // at most two 12-bit codes (a data code and a clear code), so 3 bytes per
  // input byte plus the pending bits always fit.
  static constexpr std::size_t kChunk = 4096;
  static_assert(3 * kChunk + 4 <= TiffOut::kBufferSize);

  TiffOut* out_ = nullptr;
  std::uint64_t strip_start_ = 0;  // TiffOut offset of the strip's first byte
  std::uint32_t LZWhead = kNoString;
  std::uint32_t LZWcode = kFirstFree;
  std::uint32_t LZWroof = 512;
  std::uint32_t LZWlen = 9;
  std::uint32_t LZWbuf = 0;
  std::uint32_t LZWnum = 0;
  std::uint32_t LZWcount = 0;  // entries in the table, their slots in LZWused
  bool listed_ = false;  // whether LZWused lists every occupied slot
  std::uint32_t LZWstr[kSlots];
  std::uint16_t LZWused[4096];
};

}  // namespace pv
