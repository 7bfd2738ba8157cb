#include "tiffread/strip_decoder.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>

#include "common/error.h"
#include "common/tiff.h"

namespace pv::rif_core {

namespace {

// Stored bytes per block when the file is read as a stream, or translated
// for FillOrder 2. A strip of up to this size costs one read.
constexpr std::size_t kBlock = 128 * 1024;

// bitN: identity; bitR: the bits of each byte in reverse order (FillOrder 2).
constexpr std::array<std::uint8_t, 256> MakeTable(bool reverse) {
  std::array<std::uint8_t, 256> t{};
  for (unsigned i = 0; i < 256; ++i) {
    unsigned r = i;
    if (reverse) {
      r = 0;
      for (unsigned k = 0; k < 8; ++k) r |= ((i >> k) & 1u) << (7 - k);
    }
    t[i] = static_cast<std::uint8_t>(r);
  }
  return t;
}
constexpr std::array<std::uint8_t, 256> bitN = MakeTable(false);
constexpr std::array<std::uint8_t, 256> bitR = MakeTable(true);

constexpr char kEndOfFile[] = "unexpected end of file.";
constexpr char kLZWTooFew[] = "LZW too few codes.";

std::uint64_t LoadBE64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

}  // namespace

StripDecoder::StripDecoder(Input& input, Compression compression, bool reverse_fill)
    : input_(input),
      compression_(compression),
      byte_(reverse_fill ? bitR.data() : bitN.data()) {
  // A stream is read in blocks, and translated bytes need a place of their
  // own; a mapped file in identity order is read where it lies.
  if (!input.mapped() || reverse_fill) block_.reset(new std::uint8_t[kBlock]);
}

StripDecoder::~StripDecoder() = default;

// ---------------------------------------------------------------------------
// Per-strip byte source.

void StripDecoder::StartStrip(std::uint32_t offset, std::uint32_t count) {
  limit_ = std::uint64_t{offset} + count;
  if (offset < window_at_ || offset - window_at_ > window_len_) {
    // Outside the window: the next byte moves it there.
    window_at_ = offset;
    window_len_ = 0;
  }
  pos_ = static_cast<std::size_t>(offset - window_at_);
  end_ = static_cast<std::size_t>(std::min<std::uint64_t>(window_len_, limit_ - window_at_));
}

bool StripDecoder::FillWindow() {
  const std::uint64_t at = window_at_ + pos_;
  Bytes w;
  if (!input_.mapped()) {
    w = input_.Window(at, block_.get(), kBlock);
    if (byte_ != bitN.data())
      for (std::size_t i = 0; i < w.size; ++i) block_[i] = byte_[block_[i]];
  } else {
    w = input_.Window(at, nullptr, 0);
    if (byte_ != bitN.data()) {
      // Translated copies of what the strip may still consume.
      w.size = static_cast<std::size_t>(std::min<std::uint64_t>({w.size, kBlock, limit_ - at}));
      for (std::size_t i = 0; i < w.size; ++i) block_[i] = byte_[w.data[i]];
      w.data = block_.get();
    }
  }
  if (w.size == 0) return false;
  window_ = w.data;
  window_at_ = at;
  window_len_ = w.size;
  pos_ = 0;
  end_ = static_cast<std::size_t>(std::min<std::uint64_t>(w.size, limit_ - at));
  return true;
}

void StripDecoder::Refill(const char* too_few) {
  if (bytes() == 0) input_.Error(too_few);
  if (!FillWindow()) input_.Error(kEndOfFile);
}

bool StripDecoder::TryNextByte(int& b) {
  if (pos_ == end_ && (bytes() == 0 || !FillWindow())) return false;
  b = window_[pos_++];
  return true;
}

void StripDecoder::TakeBytes(std::uint8_t* out, std::size_t n, const char* too_few) {
  while (n > 0) {
    if (pos_ == end_) Refill(too_few);
    const std::size_t k = std::min(n, end_ - pos_);
    std::memcpy(out, window_ + pos_, k);
    pos_ += k;
    out += k;
    n -= k;
  }
}

// ---------------------------------------------------------------------------
// Dispatch by compression.

void StripDecoder::Init(std::uint32_t offset, std::uint32_t count) {
  switch (compression_) {
    case Compression::kNone: InitNICDecode(offset, count); break;
    case Compression::kPackBits: InitMPBDecode(offset, count); break;
    case Compression::kLZW: InitLZWDecode(offset, count); break;
  }
}

void StripDecoder::Decode(std::uint8_t* out, std::size_t from, std::size_t to, std::size_t room) {
  assert(from <= to && to <= room);
  switch (compression_) {
    case Compression::kNone: NICDecode(out + from, to - from); break;
    case Compression::kPackBits: MPBDecode(out + from, to - from); break;
    case Compression::kLZW: LZWDecode(out, from, to, room); break;
  }
}

void StripDecoder::Term() {
  switch (compression_) {
    case Compression::kNone: TermNICDecode(); break;
    case Compression::kPackBits: TermMPBDecode(); break;
    case Compression::kLZW: TermLZWDecode(); break;
  }
}

// ---------------------------------------------------------------------------
// Uncompressed strips: the stored bytes themselves.

void StripDecoder::InitNICDecode(std::uint32_t offset, std::uint32_t count) {
  StartStrip(offset, count);
}

void StripDecoder::NICDecode(std::uint8_t* out, std::size_t n) { TakeBytes(out, n, "too few codes."); }

void StripDecoder::TermNICDecode() {
  if (bytes() != 0) input_.Warning("too many codes");
}

// ---------------------------------------------------------------------------
// PackBits. A header byte h of 0..127 starts h + 1 literal bytes, 129..255
// one byte repeated 257 - h times, and 128 is skipped. Runs may cross rows;
// only InitMPBDecode resets them. A header is read only when the next
// output byte needs it, so a strip ending in a lone 128 that the rows never
// need is left unread (and reported as "MPB too many code").

void StripDecoder::InitMPBDecode(std::uint32_t offset, std::uint32_t count) {
  StartStrip(offset, count);
  MPBlit_ = 0;
  MPBcopies_ = 0;
}

void StripDecoder::MPBDecode(std::uint8_t* out, std::size_t n) {
  static constexpr char kTooFew[] = "MPB too few codes.";
  std::size_t i = 0;
  while (i < n) {
    if (MPBcopies_ > 0) {
      const std::size_t k = std::min<std::size_t>(MPBcopies_, n - i);
      std::memset(out + i, MPBrep_, k);
      MPBcopies_ -= static_cast<unsigned>(k);
      i += k;
    } else if (MPBlit_ > 0) {
      const std::size_t k = std::min<std::size_t>(MPBlit_, n - i);
      TakeBytes(out + i, k, kTooFew);
      MPBlit_ -= static_cast<unsigned>(k);
      i += k;
    } else {
      unsigned h;
      do h = static_cast<unsigned>(NextByte(kTooFew));
      while (h == 128);
      if (h < 128) {
        MPBlit_ = h + 1;
      } else {
        MPBrep_ = static_cast<std::uint8_t>(NextByte(kTooFew));
        out[i++] = MPBrep_;
        MPBcopies_ = 256 - h;
      }
    }
  }
}

void StripDecoder::TermMPBDecode() {
  if (MPBlit_ != 0 || MPBcopies_ != 0) {
    input_.Warning("MPB too many data");
  } else if (bytes() != 0) {
    input_.Warning("MPB too many code");
  }
}

// ---------------------------------------------------------------------------
// LZW, codes of 9 to 12 bits packed most significant bit first; the clear
// code empties the table, the end code ends the strip, and the entries
// start at the first free code.
//
// Every code stands for a string that is already in the strip's output: a
// code below 256 is its own byte; entry c is where the string before it was
// written, one byte longer (the first byte of the string written after it).
// Writing a code's string is therefore a copy from earlier in the output,
// `dist` bytes back, `length` bytes long, as in an LZ77 decoder. The code
// that the very entry being defined stands for (the previous string and its
// own first byte) is the one copy whose source overlaps its destination
// (dist = length - 1); a forward copy gives it right.
//
// The decoder's table runs one entry behind the writer's: it widens its
// codes as soon as its next free code reaches 511, 1023 or 2047. After
// entry 4095 the only code accepted is a clear code.
//
// Fast path: when at least eight stored bytes are in the window, six enter
// the bit buffer at once; when the output has room for the string and 16
// bytes more, the string is copied in 16-byte moves that may write past its
// end (later strings overwrite that). The careful path (byte by byte in,
// exact copies out) takes over near the ends; the results are the same.

void StripDecoder::CodeBits::Pull6(const std::uint8_t* p) {
  assert(num < 16);
  buf = buf << 48 | LoadBE64(p) >> 16;
  num += 48;
}

void StripDecoder::InitLZWDecode(std::uint32_t offset, std::uint32_t count) {
  StartStrip(offset, count);
  LZWbits_ = CodeBits{};
  LZWwidth_ = tiff::kLzwMinBits;
  LZWrem_ = 0;
  LZWcode_ = tiff::kLzwFirstFree;
  LZWfirst_ = true;
}

void StripDecoder::NeedBits(CodeBits& bits, int n, const std::uint8_t*& in,
                            const std::uint8_t*& in_end) {
  while (bits.num < n) {
    if (in == in_end) {
      pos_ = end_;
      Refill(kLZWTooFew);
      in = window_ + pos_;
      in_end = window_ + end_;
    }
    bits.Pull(*in++);
  }
}

namespace {

// Copies `length` bytes from `dist` bytes back to dst, as a forward byte
// by byte copy would (dist < length repeats the pattern), possibly writing
// up to 15 bytes past the end.
inline void CopyFast(std::uint8_t* dst, std::size_t dist, std::size_t length) {
  const std::uint8_t* src = dst - dist;
  if (dist >= 16) {
    // Each 16-byte move reads only bytes before its own destination.
    for (std::size_t i = 0; i < length; i += 16) std::memcpy(dst + i, src + i, 16);
  } else if (dist >= length) {
    // One move through a register: the load comes before the store, so
    // the bytes read past the string's source are only garbage past its end.
    std::uint8_t t[16];
    std::memcpy(t, src, 16);
    std::memcpy(dst, t, 16);
  } else {
    for (std::size_t i = 0; i < length; ++i) dst[i] = src[i];
  }
}

// The exact forward copy of the careful path.
inline void CopyExact(std::uint8_t* dst, std::size_t dist, std::size_t length) {
  const std::uint8_t* src = dst - dist;
  if (dist >= length) std::memcpy(dst, src, length);
  else
    for (std::size_t i = 0; i < length; ++i) dst[i] = src[i];
}

}  // namespace

void StripDecoder::LZWDecode(std::uint8_t* out, std::size_t from, std::size_t to,
                             std::size_t room) {
  std::size_t op = from;
  if (LZWrem_ > 0) {
    // The rest of the string that the previous call could not take.
    const std::size_t k = std::min<std::size_t>(LZWrem_, to - op);
    CopyExact(out + op, LZWdist_, k);
    LZWrem_ -= static_cast<unsigned>(k);
    op += k;
  }
  if (op == to) return;

  // The hot state lives in locals for the loop (stores through `out` could
  // otherwise alias every member) and is written back once at the end.
  const std::uint8_t* in = window_ + pos_;
  const std::uint8_t* in_end = window_ + end_;
  CodeBits bits = LZWbits_;
  int width = LZWwidth_;
  unsigned next = LZWcode_;
  bool first = LZWfirst_;
  std::size_t prev_start = LZWprevStart_;
  unsigned prev_length = LZWprevLength_;

  while (op < to) {
    // Read a code.
    if (bits.num < width) {
      if (in_end - in >= 8) {
        bits.Pull6(in);
        in += 6;
      } else {
        NeedBits(bits, width, in, in_end);
      }
    }
    const unsigned code = bits.Peek(width);
    bits.Drop(width);
    assert(code < tiff::kLzwCodes && bits.num >= 0);

    if (code >= tiff::kLzwClear && code <= tiff::kLzwEnd) [[unlikely]] {
      if (code == tiff::kLzwEnd) input_.Error("LZW unexpected end of code.");
      width = tiff::kLzwMinBits;
      first = true;
      continue;
    }
    if (first) [[unlikely]] {
      if (code > 255) input_.Error("LZW bad code after clear code.");
      next = tiff::kLzwFirstFree;
      first = false;
      prev_start = op;
      prev_length = 1;
      out[op++] = static_cast<std::uint8_t>(code);
      continue;
    }
    if (next == tiff::kLzwCodes) [[unlikely]] input_.Error("LZW missing clear code.");
    if (code > next) [[unlikely]] input_.Error("LZW bad code.");

    // The new entry: the previous string followed by the current string's
    // first byte, which is written right after it. Defined before the
    // current string is looked up, so a code equal to it finds it.
    assert(prev_length < kLZWLongest && prev_start + prev_length == op);
    LZWstart_[next] = static_cast<std::uint32_t>(prev_start);
    LZWlength_[next] = static_cast<std::uint16_t>(prev_length + 1);
    if (++next == (1u << width) - 1 && width < static_cast<int>(tiff::kLzwMaxBits)) ++width;

    prev_start = op;
    if (code < 256) {
      prev_length = 1;
      out[op++] = static_cast<std::uint8_t>(code);
      continue;
    }
    const std::size_t length = LZWlength_[code];
    const std::size_t dist = op - LZWstart_[code];
    assert(length >= 2 && length <= kLZWLongest && dist >= 1 && dist <= op);
    // dist < length only for the code just defined: dist = length - 1.
    assert(dist >= length || dist + 1 == length);
    prev_length = static_cast<unsigned>(length);
    if (length + 16 <= room - op && length <= to - op) [[likely]] {
      CopyFast(out + op, dist, length);
      op += length;
    } else if (length <= to - op) {
      CopyExact(out + op, dist, length);
      op += length;
    } else {
      // The output ends inside this string: the rest comes with the next
      // call, or is reported by TermLZWDecode.
      const std::size_t k = to - op;
      CopyExact(out + op, dist, k);
      op += k;
      LZWrem_ = static_cast<unsigned>(length - k);
      LZWdist_ = dist;
    }
  }

  // Whole bytes still held in the bit buffer go back to the window: the
  // state between calls is that of a decoder reading a byte only when a
  // code needs it. They were all pulled from the current window.
  const int back = bits.num >> 3;
  assert(in - window_ >= back);
  in -= back;
  bits.buf >>= 8 * back;
  bits.num &= 7;

  pos_ = static_cast<std::size_t>(in - window_);
  LZWbits_ = bits;
  LZWwidth_ = width;
  LZWcode_ = next;
  LZWfirst_ = first;
  LZWprevStart_ = prev_start;
  LZWprevLength_ = prev_length;
}

// After the strip's last row: the string must be used up, and the next code
// must be the end code with nothing stored after it.
void StripDecoder::TermLZWDecode() {
  if (LZWrem_ > 0) {
    input_.Warning("LZW too many data");
    return;
  }
  CodeBits& bits = LZWbits_;
  const int width = LZWwidth_;
  // One more code of the current width, as far as the strip's count allows.
  while (bits.num < width && bytes() != 0) bits.Pull(static_cast<std::uint8_t>(NextByte(kLZWTooFew)));
  if (bits.num < width) {
    // The stored bytes ran out: an end code one bit narrower than the
    // current width that fills the strip exactly is accepted.
    if (!(bits.num == width - 1 && bits.Peek(width - 1) == tiff::kLzwEnd))
      input_.Warning("LZW missing end of code");
    return;
  }
  if (bytes() != 0) {
    // Writers that fill their table on the strip's last data code emit a
    // clear code at the current width and then the end code at 9 bits.
    // That sequence, followed by nothing but the pad bits of its last byte,
    // is a proper strip end.
    if (bits.Peek(width) == tiff::kLzwClear) {
      CodeBits after = bits;
      after.Drop(width);
      int b;
      while (after.num < static_cast<int>(tiff::kLzwMinBits) && TryNextByte(b))
        after.Pull(static_cast<std::uint8_t>(b));
      if (after.num >= static_cast<int>(tiff::kLzwMinBits) &&
          after.Peek(tiff::kLzwMinBits) == tiff::kLzwEnd && bytes() == 0)
        return;
    }
    input_.Warning("LZW too many code");
    return;
  }
  if (bits.Peek(width) == tiff::kLzwEnd) return;
  // An end code one bit narrower, starting at the same bit.
  if (bits.Peek(width - 1) == tiff::kLzwEnd) return;
  input_.Warning("LZW missing end of code");
}

}  // namespace pv::rif_core
