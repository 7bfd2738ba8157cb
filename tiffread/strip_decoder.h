// The strip decoders of both TIFF readers: uncompressed (NIC), PackBits
// (MPB) and LZW, over one per-strip byte source.
//
// Protocol, per strip: Init with the strip's offset and byte count, then
// Decode calls that together deliver the strip's decoded bytes front to back
// into one buffer, then Term after the strip's last row, which checks that
// the strip was consumed exactly and prints at most one warning.
//
// The decoded strip lies in one contiguous buffer, and a decoder may read
// what it wrote there earlier: the LZW decoder keeps no strings of its own,
// each table entry is an offset and a length into the strip's output.
//
// Delivering bytes in blocks rather than one call per byte changes nothing
// that can be observed. Each decoder consumes stored bytes in exactly the
// order and number that a byte-at-a-time decoder would, and fails at the
// same point with the same message:
//  - "too few codes." / "MPB too few codes." / "LZW too few codes." when a
//    stored byte is needed and the strip's byte count is used up;
//  - "unexpected end of file." when the byte count still allows a byte but
//    the file has ended.
// Stored bytes may be looked at ahead of need, also beyond the strip's byte
// count (bytes there are never consumed); the end of the file is only
// reported when the decoder actually needs the first missing byte.
//
// A decoder reads its file through its own window, so decoders of a file in
// memory may run on several threads at once, one strip each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/tiff.h"
#include "tiffread/input.h"
#include "tiffread/layout.h"

namespace pv::rif_core {

class StripDecoder {
 public:
  // Messages name `input`'s path; the input must outlive the decoder.
  StripDecoder(Input& input, Compression compression, bool reverse_fill);
  ~StripDecoder();
  StripDecoder(const StripDecoder&) = delete;
  StripDecoder& operator=(const StripDecoder&) = delete;

  // The triple of the image's compression. Decode delivers the strip's
  // decoded bytes `from` to `to` - 1 into out[from, to), out[0, from)
  // holding what the calls before delivered (out may have moved in between,
  // with its contents). `room` bytes from out are writable (at least `to`):
  // the decoder may use what lies beyond `to` as scratch.
  void Init(std::uint64_t offset, std::uint64_t count);
  void Decode(std::uint8_t* out, std::size_t from, std::size_t to, std::size_t room);
  void Term();

  // Stored bytes of the current strip not yet consumed (`bytes`).
  std::uint64_t bytes() const { return limit_ - (window_at_ + pos_); }

 private:
  // The LZW bit buffer: `num` bits not yet taken, most significant first,
  // at the top of `buf`. A code is taken from the top. Below those bits
  // `buf` holds either zeros or the first bits of the next stored byte (a
  // Fill loads whole words), so putting that byte in again changes nothing.
  struct CodeBits {
    std::uint64_t buf = 0;
    int num = 0;
    // One stored byte in (at most 56 bits held).
    void Pull(std::uint8_t byte) {
      buf |= std::uint64_t{byte} << (56 - num);
      num += 8;
    }
    // Whole stored bytes in until 56 to 63 bits are held; reads eight bytes
    // at p and moves p past those taken.
    void Fill(const std::uint8_t*& p);
    // Peek a code: the next `width` bits, which must be held.
    unsigned Peek(int width) const { return static_cast<unsigned>(buf >> (64 - width)); }
    // Drop a code: the next `width` bits are taken.
    void Drop(int width) {
      buf <<= width;
      num -= width;
    }
  };

  // Per-strip byte source.
  void StartStrip(std::uint64_t offset, std::uint64_t count);
  int NextByte(const char* too_few) {
    if (pos_ == end_) Refill(too_few);
    return window_[pos_++];
  }
  // Like NextByte but without failing: false when the byte count is used up
  // or the file has ended.
  bool TryNextByte(int& b);
  // Makes the next stored byte available, or fails: `too_few` when the
  // strip's count is used up, "unexpected end of file." when the file ends.
  void Refill(const char* too_few);
  // Moves the window to the current position; false when the file has no
  // byte there.
  bool FillWindow();
  void TakeBytes(std::uint8_t* out, std::size_t n, const char* too_few);

