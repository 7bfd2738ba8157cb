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
  // Codes below 256 stand for themselves: one byte, its own first byte.
  for (unsigned c = 0; c < 256; ++c) {
    LZWFirst_[c] = static_cast<std::uint8_t>(c);
    LZWLength_[c] = 1;
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
  // A failed seek is not reported: reading then fails at the first byte
  // the decoder needs.
  (void)fseeko(file_, static_cast<off_t>(offset), SEEK_SET);
  pos_ = end_ = 0;
  unbuffered_ = count;
  short_read_ = false;
}

void StripDecoder::Refill(const char* too_few) {
  if (unbuffered_ == 0) Error(too_few);
  if (short_read_) Error(kEndOfFile);
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(unbuffered_, kBlock));
  const std::size_t got = std::fread(buffer_.get(), 1, want, file_);
  if (got < want) short_read_ = true;
  if (got == 0) Error(kEndOfFile);
  if (byte_ != bitN.data()) {
    std::uint8_t* b = buffer_.get();
    for (std::size_t i = 0; i < got; ++i) b[i] = byte_[b[i]];
  }
  unbuffered_ -= got;
  pos_ = 0;
  end_ = got;
}

bool StripDecoder::TryNextByte(int& b) {
  if (pos_ == end_) {
    if (unbuffered_ == 0 || short_read_) return false;
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(unbuffered_, kBlock));
    const std::size_t got = std::fread(buffer_.get(), 1, want, file_);
    if (got < want) short_read_ = true;
    if (got == 0) return false;
    if (byte_ != bitN.data()) {
      std::uint8_t* p = buffer_.get();
      for (std::size_t i = 0; i < got; ++i) p[i] = byte_[p[i]];
    }
    unbuffered_ -= got;
    pos_ = 0;
    end_ = got;
  }
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

// Reading a code: whole stored bytes enter the bit buffer at its low end
// until the code's bits are there; bits below the code stay for the next.
inline unsigned StripDecoder::ReadLZWCode() {
  LZWnum_ -= LZWlen_;
  while (LZWnum_ < 0) {
    LZWbuf_ = LZWbuf_ << 8 | static_cast<unsigned>(NextByte("LZW too few codes."));
    LZWnum_ += 8;
  }
  return static_cast<unsigned>(LZWbuf_ >> LZWnum_) & LZWmask_;
}

void StripDecoder::LZWDecode(std::uint8_t* out, std::size_t n) {
  std::size_t i = 0;
  if (LZWpos_ < LZWsize_) {
    const std::size_t k = std::min<std::size_t>(LZWsize_ - LZWpos_, n);
    std::memcpy(out, LZWring_ + LZWpos_, k);
    LZWpos_ += static_cast<unsigned>(k);
    i = k;
  }
  while (i < n) {
    const unsigned code = ReadLZWCode();
    if (code == 257) Error("LZW unexpected end of code.");
    if (code == 256) {
      LZWlen_ = 9;
      LZWmask_ = 511;
      LZWold_ = 256;
      continue;
    }
    if (LZWold_ == 256) {
      if (code > 255) Error("LZW bad code after clear code.");
      LZWcode_ = 258;
      LZWold_ = code;
      out[i++] = static_cast<std::uint8_t>(code);
      continue;
    }
    if (LZWcode_ == 4096) Error("LZW missing clear code.");
    if (code > LZWcode_) Error("LZW bad code.");

    // The new entry is the previous string followed by the current string's
    // first byte. For the code that this very entry defines, that first
    // byte is the previous string's own first byte.
    const unsigned next = LZWcode_;
    const std::uint8_t first = LZWFirst_[code < next ? code : LZWold_];
    LZWHead_[next] = static_cast<std::uint16_t>(LZWold_);
    LZWTail_[next] = first;
    LZWFirst_[next] = LZWFirst_[LZWold_];
    LZWLength_[next] = static_cast<std::uint16_t>(LZWLength_[LZWold_] + 1);
    LZWcode_ = next + 1;
    if (LZWcode_ == LZWmask_ && LZWlen_ <= 11) {
      ++LZWlen_;
      LZWmask_ = 2 * LZWmask_ + 1;
    }
    LZWold_ = code;

    // Every prefix is smaller than its entry, so the walk ends at a code
    // below 256 after LZWLength_[code] - 1 steps (at most 3838).
    const unsigned length = LZWLength_[code];
    std::uint8_t* dst;
    if (length <= n - i) {
      dst = out + i;
      i += length;
    } else {
      dst = LZWring_;
      LZWsize_ = length;
      LZWpos_ = static_cast<unsigned>(n - i);
    }
    unsigned k = code;
    for (unsigned p = length - 1; p > 0; --p) {
      dst[p] = LZWTail_[k];
      k = LZWHead_[k];
    }
    dst[0] = static_cast<std::uint8_t>(k);
    if (dst == LZWring_) {
      std::memcpy(out + i, LZWring_, LZWpos_);
      i = n;
    }
  }
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
