#include "tiffwrite/lzw_encode.h"

#include <cstring>

namespace pv {

namespace {

// Step P: shifts a code of `len` bits into the accumulator and writes every
// byte that is complete. Fewer than 8 bits stay pending.
inline void PutCode(std::uint32_t code, std::uint32_t len, std::uint32_t& buf, std::uint32_t& num,
                    std::uint8_t*& p) {
  buf = (buf << len) | code;
  num += len;
  while (num >= 8) {
    num -= 8;
    *p++ = static_cast<std::uint8_t>(buf >> num);
  }
}

}  // namespace

void LzwEncoder::ClearTable() {
  if (listed_) {
    for (std::uint32_t k = 0; k < LZWcount; ++k) LZWstr[LZWused[k]] = 0;
  } else {
    std::memset(LZWstr, 0, sizeof LZWstr);
    listed_ = true;
  }
  LZWcount = 0;
}

void LzwEncoder::InitLZWEncode(TiffOut& out) {
  out_ = &out;
  strip_start_ = out.Offset();
  LZWlen = 9;
  // The accumulator counts as empty whatever it held: stale bits of the
  // previous strip are never written.
  LZWbuf = 0;
  LZWnum = 0;
  std::uint8_t* p = out.Reserve(4);
  std::uint8_t* const start = p;
  PutCode(kClear, 9, LZWbuf, LZWnum, p);
  out.Commit(static_cast<std::size_t>(p - start));
  ClearTable();
  LZWcode = kFirstFree;
  LZWroof = 512;
  LZWhead = kNoString;
}

void LzwEncoder::EncodeBlock(const std::uint8_t* data, std::size_t n) {
  if (n == 0) return;
  if (LZWhead == kNoString) {  // first byte of the strip: no code yet
    LZWhead = *data++;
    --n;
  }
  // The hot state lives in locals for the loop and is written back once.
  std::uint32_t head = LZWhead, next = LZWcode, roof = LZWroof, len = LZWlen;
  std::uint32_t buf = LZWbuf, num = LZWnum, used = LZWcount;
  std::uint32_t* const table = LZWstr;
  TiffOut& out = *out_;
  // Until the write-back below, LZWcount does not list every used slot (a
  // failed write may leave the loop): the next clear then clears them all.
  listed_ = false;

  while (n != 0) {
    const std::size_t take = n < kChunk ? n : kChunk;
    std::uint8_t* p = out.Reserve(3 * take + 4);
    std::uint8_t* const start = p;
    for (const std::uint8_t* end = data + take; data != end; ++data) {
      const std::uint32_t b = *data;
      const std::uint32_t key = (head << 20) | (b << 12);
      // head < 4096 and b < 256: the pair is a 20-bit number.
      std::uint32_t i = Slot(head << 8 | b);
      std::uint32_t slot;
      while ((slot = table[i]) != 0 && (slot & 0xFFFFF000u) != key) i = (i + 1) & (kSlots - 1);
      if (slot != 0) {
        head = slot & 0xFFFu;
        continue;
      }
      // A new string: its prefix is put out and the string becomes an entry.
      PutCode(head, len, buf, num, p);
      if (next == kTableFull) {
        PutCode(kClear, len, buf, num, p);  // len is 12 here
        for (std::uint32_t k = 0; k < used; ++k) table[LZWused[k]] = 0;
        used = 0;
        len = 9;
        next = kFirstFree;
        roof = 512;
      } else {
        table[i] = key | next;
        LZWused[used++] = static_cast<std::uint16_t>(i);
        if (++next == roof) {
          ++len;
          roof <<= 1;
        }
      }
      head = b;
    }
    out.Commit(static_cast<std::size_t>(p - start));
    n -= take;
  }
  LZWhead = head;
  LZWcode = next;
  LZWroof = roof;
  LZWlen = len;
  LZWbuf = buf;
  LZWnum = num;
  LZWcount = used;
  listed_ = true;
}

std::uint32_t LzwEncoder::TermLZWEncode() {
  TiffOut& out = *out_;
  std::uint8_t* p = out.Reserve(8);
  std::uint8_t* const start = p;
  if (LZWhead != kNoString) {
    PutCode(LZWhead, LZWlen, LZWbuf, LZWnum, p);
    // The decoder defines one more entry when it reads this code; its width
    // grows with it. LZWroof stays: the strip ends here.
    if (++LZWcode == LZWroof) ++LZWlen;
  }
  PutCode(kEnd, LZWlen, LZWbuf, LZWnum, p);
  if (LZWnum > 0) {
    *p++ = static_cast<std::uint8_t>(LZWbuf << (8 - LZWnum));
    LZWnum = 0;
  }
  out.Commit(static_cast<std::size_t>(p - start));
  LZWhead = kNoString;
  return static_cast<std::uint32_t>(out.Offset() - strip_start_);
}

}  // namespace pv