  void InitNICDecode(std::uint64_t offset, std::uint64_t count);
  void NICDecode(std::uint8_t* out, std::size_t n);
  void TermNICDecode();

  void InitMPBDecode(std::uint64_t offset, std::uint64_t count);
  void MPBDecode(std::uint8_t* out, std::size_t n);
  void TermMPBDecode();

  void InitLZWDecode(std::uint64_t offset, std::uint64_t count);
  void LZWDecode(std::uint8_t* out, std::size_t from, std::size_t to, std::size_t room);
  void TermLZWDecode();
  // The fast loop for codes of W bits; see the .cpp.
  template <int W>
  void LZWFast(CodeBits& bits, std::uint8_t*& op, const std::uint8_t*& in, const std::uint8_t* end,
               const std::uint8_t* in_end, unsigned& next, unsigned& prev_length);
  // Makes the entries from the first free code up to `defined` unknown to
  // the fast loop; kLzwCodes: every code, and the literals known again.
  void LZWForget(unsigned defined);
  // Need bits: pulls stored bytes one at a time until `bits` holds n bits
  // ("LZW too few codes." at the strip's count). `in` and `in_end` are the
  // caller's copies of the window position.
  void NeedBits(CodeBits& bits, int n, const std::uint8_t*& in, const std::uint8_t*& in_end);

  Input& input_;
  Compression compression_;
  const std::uint8_t* byte_;  // fill-order table: identity or bit reversal

  // Byte source: window_ holds window_len_ stored bytes from file offset
  // window_at_, already translated through byte_ (the file's own bytes when
  // it is in memory and in identity order; else copies in block_). The
  // strip's next byte is window_[pos_]; end_ is where the strip's count or
  // the window ends. The window may reach beyond the strip's count, so strips stored
  // one after the other are read without moving it.
  const std::uint8_t* window_ = nullptr;
  std::uint64_t window_at_ = 0;
  std::size_t window_len_ = 0;
  std::size_t pos_ = 0, end_ = 0;
  std::uint64_t limit_ = 0;  // file offset just past the strip's count
  std::unique_ptr<std::uint8_t[]> block_;

  // PackBits run state: literal bytes still to read, or copies of MPBrep
  // still to deliver. At most one of them is non-zero.
  unsigned MPBlit_ = 0;
  unsigned MPBcopies_ = 0;
  std::uint8_t MPBrep_ = 0;

  // LZW state. Every code's string lies somewhere already: a code below 256
  // in a constant table of the 256 bytes, entry c (258 to 4095) in the
  // strip's output, where its prefix string was written followed by the
  // first byte of the string written after it. LZWsrc_[c] is where,
  // LZWlength_[c] how long (1 to 3839; kNoFastString for a code the fast
  // loop must leave alone). The entries point into the output
  // of the last call (LZWout_); a call with the output elsewhere moves them.
  static constexpr unsigned kLZWLongest = tiff::kLzwCodes - tiff::kLzwFirstFree + 1;  // 3839
  const std::uint8_t* LZWsrc_[tiff::kLzwCodes];
  std::uint16_t LZWlength_[tiff::kLzwCodes];
  const std::uint8_t* LZWout_ = nullptr;
  unsigned LZWcode_ = tiff::kLzwFirstFree;  // next free code, at most 4096
  bool LZWfirst_ = true;  // the next code is the first after a clear code
  // A call ended by a failure left the table in an unknown state.
  bool LZWdirty_ = true;
  // The length of the string written last, which ends where the output
  // stands.
  unsigned LZWprevLength_ = 0;
  // The rest of a string that the output could not take whole: LZWrem_
  // bytes still to come, copied from LZWdist_ bytes back.
  unsigned LZWrem_ = 0;
  std::size_t LZWdist_ = 0;
  CodeBits LZWbits_;
  int LZWwidth_ = tiff::kLzwMinBits;  // code width, 9 to 12
};

}  // namespace pv::rif_core
