#include "tiffread/strip_decoder.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "common/error.h"
#include "tiffread/reader_core.h"

namespace pv::rif_core {

namespace {

// Stored bytes read ahead per block. A strip of up to this size costs one
// read; larger strips are read in blocks of this size.
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

}  // namespace

StripDecoder::StripDecoder(std::FILE* file, const char* path, Compression compression,
                           bool reverse_fill)
    : file_(file),
      path_(path),
      compression_(compression),
      byte_(reverse_fill ? bitR.data() : bitN.data()),
      buffer_(new std::uint8_t[kBlock]) {
  std::memset(LZWSuffix_, 0, sizeof LZWSuffix_);
  // Codes below 256 stand for themselves: one byte, its own first byte.
  for (unsigned c = 0; c < 256; ++c) {
    LZWPrefix_[c] = 0;
    LZWLength_[c] = 1;
    LZWFirst_[c] = static_cast<std::uint8_t>(c);
    std::memset(LZWSuffix_[c], 0, 8);
    LZWSuffix_[c][0] = static_cast<std::uint8_t>(c);
  }
}

StripDecoder::~StripDecoder() = default;

void StripDecoder::Error(const char* message) const {
  Fail(std::string(path_) + " : " + message + "\n");
}

void StripDecoder::Warning(const char* message) const {
  Warn(std::string(path_) + " : " + message + " (warning).\n");
}

// ---------------------------------------------------------------------------
// Per-strip byte source.

void StripDecoder::StartStrip(std::uint32_t offset, std::uint32_t count) {
  limit_ = std::uint64_t{offset} + count;
  if (offset < window_start_ || offset - window_start_ > window_len_) {
    // Outside the block in memory: the next byte reads a new block there.
    window_start_ = offset;
    window_len_ = 0;
  }
  pos_ = static_cast<std::size_t>(offset - window_start_);
  end_ = static_cast<std::size_t>(std::min<std::uint64_t>(window_len_, limit_ - window_start_));
}

bool StripDecoder::FillWindow() {
  const std::uint64_t at = window_start_ + pos_;
  // A seek that fails is not reported as such: the read then finds no byte.
  if (at != file_pos_ && std::fseek(file_, static_cast<long>(at), SEEK_SET) != 0) {
    file_pos_ = UINT64_MAX;
    return false;
  }
  const std::size_t got = std::fread(buffer_.get(), 1, kBlock, file_);
  file_pos_ = at + got;
  if (got == 0) {
    std::clearerr(file_);
    return false;
  }
  if (byte_ != bitN.data()) {
    std::uint8_t* b = buffer_.get();
    for (std::size_t i = 0; i < got; ++i) b[i] = byte_[b[i]];
  }
  window_start_ = at;
  window_len_ = got;
  pos_ = 0;
  end_ = static_cast<std::size_t>(std::min<std::uint64_t>(got, limit_ - at));
  return true;
}

void StripDecoder::Refill(const char* too_few) {
  if (bytes() == 0) Error(too_few);
  if (!FillWindow()) Error(kEndOfFile);
}

bool StripDecoder::TryNextByte(int& b) {
  if (pos_ == end_ && (bytes() == 0 || !FillWindow())) return false;
  b = buffer_[pos_++];
  return true;
}

void StripDecoder::TakeBytes(std::uint8_t* out, std::size_t n, const char* too_few) {
  while (n > 0) {
    if (pos_ == end_) Refill(too_few);
    const std::size_t k = std::min(n, end_ - pos_);
    std::memcpy(out, buffer_.get() + pos_, k);
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

void StripDecoder::Decode(std::uint8_t* out, std::size_t n) {
  switch (compression_) {
    case Compression::kNone: NICDecode(out, n); break;
    case Compression::kPackBits: MPBDecode(out, n); break;
    case Compression::kLZW: LZWDecode(out, n); break;
  }
}

const std::uint8_t* StripDecoder::DecodeView(std::size_t n, std::uint8_t* scratch) {
  if (compression_ == Compression::kNone && end_ - pos_ >= n) {
    const std::uint8_t* p = buffer_.get() + pos_;
    pos_ += n;
    return p;
  }
  Decode(scratch, n);
  return scratch;
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
  if (bytes() != 0) Warning("too many codes");
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
    Warning("MPB too many data");
  } else if (bytes() != 0) {
    Warning("MPB too many code");
  }
}

// ---------------------------------------------------------------------------
// LZW, codes of 9 to 12 bits packed most significant bit first; 256 clears
// the table, 257 ends the strip, 258 is the first free code.
//
// Each code's string is written straight into the output, back to front,
// by walking its chain of prefixes (one step per byte). When the output
// cannot take the whole string, the string is unpacked into LZWring_ and
// handed out on the following calls: that is the only state that carries
// between calls besides the table and the bit buffer.
//
// The decoder's table runs one entry behind the writer's: it widens its
// codes as soon as its next free code reaches 511, 1023 or 2047. After
// entry 4095 the only code accepted is a clear code.

void StripDecoder::InitLZWDecode(std::uint32_t offset, std::uint32_t count) {
  StartStrip(offset, count);
  LZWnum_ = 0;
  LZWlen_ = 9;
  LZWmask_ = 511;
  LZWpos_ = LZWsize_ = 0;
  LZWcode_ = 258;
  LZWold_ = 256;
}

// Writes the `length` bytes of code `code`'s string at dst. The last block
// may be written as a whole 8-byte copy when `room` (bytes writable from
// dst) allows; every other block lies inside the string.
inline void StripDecoder::PutLZWString(unsigned code, unsigned length, std::uint8_t* dst,
                                       std::size_t room) const {
  const unsigned last = ((length - 1) & 7u) + 1;
  unsigned at = length - last;
  if (room >= at + 8) std::memcpy(dst + at, LZWSuffix_[code], 8);
  else std::memcpy(dst + at, LZWSuffix_[code], last);
  unsigned k = LZWPrefix_[code];
  while (at > 0) {
    at -= 8;
    std::memcpy(dst + at, LZWSuffix_[k], 8);
    k = LZWPrefix_[k];
  }
}

void StripDecoder::LZWDecode(std::uint8_t* out, std::size_t n) {
  std::uint8_t* op = out;
  std::uint8_t* const op_end = out + n;
  if (LZWpos_ < LZWsize_) {
    const std::size_t k = std::min<std::size_t>(LZWsize_ - LZWpos_, n);
    std::memcpy(op, LZWring_ + LZWpos_, k);
    LZWpos_ += static_cast<unsigned>(k);
    op += k;
  }
  if (op == op_end) return;

  // The hot state lives in locals for the loop (stores through `op` could
  // otherwise alias every member) and is written back once at the end.
  const std::uint8_t* in = buffer_.get() + pos_;
  const std::uint8_t* in_end = buffer_.get() + end_;
  std::uint64_t buf = LZWbuf_;
  int num = LZWnum_;
  int len = LZWlen_;
  unsigned mask = LZWmask_;
  unsigned next = LZWcode_;
  unsigned old = LZWold_;

  while (op < op_end) {
    // Reading a code: whole stored bytes enter the bit buffer at its low
    // end until the code's bits are there; bits below it stay buffered.
    // A code needs one or two more bytes; the common case takes them
    // straight from the block.
    num -= len;
    if (num < 0) {
      if (in_end - in >= 2) {
        buf = buf << 8 | *in++;
        num += 8;
        if (num < 0) {
          buf = buf << 8 | *in++;
          num += 8;
        }
      } else {
        do {
          if (in == in_end) {
            pos_ = end_;
            Refill("LZW too few codes.");
            in = buffer_.get();
            in_end = in + end_;
          }
          buf = buf << 8 | *in++;
          num += 8;
        } while (num < 0);
      }
    }
    const unsigned code = static_cast<unsigned>(buf >> num) & mask;

    if (code >= 256 && code <= 257) [[unlikely]] {
      if (code == 257) Error("LZW unexpected end of code.");
      len = 9;
      mask = 511;
      old = 256;
      continue;
    }
    if (old == 256) [[unlikely]] {
      if (code > 255) Error("LZW bad code after clear code.");
      next = 258;
      old = code;
      *op++ = static_cast<std::uint8_t>(code);
      continue;
    }
    if (next == 4096) [[unlikely]] Error("LZW missing clear code.");
    if (code > next) [[unlikely]] Error("LZW bad code.");

    // The new entry is the previous string followed by the current string's
    // first byte. For the code that this very entry defines, that first
    // byte is the previous string's own first byte. It extends the previous
    // string's last block, or starts a new block when that one is full.
    const unsigned old_length = LZWLength_[old];
    const std::uint8_t first = code < next ? LZWFirst_[code] : LZWFirst_[old];
    LZWLength_[next] = static_cast<std::uint16_t>(old_length + 1);
    LZWFirst_[next] = LZWFirst_[old];
    const unsigned used = old_length & 7u;  // bytes in the previous string's last block, 0: full
    if (used != 0) {
      std::memcpy(LZWSuffix_[next], LZWSuffix_[old], 8);
      LZWSuffix_[next][used] = first;
      LZWPrefix_[next] = LZWPrefix_[old];
    } else {
      LZWSuffix_[next][0] = first;
      LZWPrefix_[next] = static_cast<std::uint16_t>(old);
    }
    if (++next == mask && len <= 11) {
      ++len;
      mask = 2 * mask + 1;
    }
    old = code;

    const unsigned length = LZWLength_[code];
    const std::size_t room = static_cast<std::size_t>(op_end - op);
    if (length <= room) [[likely]] {
      PutLZWString(code, length, op, room);
      op += length;
    } else {
      // The output ends inside this string: keep it whole for the next call.
      PutLZWString(code, length, LZWring_, sizeof LZWring_);
      LZWsize_ = length;
      LZWpos_ = static_cast<unsigned>(room);
      std::memcpy(op, LZWring_, room);
      op = op_end;
    }
  }

  pos_ = static_cast<std::size_t>(in - buffer_.get());
  LZWbuf_ = buf;
  LZWnum_ = num;
  LZWlen_ = len;
  LZWmask_ = mask;
  LZWcode_ = next;
  LZWold_ = old;
}

// After the strip's last row: the string must be used up, and the next code
// must be the end code with nothing stored after it.
void StripDecoder::TermLZWDecode() {
  if (LZWpos_ < LZWsize_) {
    Warning("LZW too many data");
    return;
  }
  LZWnum_ -= LZWlen_;
  while (LZWnum_ < 0 && bytes() != 0) {
    LZWbuf_ = LZWbuf_ << 8 | static_cast<unsigned>(NextByte("LZW too few codes."));
    LZWnum_ += 8;
  }
  if (LZWnum_ < 0) {
    // The stored bytes ran out: an end code one bit narrower than the
    // current width that fills the strip exactly is accepted.
    if (!(LZWnum_ == -1 && (LZWbuf_ & (LZWmask_ >> 1)) == 257)) Warning("LZW missing end of code");
    return;
  }
  if (bytes() != 0) {
    // Writers that fill their table on the strip's last data code emit a
    // clear code at the current width and then the end code at 9 bits.
    // That sequence, followed by nothing but the pad bits of its last byte,
    // is a proper strip end.
    if ((static_cast<unsigned>(LZWbuf_ >> LZWnum_) & LZWmask_) == 256) {
      int num = LZWnum_ - 9;
      std::uint64_t buf = LZWbuf_;
      int b;
      while (num < 0 && TryNextByte(b)) {
        buf = buf << 8 | static_cast<unsigned>(b);
        num += 8;
      }
      if (num >= 0 && ((buf >> num) & 511) == 257 && bytes() == 0) return;
    }
    Warning("LZW too many code");
    return;
  }
  if ((static_cast<unsigned>(LZWbuf_ >> LZWnum_) & LZWmask_) == 257) return;
  if ((static_cast<unsigned>(LZWbuf_ >> (LZWnum_ + 1)) & (LZWmask_ >> 1)) == 257) return;
  Warning("LZW missing end of code");
}

}  // namespace pv::rif_core
