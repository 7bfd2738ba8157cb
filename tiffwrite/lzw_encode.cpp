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

void LzwEncoder::ClearTable() { std::memset(LZWstr, 0, sizeof LZWstr); }

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
  std::uint32_t buf = LZWbuf, num = LZWnum;
  std::uint32_t* const table = LZWstr;
  TiffOut& out = *out_;

  while (n != 0) {
    const std::size_t take = n < kChunk ? n : kChunk;
    std::uint8_t* p = out.Reserve(3 * take + 4);
    std::uint8_t* const start = p;
    for (const std::uint8_t* end = data + take; data != end; ++data) {
      const std::uint32_t b = *data;
      const std::uint32_t key = (head << 20) | (b << 12);
      // head < 4096 and b < 256, so the first index is below 8192.
      std::uint32_t i = (b << 5) ^ head;
      std::uint32_t slot = table[i];
      if (slot != 0) {
        if ((slot & 0xFFFFF000u) == key) {
          head = slot & 0xFFFu;
          continue;
        }
        const std::uint32_t step = i != 0 ? i : 9000;
        for (;;) {
          i += step;
          if (i >= kSlots) i -= kSlots;  // i and step are below 9001
          slot = table[i];
          if (slot == 0) break;
          if ((slot & 0xFFFFF000u) == key) break;
        }
        if (slot != 0) {
          head = slot & 0xFFFu;
          continue;
        }
      }
      // A new string: its prefix is put out and the string becomes an entry.
      PutCode(head, len, buf, num, p);
      if (next == kTableFull) {
        PutCode(kClear, len, buf, num, p);  // len is 12 here
        std::memset(table, 0, sizeof LZWstr);
        len = 9;
        next = kFirstFree;
        roof = 512;
      } else {
        table[i] = key | next;
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
