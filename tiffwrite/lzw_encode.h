// LZW strip encoder (TIFF Compression 5) of the compressing writers.
//
// How the machine works. Codes are 9 to 12 bits wide, packed most
// significant bit first; kLzwClear (256) is the clear code, kLzwEnd (257) the
// end code, kLzwFirstFree (258) the first free code. Every strip is
// compressed on its own, into memory the caller provides:
//
//   StartStrip(out)      clear code in 9 bits (the byte 0x80 at once), fresh
//                        table, no current string; `out` has room for
//                        WorstCaseBytes(n) + kSlack bytes for a strip of n
//                        input bytes
//   EncodeBlock(p, n)    the strip's uncompressed bytes in file order, in
//                        runs of any length (a byte at a time or a row)
//   EndStrip()           the pending string's code, the end code, the last
//                        byte completed with zero bits; returns the strip's
//                        compressed length
//
// Between calls the state is: the current string (`head_`, the code of the
// longest match so far, kNoString = none yet), the next free code `next_code_`
// and the code width `width_`, and fewer than 8 pending bits in `bits_`.
// Rows are not marked: strings run on across row boundaries. An encoder is
// one strip at a time; strips on several threads take one encoder each.
//
// The width grows once the entry 511 (1023, 2047) has been stored, so the
// first 10-bit code is the one put out after entry 511. When the next free
// code reaches 4094 the next new string is put out, then a clear code in 12
// bits, and coding goes on in 9 bits with a fresh table; the largest code
// ever assigned is 4093. At the end of a strip the encoder counts the entry
// the decoder defines on the last data code, so the end code has the width
// the decoder expects.
//
// Strings are found in a directly indexed table: the string "prefix code
// p, then byte b" has its code at `child_[b * kColumn + p]`, 0 when it is
// not in the table (codes are at least 258, so a stored code is never 0).
// The column of b is known as soon as the byte is read, so the lookup that
// has to wait for the previous one (p is its result) is one load: no
// hashing, no probing, no key to compare. A column holds 4096 codes and one
// cache line more, so that the places of one prefix in different columns
// fall in different cache sets. Entries hold twice the code, the byte
// offset of the code's place in a column, so that the next lookup adds it
// to the column's address as it is. Encoding is bound by that chain of
// loads, so it pays that they hit the first-level cache: image rows repeat
// a handful of byte values (the high bytes of 16-bit and float samples, a
// background level), and the strings made close together in time have
// close codes, so the lookups of a strip touch few lines of the 2 MiB
// table. The places set since the last clear are listed in `used_`, so a
// clear rewrites only them. Which strings are known depends only on the
// input, so the code stream is that of any exact dictionary.
//
// Codes are put out through a 64-bit accumulator: after each code the
// accumulator's pending bits are stored as one 8-byte big-endian word at the
// output position and the position moves on by the whole bytes among them.
// The bytes behind the position are rewritten by the next store, so a strip
// writes up to kSlack bytes beyond its end, never beyond the room asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/tiff.h"

namespace pv {

class LzwEncoder {
 public:
  // Allocates the table (std::bad_alloc when it cannot).
  LzwEncoder();
  LzwEncoder(const LzwEncoder&) = delete;
  LzwEncoder& operator=(const LzwEncoder&) = delete;

  // Starts a strip written from `out` on: clear code, fresh table.
  void StartStrip(std::uint8_t* out);
  // Takes the next n uncompressed bytes of the strip; the output is the
  // same however the strip's bytes are cut into calls.
  void EncodeBlock(const std::uint8_t* data, std::size_t n);
  // Ends the strip; returns its compressed length in bytes (pad byte not
  // included: writing it is the writer's business).
  std::size_t EndStrip();

  // A sound upper bound of EndStrip's result for a strip of n input
  // bytes: every byte after the first puts out at most one 12-bit code, a
  // table-full clear (12 bits) follows at most every 3837 codes, and the
  // strip adds the first clear code (9 bits), the last data code and the
  // end code (12 bits each) and at most 7 fill bits.
  static constexpr std::uint64_t WorstCaseBytes(std::uint64_t n) {
    return (12 * n + 12 * (n / 3837) + 9 + 12 + 12 + 7) / 8;
  }
  // Room the encoder may write beyond the strip's end.
  static constexpr std::size_t kSlack = 8;

 private:
  void ClearTable(std::uint32_t used);

  static constexpr std::uint32_t kNoString = tiff::kLzwCodes;
  static constexpr std::uint32_t kTableFull = tiff::kLzwCodes - 2;  // 4094
  // The next free code at which the width first grows: 512.
  static constexpr std::uint32_t kFirstRoof = 1u << tiff::kLzwMinBits;

  std::uint8_t* start_ = nullptr;  // the strip's first byte
  std::uint8_t* out_ = nullptr;    // where the pending bits are stored
  std::uint32_t head_ = kNoString;
  std::uint32_t next_code_ = tiff::kLzwFirstFree;
  std::uint32_t roof_ = kFirstRoof;
  std::uint32_t width_ = tiff::kLzwMinBits;
  std::uint64_t bits_ = 0;
  std::uint32_t bit_count_ = 0;
  std::uint32_t entries_ = 0;  // entries in the table, their places in used_
  struct Free {
    void operator()(void* p) const;
  };
  // 256 columns of kColumn places, 0 = no entry; fresh zeroed pages.
  std::unique_ptr<std::uint16_t[], Free> child_;
  std::unique_ptr<std::uint32_t[]> used_;   // kLzwCodes places in child_
};

}  // namespace pv
