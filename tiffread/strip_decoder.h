// The block decoders of both TIFF readers: uncompressed (a copy), PackBits,
// LZW and Deflate, over one per-block byte source. A block is a strip
// or a tile; the decoders do not know which (they are named for strips).
//
// Protocol, per block: Init with the block's offset and byte count, then
// Decode calls that together deliver the block's decoded bytes front to
// back into one buffer, then Term after the block's last row, which checks
// that the block was consumed exactly and prints at most one warning.
//
// The decoded strip lies in one contiguous buffer, and a decoder may read
// what it wrote there earlier: the LZW decoder keeps no strings of its own,
// each table entry is an offset and a length into the strip's output.
//
// Delivering bytes in pieces rather than one call per byte changes nothing
// that can be observed. Each decoder consumes stored bytes in exactly the
// order and number that a byte-at-a-time decoder would, and fails at the
// same point with the same message (Deflate, whose streams are decoded
// whole by libdeflate, has rules of its own; see the .cpp):
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

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/tiff.h"
#include "tiffread/input.h"
#include "tiffread/layout.h"

struct libdeflate_decompressor;

namespace pv::reader {

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

  // Uncompressed blocks only, in place of Decode: the block's next n bytes
  // to `out`, so that the pieces of a block may go to different places.
  void DecodeTo(std::uint8_t* out, std::size_t n) {
    assert(compression_ == Compression::kNone);
    CopyDecode(out, n);
  }

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

  void InitCopy(std::uint64_t offset, std::uint64_t count);
  void CopyDecode(std::uint8_t* out, std::size_t n);
  void TermCopy();

  void InitPackBits(std::uint64_t offset, std::uint64_t count);
  void PackBitsDecode(std::uint8_t* out, std::size_t n);
  void TermPackBits();

  void InitDeflateDecode(std::uint64_t offset, std::uint64_t count);
  void DeflateDecode(std::uint8_t* out, std::size_t from, std::size_t to, std::size_t room);
  void TermDeflateDecode();
  // Decodes the whole stream, into `out` (room bytes) when it fits, else
  // into deflate_held_.
  void Inflate(std::uint8_t* out, std::size_t to, std::size_t room);

  // The LZW string table (see the .cpp). Code c's string is length[c] bytes
  // at src[c]: a literal's in a constant table, an entry's in the strip's
  // output.
  struct LzwTable {
    // The length of a code that has no string: the clear and end codes and
    // the entries not defined since the last clear code. It is longer than
    // any string, so that the fast loop's one question of a code, "at most
    // 16 bytes?", leaves these codes to the careful path.
    static constexpr std::uint16_t kNoString = UINT16_MAX;
    static constexpr unsigned kLongest = tiff::kLzwCodes - tiff::kLzwFirstFree + 1;  // 3839

    const std::uint8_t* src[tiff::kLzwCodes];
    std::uint16_t length[tiff::kLzwCodes];

    // A code's string: `length` bytes at `src`.
    struct String {
      const std::uint8_t* src;
      std::size_t length;
    };

    // The literals, and no entry.
    void Reset(const std::uint8_t* literals);
    // Look up: code's string (length kNoString when it has none).
    String Find(unsigned code) const;
    // Add: entry `code` is `n` bytes at `at`.
    void Add(unsigned code, const std::uint8_t* at, unsigned n);
    // Forget: the entries below `next` (the first code not defined) are no
    // longer defined.
    void Forget(unsigned next);
    // The entries below `next` follow their output, moved by `delta` bytes.
    void Move(unsigned next, std::uintptr_t delta);
  };

  // What the next code may be (see the .cpp).
  enum class LzwMode : std::uint8_t {
    kAfterClear,   // the strip's first code or the first after a clear code
    kCoding,       // a code that defines the next entry
    kTableFull,    // entry 4095 is defined: a clear code only
    kInterrupted,  // a call failed: which entries it defined is not known
  };

  void InitLzw(std::uint64_t offset, std::uint64_t count);
  void LzwDecode(std::uint8_t* out, std::size_t from, std::size_t to, std::size_t room);
  void TermLzw();
  // The fast loop for codes of W bits; see the .cpp.
  template <int W>
  void LzwFast(CodeBits& bits, std::uint8_t*& op, const std::uint8_t*& in, const std::uint8_t* end,
               const std::uint8_t* in_end, unsigned& next, unsigned& prev_length);
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

  // PackBits run state: literal bytes still to read, or copies of packbits_byte_
  // still to deliver. At most one of them is non-zero.
  unsigned packbits_literal_ = 0;
  unsigned packbits_copies_ = 0;
  std::uint8_t packbits_byte_ = 0;

  // LZW state between calls. The table's entries point into the output of
  // the last call (lzw_out_); a call with the output elsewhere moves them.
  LzwTable lzw_table_;
  const std::uint8_t* lzw_out_ = nullptr;
  LzwMode lzw_mode_ = LzwMode::kAfterClear;
  unsigned lzw_next_ = tiff::kLzwFirstFree;  // the first entry not defined, at most 4096
  int lzw_width_ = tiff::kLzwMinBits;        // code width, 9 to 12
  CodeBits lzw_bits_;
  // The length of the string written last, which ends where the output
  // stands (kCoding).
  unsigned lzw_prev_length_ = 0;
  // The rest of a string that the output could not take whole: lzw_rest_
  // bytes still to come, copied from lzw_distance_ bytes back.
  unsigned lzw_rest_ = 0;
  std::size_t lzw_distance_ = 0;

  // Deflate state. A stream is decoded whole at the first Decode call of
  // its block (deflate_decoded_); what the output of that call could not keep
  // waits in deflate_held_, which holds the decoded bytes from deflate_held_at_ on.
  struct FreeInflater {
    void operator()(libdeflate_decompressor* d) const;
  };
  std::unique_ptr<libdeflate_decompressor, FreeInflater> inflater_;
  bool deflate_decoded_ = false;
  std::vector<std::uint8_t> deflate_held_;
  std::size_t deflate_held_at_ = 0;
  std::vector<std::uint8_t> deflate_stored_;  // the stored bytes, where they are not in one piece
  std::size_t deflate_produced_ = 0;   // decoded bytes of the stream
  std::size_t deflate_delivered_ = 0;  // decoded bytes handed out so far
  std::uint64_t deflate_left_ = 0;     // bytes of the count after the stream
};

}  // namespace pv::reader
