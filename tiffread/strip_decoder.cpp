#include "tiffread/strip_decoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <cstring>

#include "common/error.h"
#include "common/messages.h"
#include "common/sizes.h"
#include "common/tiff.h"

#ifdef PV_HAVE_DEFLATE
#include <libdeflate.h>
#endif

namespace pv::reader {

namespace {

// Stored bytes per block when the file is not in memory, or translated for
// FillOrder 2. A strip of up to this size costs one read.
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

// The strings of the codes below 256, each at the start of 16 bytes of its
// own, so that the fast loop's 16-byte read of a literal never straddles two
// cache lines.
constexpr std::array<std::uint8_t, 256 * 16> MakeLiterals() {
  std::array<std::uint8_t, 256 * 16> t{};
  for (unsigned i = 0; i < 256; ++i) t[16 * i] = static_cast<std::uint8_t>(i);
  return t;
}
alignas(64) constexpr std::array<std::uint8_t, 256 * 16> kLiterals = MakeLiterals();

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
  // A file not in memory is read in blocks, and translated bytes need a
  // place of their own; a file in memory in identity order is read where it
  // lies.
  if (!input.in_memory() || reverse_fill) block_ = NewArray<std::uint8_t>(kBlock, msg::kMemoryAllocation);
  if (compression == Compression::kDeflate) {
#ifdef PV_HAVE_DEFLATE
    inflater_.reset(Allocate(libdeflate_alloc_decompressor, input.path(), msg::kNoMemoryForCell));
#else
    Error(input.path(), msg::kUnknownCompression);  // refused by the rules before
#endif
  }
  if (compression == Compression::kLZW) lzw_table_.Reset(kLiterals.data());
}

StripDecoder::~StripDecoder() = default;

// ---------------------------------------------------------------------------
// Per-strip byte source.

void StripDecoder::StartStrip(std::uint64_t offset, std::uint64_t count) {
  limit_ = count > UINT64_MAX - offset ? UINT64_MAX : offset + count;
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
  if (!input_.in_memory()) {
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
  if (bytes() == 0) Error(input_.path(), too_few);
  if (!FillWindow()) Error(input_.path(), msg::kUnexpectedEndOfFile);
}

bool StripDecoder::TryNextByte(int& b) {
  if (pos_ == end_ && (bytes() == 0 || !FillWindow())) return false;
  b = window_[pos_++];
  return true;
}

void StripDecoder::TakeBytes(std::uint8_t* out, std::size_t n, const char* too_few) {
  while (n > 0) {
    if (pos_ == end_) {
      // A long run of a file read in blocks, in identity order, is read
      // straight into its place rather than through the block: one copy
      // instead of two. It is the bytes that blocks would have brought, so a
      // file that ends (or is cut short) within them ends at the same byte.
      const std::size_t run = static_cast<std::size_t>(std::min<std::uint64_t>(n, bytes()));
      if (run >= kBlock && !input_.in_memory() && byte_ == bitN.data()) {
        const std::uint64_t at = window_at_ + pos_;
        const Bytes w = input_.Window(at, out, run);
        if (w.size > 0) {
          window_at_ = at + w.size;
          window_len_ = pos_ = end_ = 0;
          out += w.size;
          n -= w.size;
          continue;
        }
      }
      Refill(too_few);
    }
    const std::size_t k = std::min(n, end_ - pos_);
    std::memcpy(out, window_ + pos_, k);
    pos_ += k;
    out += k;
    n -= k;
  }
}

// ---------------------------------------------------------------------------
// Dispatch by compression.

void StripDecoder::Init(std::uint64_t offset, std::uint64_t count) {
  switch (compression_) {
    case Compression::kNone: InitCopy(offset, count); break;
    case Compression::kPackBits: InitPackBits(offset, count); break;
    case Compression::kLZW: InitLzw(offset, count); break;
    case Compression::kDeflate: InitDeflateDecode(offset, count); break;
  }
}

void StripDecoder::Decode(std::uint8_t* out, std::size_t from, std::size_t to, std::size_t room) {
  assert(from <= to && to <= room);
  switch (compression_) {
    case Compression::kNone: CopyDecode(out + from, to - from); break;
    case Compression::kPackBits: PackBitsDecode(out + from, to - from); break;
    case Compression::kLZW: LzwDecode(out, from, to, room); break;
    case Compression::kDeflate: DeflateDecode(out, from, to, room); break;
  }
}

void StripDecoder::Term() {
  switch (compression_) {
    case Compression::kNone: TermCopy(); break;
    case Compression::kPackBits: TermPackBits(); break;
    case Compression::kLZW: TermLzw(); break;
    case Compression::kDeflate: TermDeflateDecode(); break;
  }
}

// ---------------------------------------------------------------------------
// Uncompressed strips: the stored bytes themselves.

void StripDecoder::InitCopy(std::uint64_t offset, std::uint64_t count) {
  StartStrip(offset, count);
}

void StripDecoder::CopyDecode(std::uint8_t* out, std::size_t n) { TakeBytes(out, n, msg::kTooFewCodes); }

void StripDecoder::TermCopy() {
  if (bytes() != 0) Warning(input_.path(), msg::kTooManyCodes);
}

// ---------------------------------------------------------------------------
// PackBits. A header byte h of 0..127 starts h + 1 literal bytes, 129..255
// one byte repeated 257 - h times, and 128 is skipped. Runs may cross rows;
// only InitPackBits resets them. A header is read only when the next
// output byte needs it, so a strip ending in a lone 128 that the rows never
// need is left unread (and reported as msg::kPackBitsTooManyCode).

void StripDecoder::InitPackBits(std::uint64_t offset, std::uint64_t count) {
  StartStrip(offset, count);
  packbits_literal_ = 0;
  packbits_copies_ = 0;
}

void StripDecoder::PackBitsDecode(std::uint8_t* out, std::size_t n) {
  std::size_t i = 0;
  while (i < n) {
    if (packbits_copies_ > 0) {
      const std::size_t k = std::min<std::size_t>(packbits_copies_, n - i);
      std::memset(out + i, packbits_byte_, k);
      packbits_copies_ -= static_cast<unsigned>(k);
      i += k;
    } else if (packbits_literal_ > 0) {
      const std::size_t k = std::min<std::size_t>(packbits_literal_, n - i);
      TakeBytes(out + i, k, msg::kPackBitsTooFewCodes);
      packbits_literal_ -= static_cast<unsigned>(k);
      i += k;
    } else {
      unsigned h;
      do h = static_cast<unsigned>(NextByte(msg::kPackBitsTooFewCodes));
      while (h == 128);
      if (h < 128) {
        packbits_literal_ = h + 1;
      } else {
        packbits_byte_ = static_cast<std::uint8_t>(NextByte(msg::kPackBitsTooFewCodes));
        out[i++] = packbits_byte_;
        packbits_copies_ = 256 - h;
      }
    }
  }
}

void StripDecoder::TermPackBits() {
  if (packbits_literal_ != 0 || packbits_copies_ != 0) {
    Warning(input_.path(), msg::kPackBitsTooManyData);
  } else if (bytes() != 0) {
    Warning(input_.path(), msg::kPackBitsTooManyCode);
  }
}

// ---------------------------------------------------------------------------
// LZW, codes of 9 to 12 bits packed most significant bit first; the clear
// code empties the table, the end code ends the strip, and the entries
// start at the first free code.
//
// The machine. A call delivers the strip's decoded bytes from `from` to
// `to` and stops there, also inside a code's string. It takes a stored byte
// only when a code needs one, so it consumes exactly what a byte-at-a-time
// decoder would, and fails at the same code with the same message. Between
// calls survive: the mode, the table (its entries, the first entry not
// defined, the code width), the length of the string written last, the
// bits of a stored byte not yet taken, and the rest of a string that the
// output could not take whole (the next call delivers it first). Term then
// looks at what follows the last string: the end code, and nothing after.
//
// The mode says what the next code may be:
//  - kAfterClear: the strip's first code or the first after a clear code.
//    It must be a literal, and it defines no entry (no string came before
//    it). Then kCoding.
//  - kCoding: a literal or an entry defined since the last clear, or the
//    entry about to be defined; each code defines the next entry, the
//    string written before it followed by the first byte of its own. The
//    decoder's table runs one entry behind the writer's: its codes grow one
//    bit wider as soon as the first entry not defined is 511, 1023 or 2047,
//    and once entry 4095 is defined, kTableFull.
//  - kTableFull: only a clear code may follow.
// A clear code, in any mode, forgets the entries and goes to kAfterClear
// with codes of 9 bits; the end code in the middle of the strip's rows is a
// failure in any mode. kInterrupted is never a mode of the loop: a call
// stores it until it writes its state back, so a call cut short by a
// failure leaves it, and the next strip's Init forgets every entry.
//
// The table keeps no strings: every code's string lies somewhere already.
// A literal is its own byte in a constant table; entry c is where the
// string before it was written in the output, one byte longer (the first
// byte of the string written after it). Writing a code's string is a copy,
// as in an LZ77 decoder. The entry about to be defined (the previous string
// and its own first byte) is the one copy whose source overlaps its
// destination: it starts at the previous string, one byte back from where
// it ends (dist = length - 1), and a forward copy gives it right.
//
// Fast loop: while at least eight stored bytes are in the window, whole
// words of them enter the bit buffer at once, four codes' worth; a known
// code whose string has at most 16 bytes is copied in one 16-byte move that
// may write past its end (later strings overwrite that). The loop runs only
// in kCoding, is compiled once per code width, and asks one question of a
// code: is its length at most 16? Every code without a string (the clear
// and end codes, entries not defined, the entry about to be defined among
// them) has the length kNoString. Everything else (those codes, bad codes,
// long strings, the few codes before the width changes, the other modes,
// the ends of the input and the output) takes the careful path, which
// follows the byte-at-a-time decoder step by step; the results are the
// same.

namespace {

// Copies `length` bytes from src to dst as a forward byte by byte copy
// would, writing whole 16-byte moves: up to 15 bytes past the end. A string
// of up to 16 bytes goes in one move through a register (the load before
// the store), right when it does not overlap its source; a longer one in
// moves that each read only bytes before their own destination, right when
// it starts at least 16 bytes back (an overlap then repeats the pattern).
inline void Move16(std::uint8_t* dst, const std::uint8_t* src) {
  std::uint8_t t[16];
  std::memcpy(t, src, 16);
  std::memcpy(dst, t, 16);
}

inline void CopyFast(std::uint8_t* dst, const std::uint8_t* src, std::size_t length) {
  if (length <= 16) {
    Move16(dst, src);
  } else {
    for (std::size_t i = 0; i < length; i += 16) std::memcpy(dst + i, src + i, 16);
  }
}

// The exact forward copy of the careful path. (The source may be the
// constant table, so the overlap test compares addresses as numbers.)
inline void CopyExact(std::uint8_t* dst, const std::uint8_t* src, std::size_t length) {
  if (reinterpret_cast<std::uintptr_t>(dst) - reinterpret_cast<std::uintptr_t>(src) >= length)
    std::memcpy(dst, src, length);
  else
    for (std::size_t i = 0; i < length; ++i) dst[i] = src[i];
}

// The first entry not defined at which something changes, for a code
// width: the width grows (at 511, 1023, 2047), or at 12 bits the table is
// full (4096).
constexpr unsigned WidenAt(int width) {
  return width < static_cast<int>(tiff::kLzwMaxBits) ? (1u << width) - 1 : tiff::kLzwCodes;
}

}  // namespace

void StripDecoder::CodeBits::Fill(const std::uint8_t*& p) {
  assert(num >= 0 && num < 56);
  buf |= LoadBE64(p) >> num;
  p += (63 - num) >> 3;
  num |= 56;
}

// The table's operations. Only entries change: a literal's string stays
// where Reset put it.

void StripDecoder::LzwTable::Reset(const std::uint8_t* literals) {
  for (unsigned c = 0; c < tiff::kLzwCodes; ++c) src[c] = literals + 16 * (c & 0xFF);
  std::fill_n(length, 256, std::uint16_t{1});
  std::fill(length + 256, length + tiff::kLzwCodes, kNoString);
}

inline StripDecoder::LzwTable::String StripDecoder::LzwTable::Find(unsigned code) const {
  assert(code < tiff::kLzwCodes);
  return {src[code], length[code]};
}

inline void StripDecoder::LzwTable::Add(unsigned code, const std::uint8_t* at, unsigned n) {
  assert(code >= tiff::kLzwFirstFree && code < tiff::kLzwCodes && n >= 2 && n <= kLongest);
  src[code] = at;
  length[code] = static_cast<std::uint16_t>(n);
}

void StripDecoder::LzwTable::Forget(unsigned next) {
  assert(next >= tiff::kLzwFirstFree && next <= tiff::kLzwCodes);
  std::fill(length + tiff::kLzwFirstFree, length + next, kNoString);
}

void StripDecoder::LzwTable::Move(unsigned next, std::uintptr_t delta) {
  for (unsigned c = tiff::kLzwFirstFree; c < next; ++c)
    src[c] = reinterpret_cast<const std::uint8_t*>(reinterpret_cast<std::uintptr_t>(src[c]) + delta);
}

void StripDecoder::InitLzw(std::uint64_t offset, std::uint64_t count) {
  StartStrip(offset, count);
  lzw_table_.Forget(lzw_mode_ == LzwMode::kInterrupted ? tiff::kLzwCodes : lzw_next_);
  lzw_mode_ = LzwMode::kAfterClear;
  lzw_next_ = tiff::kLzwFirstFree;
  lzw_width_ = tiff::kLzwMinBits;
  lzw_bits_ = CodeBits{};
  lzw_rest_ = 0;
  lzw_out_ = nullptr;
}

void StripDecoder::NeedBits(CodeBits& bits, int n, const std::uint8_t*& in,
                            const std::uint8_t*& in_end) {
  while (bits.num < n) {
    if (in == in_end) {
      pos_ = end_;
      Refill(msg::kLZWTooFewCodes);
      in = window_ + pos_;
      in_end = window_ + end_;
    }
    bits.Pull(*in++);
  }
}

void StripDecoder::LzwDecode(std::uint8_t* out, std::size_t from, std::size_t to,
                             std::size_t room) {
  assert(lzw_mode_ != LzwMode::kInterrupted);  // Init comes first
  std::uint8_t* op = out + from;
  std::uint8_t* const end = out + to;
  std::uint8_t* const room_end = out + room;
  if (lzw_out_ != nullptr && lzw_out_ != out) {
    // The output has moved with its contents: so do the entries into it.
    const std::uintptr_t delta =
        reinterpret_cast<std::uintptr_t>(out) - reinterpret_cast<std::uintptr_t>(lzw_out_);
    lzw_table_.Move(lzw_next_, delta);
  }
  lzw_out_ = out;
  if (lzw_rest_ > 0) {
    // The rest of the string that the previous call could not take.
    const std::size_t k = std::min<std::size_t>(lzw_rest_, to - from);
    CopyExact(op, op - lzw_distance_, k);
    lzw_rest_ -= static_cast<unsigned>(k);
    op += k;
  }

  // The hot state lives in locals for the loop (stores through `op` could
  // otherwise alias every member) and is written back once at the end. The
  // previous string ends where the output stands: it starts at
  // op - prev_length.
  const std::uint8_t* in = window_ + pos_;
  const std::uint8_t* in_end = window_ + end_;
  CodeBits bits = lzw_bits_;
  LzwMode mode = lzw_mode_;
  unsigned next = lzw_next_;
  int width = lzw_width_;
  unsigned widen = WidenAt(width);
  unsigned prev_length = lzw_prev_length_;
  LzwTable& table = lzw_table_;
  lzw_mode_ = LzwMode::kInterrupted;  // until the state is written back below

  while (op < end) {
    // The fast loop: defined entries and literals of up to 16 bytes. Any
    // other code is left unread for the careful path below.
    if (mode == LzwMode::kCoding && end - op >= 80 && in_end - in >= 8) {
      switch (width) {
        case 9: LzwFast<9>(bits, op, in, end, in_end, next, prev_length); break;
        case 10: LzwFast<10>(bits, op, in, end, in_end, next, prev_length); break;
        case 11: LzwFast<11>(bits, op, in, end, in_end, next, prev_length); break;
        default: LzwFast<12>(bits, op, in, end, in_end, next, prev_length); break;
      }
      if (op >= end) break;
    }

    // Read a code.
    if (bits.num < width) {
      if (in_end - in >= 8) bits.Fill(in);
      else NeedBits(bits, width, in, in_end);
    }
    const unsigned code = bits.Peek(width);
    bits.Drop(width);
    assert(code < tiff::kLzwCodes && bits.num >= 0);

    // The careful path, in the order of the byte-at-a-time decoder.
    if (code == tiff::kLzwEnd) Error(input_.path(), msg::kLZWUnexpectedEnd);
    if (code == tiff::kLzwClear) {
      table.Forget(next);
      mode = LzwMode::kAfterClear;
      next = tiff::kLzwFirstFree;
      width = tiff::kLzwMinBits;
      widen = WidenAt(width);
      continue;
    }
    if (mode == LzwMode::kAfterClear) {
      if (code >= tiff::kLzwClear) Error(input_.path(), msg::kLZWBadCodeAfterClear);
      *op++ = static_cast<std::uint8_t>(code);
      prev_length = 1;
      mode = LzwMode::kCoding;
      continue;
    }
    if (mode == LzwMode::kTableFull) Error(input_.path(), msg::kLZWMissingClearCode);

    // kCoding. The new entry is defined before the code is looked up, for
    // the code may be that very entry.
    if (code > next) Error(input_.path(), msg::kLZWBadCode);
    const bool self = code == next;  // overlapping its source
    table.Add(next, op - prev_length, prev_length + 1);
    if (++next == widen) {
      if (next == tiff::kLzwCodes) mode = LzwMode::kTableFull;
      else widen = WidenAt(++width);
    }
    const auto [src, length] = table.Find(code);
    assert(length >= 1 && length <= LzwTable::kLongest);
    prev_length = static_cast<unsigned>(length);
    if (length <= static_cast<std::size_t>(end - op)) {
      // Over 16 bytes the string lies in the output, 16 bytes back or more.
      const std::size_t spare = static_cast<std::size_t>(room_end - op);
      if (length <= 16 ? !self && spare >= 16 : spare >= length + 16) CopyFast(op, src, length);
      else CopyExact(op, src, length);
      op += length;
    } else {
      // The output ends inside this string (which lies in the output: a
      // literal always fits): the rest comes with the next call, or is
      // reported by TermLzw.
      const std::size_t k = static_cast<std::size_t>(end - op);
      lzw_distance_ = static_cast<std::size_t>(op - src);
      CopyExact(op, src, k);
      op += k;
      lzw_rest_ = static_cast<unsigned>(length - k);
    }
  }

  // Whole bytes still held in the bit buffer go back to the window: the
  // state between calls is that of a decoder reading a byte only when a
  // code needs it. They were all pulled from the current window.
  const int back = bits.num >> 3;
  assert(in - window_ >= back);
  in -= back;
  bits.num &= 7;

  pos_ = static_cast<std::size_t>(in - window_);
  lzw_bits_ = bits;
  lzw_mode_ = mode;
  lzw_next_ = next;
  lzw_width_ = width;
  lzw_prev_length_ = prev_length;
}

template <int W>
void StripDecoder::LzwFast(CodeBits& bits, std::uint8_t*& op, const std::uint8_t*& in,
                           const std::uint8_t* end, const std::uint8_t* in_end, unsigned& next,
                           unsigned& prev_length) {
  constexpr unsigned kWiden = WidenAt(W);
  // While the window holds eight stored bytes more and the output 80 more
  // (four strings of up to 16 bytes and a 16-byte move).
  const std::uint8_t* const op_fast = end - 80;
  const std::uint8_t* const in_fast = in_end - 8;
  LzwTable& table = lzw_table_;
  CodeBits b = bits;
  std::uint8_t* o = op;
  const std::uint8_t* i = in;
  unsigned n = next, prev = prev_length;
  // One code; false when it is not for the fast loop (it stays unread). The
  // code is looked up before the new entry is added: the entry about to be
  // defined has no string yet, and so goes to the careful path.
  auto take = [&]() {
    assert(b.num >= W);
    const unsigned code = b.Peek(W);
    const auto [src, length] = table.Find(code);
    if (length > 16) [[unlikely]] return false;
    b.Drop(W);
    assert(n < kWiden);
    table.Add(n, o - prev, prev + 1);
    Move16(o, src);
    prev = static_cast<unsigned>(length);
    o += length;
    ++n;
    return true;
  };
  // Four codes per round, none of which may define the entry at which the
  // width changes: the careful path takes the codes just before it.
  while (o <= op_fast && i <= in_fast && n + 4 < kWiden) {
    if (b.num < 4 * W) b.Fill(i);
    if (!take() || !take() || !take() || !take()) break;
  }
  bits = b;
  op = o;
  in = i;
  next = n;
  prev_length = prev;
}

// After the strip's last row: the string must be used up, and the next code
// must be the end code with nothing stored after it.
void StripDecoder::TermLzw() {
  if (lzw_rest_ > 0) {
    Warning(input_.path(), msg::kLZWTooManyData);
    return;
  }
  CodeBits& bits = lzw_bits_;
  const int width = lzw_width_;
  // One more code of the current width, as far as the strip's count allows.
  while (bits.num < width && bytes() != 0) bits.Pull(static_cast<std::uint8_t>(NextByte(msg::kLZWTooFewCodes)));
  if (bits.num < width) {
    // The stored bytes ran out: an end code one bit narrower than the
    // current width that fills the strip exactly is accepted.
    if (!(bits.num == width - 1 && bits.Peek(width - 1) == tiff::kLzwEnd))
      Warning(input_.path(), msg::kLZWMissingEndOfCode);
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
    Warning(input_.path(), msg::kLZWTooManyCode);
    return;
  }
  if (bits.Peek(width) == tiff::kLzwEnd) return;
  // An end code one bit narrower, starting at the same bit.
  if (bits.Peek(width - 1) == tiff::kLzwEnd) return;
  Warning(input_.path(), msg::kLZWMissingEndOfCode);
}

// ---------------------------------------------------------------------------
// Deflate: each block one zlib stream, decoded whole by libdeflate at the
// first Decode call of the block. The stored bytes are taken in one piece
// (where the file lies in memory, as it does, in place). The stream goes
// straight into the output when it fits in the room given; a longer stream
// (a block that holds more than its rows, or a call that delivers a first
// piece only) is decoded again into a buffer that grows up to what its
// stored bytes can decode to, and the calls take their pieces from there.
//
// Ends, after the rules of the other decoders:
//  - a stream that is damaged, or cut short by the block's byte count:
//    "Deflate bad or short data." (or "unexpected end of file." when the
//    file ends before the byte count does);
//  - a stream that ends before the rows are complete: "Deflate too few
//    data.";
//  - decoded bytes beyond the block's rows: the warning "Deflate too many
//    data"; else stored bytes of the count after the stream: "Deflate too
//    many code".

namespace {

// The first output tried for a stream that did not fit the room given.
constexpr std::size_t kFirstHeld = 64 * 1024;

}  // namespace

void StripDecoder::FreeInflater::operator()(libdeflate_decompressor* d) const {
#ifdef PV_HAVE_DEFLATE
  libdeflate_free_decompressor(d);
#else
  (void)d;
#endif
}

void StripDecoder::InitDeflateDecode(std::uint64_t offset, std::uint64_t count) {
  StartStrip(offset, count);
  deflate_decoded_ = false;
  deflate_held_at_ = deflate_produced_ = deflate_delivered_ = 0;
  deflate_left_ = 0;
}

void StripDecoder::DeflateDecode(std::uint8_t* out, std::size_t from, std::size_t to,
                                 std::size_t room) {
  if (!deflate_decoded_) {
    assert(from == 0);
    Inflate(out, to, room);
    deflate_decoded_ = true;
  } else {
    if (to > deflate_produced_) Error(input_.path(), msg::kDeflateTooFewData);
    assert(from >= deflate_held_at_ && to - deflate_held_at_ <= deflate_held_.size());
    std::memcpy(out + from, deflate_held_.data() + (from - deflate_held_at_), to - from);
  }
  deflate_delivered_ = to;
}

void StripDecoder::Inflate(std::uint8_t* out, std::size_t to, std::size_t room) {
#ifdef PV_HAVE_DEFLATE
  // The stored bytes in one piece: the window, when it holds the whole
  // count, else copies of what the file holds of it.
  const std::uint64_t count = bytes();
  if (pos_ == end_ && count != 0) FillWindow();
  const std::uint8_t* in = window_ + pos_;
  std::size_t in_size = end_ - pos_;
  if (in_size != count) {
    Allocate([&] {
      deflate_stored_.clear();
      while (true) {
        deflate_stored_.insert(deflate_stored_.end(), window_ + pos_, window_ + end_);
        pos_ = end_;
        if (bytes() == 0 || !FillWindow()) break;
      }
    }, input_.path(), msg::kNoMemoryForCell);
    in = deflate_stored_.data();
    in_size = deflate_stored_.size();
  }
  const bool file_ended = in_size < count;

  libdeflate_decompressor* const d = inflater_.get();
  std::size_t used = 0, produced = 0;
  libdeflate_result r = libdeflate_zlib_decompress_ex(d, in, in_size, out, room, &used, &produced);
  bool held = false;
  if (r == LIBDEFLATE_INSUFFICIENT_SPACE) {
    // Longer than the room: anew, into a buffer that doubles up to the
    // most that the stored bytes can decode to.
    const std::size_t most = in_size > SIZE_MAX / kDeflateMaxRatio ? SIZE_MAX : in_size * kDeflateMaxRatio;
    std::size_t size = std::min(most, std::max(kFirstHeld, room > most / 2 ? most : 2 * room));
    Allocate([&] {
      while (true) {
        deflate_held_.resize(size);
        r = libdeflate_zlib_decompress_ex(d, in, in_size, deflate_held_.data(), size, &used, &produced);
        if (r != LIBDEFLATE_INSUFFICIENT_SPACE || size == most) break;
        size = size > most / 2 ? most : 2 * size;
      }
    }, input_.path(), msg::kNoMemoryForCell);
    held = true;
  }
  if (r != LIBDEFLATE_SUCCESS)
    Error(input_.path(), file_ended ? msg::kUnexpectedEndOfFile : msg::kDeflateBadData);
  if (produced < to) Error(input_.path(), msg::kDeflateTooFewData);
  deflate_produced_ = produced;
  deflate_left_ = count - used;
  if (held) {
    std::memcpy(out, deflate_held_.data(), to);
    deflate_held_at_ = 0;
  } else if (produced > to) {
    // The output beyond `to` is scratch: what later calls take is kept.
    Allocate([&] { deflate_held_.assign(out + to, out + produced); }, input_.path(), msg::kNoMemoryForCell);
    deflate_held_at_ = to;
  }
#else
  (void)out, (void)to, (void)room;
  Error(input_.path(), msg::kUnknownCompression);
#endif
}

void StripDecoder::TermDeflateDecode() {
  if (deflate_produced_ > deflate_delivered_) {
    Warning(input_.path(), msg::kDeflateTooManyData);
  } else if (deflate_left_ != 0) {
    Warning(input_.path(), msg::kDeflateTooManyCode);
  }
}

}  // namespace pv::reader
