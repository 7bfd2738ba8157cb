// The strip decoders of both TIFF readers: uncompressed (NIC), PackBits
// (MPB) and LZW, over one per-strip byte source.
//
// Protocol, per strip: Init with the strip's offset and byte count, then
// Decode calls that each deliver exactly the number of bytes asked for,
// then Term after the strip's last row, which checks that the strip was
// consumed exactly and prints at most one warning.
//
// Delivering bytes in blocks rather than one call per byte changes nothing
// that can be observed. Each decoder consumes stored bytes in exactly the
// order and number that a byte-at-a-time decoder would, and fails at the
// same point with the same message:
//  - "too few codes." / "MPB too few codes." / "LZW too few codes." when a
//    stored byte is needed and the strip's byte count is used up;
//  - "unexpected end of file." when the byte count still allows a byte but
//    the file has ended.
// Stored bytes are read ahead in blocks of the file, also beyond the
// strip's byte count (bytes there are never consumed); the end of the file
// is only reported when the decoder actually needs the first missing byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace pv::rif_core {

enum class Compression;

class StripDecoder {
 public:
  // `path` prefixes every message; both must outlive the decoder.
  StripDecoder(std::FILE* file, const char* path, Compression compression, bool reverse_fill);
  ~StripDecoder();
  StripDecoder(const StripDecoder&) = delete;
  StripDecoder& operator=(const StripDecoder&) = delete;

  // The triple of the image's compression.
  void Init(std::uint32_t offset, std::uint32_t count);
  void Decode(std::uint8_t* out, std::size_t n);
  void Term();

  // Like Decode, but may hand out the bytes where they already lie (stored
  // bytes of an uncompressed strip); otherwise decodes into `scratch`. The
  // pointer is valid until the next call.
  const std::uint8_t* DecodeView(std::size_t n, std::uint8_t* scratch);

  // Stored bytes of the current strip not yet consumed (`bytes`).
  std::uint64_t bytes() const { return limit_ - (window_start_ + pos_); }

 private:
  // Per-strip byte source.
  void StartStrip(std::uint32_t offset, std::uint32_t count);
  int NextByte(const char* too_few) {
    if (pos_ == end_) Refill(too_few);
    return buffer_[pos_++];
  }
  // Like NextByte but without failing: false when the byte count is used up
  // or the file has ended.
  bool TryNextByte(int& b);
  void Refill(const char* too_few);
  // Reads the block of the file that starts at the current position; false
  // when the file has no byte there.
  bool FillWindow();
  void TakeBytes(std::uint8_t* out, std::size_t n, const char* too_few);

  void InitNICDecode(std::uint32_t offset, std::uint32_t count);
  void NICDecode(std::uint8_t* out, std::size_t n);
  void TermNICDecode();

  void InitMPBDecode(std::uint32_t offset, std::uint32_t count);
  void MPBDecode(std::uint8_t* out, std::size_t n);
  void TermMPBDecode();

  void InitLZWDecode(std::uint32_t offset, std::uint32_t count);
  void LZWDecode(std::uint8_t* out, std::size_t n);
  void TermLZWDecode();
  void PutLZWString(unsigned code, unsigned length, std::uint8_t* dst, std::size_t room) const;

  [[noreturn]] void Error(const char* message) const;
  void Warning(const char* message) const;

  std::FILE* file_;
  const char* path_;
  Compression compression_;
  const std::uint8_t* byte_;  // fill-order table: identity or bit reversal

  // Byte source: buffer_ holds a block of the file from file offset
  // window_start_ (window_len_ bytes), already translated through byte_. It
  // is read ahead beyond the current strip's count, so that strips stored
  // one after the other cost one read per block, not one per strip; the
  // count is enforced by end_, the end of what the strip may consume from
  // the block. The next byte of the strip is buffer_[pos_].
  std::unique_ptr<std::uint8_t[]> buffer_;
  std::uint64_t window_start_ = 0;
  std::size_t window_len_ = 0;
  std::size_t pos_ = 0, end_ = 0;
  std::uint64_t limit_ = 0;              // file offset just past the strip's count
  std::uint64_t file_pos_ = UINT64_MAX;  // where the stream stands (unknown at first)

  // PackBits run state: literal bytes still to read, or copies of MPBrep
  // still to deliver. At most one of them is non-zero.
  unsigned MPBlit_ = 0;
  unsigned MPBcopies_ = 0;
  std::uint8_t MPBrep_ = 0;

  // LZW state. Entries 258..4095; each entry's string is its prefix's
  // string followed by one byte. A string is kept as a chain of blocks of
  // up to 8 bytes, last block first: LZWSuffix_[c] holds the last
  // ((length - 1) % 8) + 1 bytes of code c's string, and LZWPrefix_[c] is
  // the code whose string is everything before them (a whole number of
  // full blocks). Writing a string thus takes one 8-byte copy per 8 bytes
  // instead of one table step per byte.
  static constexpr int kLZWLongest = 4096 - 258 + 1;  // 3839 bytes
  std::uint16_t LZWPrefix_[4096];
  std::uint16_t LZWLength_[4096];  // 1 to 3839
  std::uint8_t LZWFirst_[4096];    // first byte of the string
  alignas(8) std::uint8_t LZWSuffix_[4096][8];
  // The current string when the output could not take it whole: its bytes
  // at LZWring_[LZWpos_, LZWsize_). 8 bytes of slack for block copies.
  std::uint8_t LZWring_[kLZWLongest + 8];
  unsigned LZWpos_ = 0, LZWsize_ = 0;
  unsigned LZWcode_ = 258;  // next free code, at most 4096
  unsigned LZWold_ = 256;   // previous code; 256: first code after a clear
  std::uint64_t LZWbuf_ = 0;
  int LZWnum_ = 0;  // buffered bits below the next code (negative: missing)
  int LZWlen_ = 9;
  unsigned LZWmask_ = 511;
};

}  // namespace pv::rif_core
