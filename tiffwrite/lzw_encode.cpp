#include "tiffwrite/lzw_encode.h"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/pages.h"

namespace pv {

namespace {

// A column: a place for every code, and a cache line (32 places) more.
constexpr std::uint32_t kColumn = tiff::kLzwCodes + 32;
constexpr std::size_t kTableSize = std::size_t{kColumn} * 256;

// Stores the 8 bytes of v, most significant first.
inline void StoreBigEndian64(std::uint8_t* p, std::uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  std::memcpy(p, &v, sizeof v);
}

// Step P: shifts a code of `len` bits into the accumulator, stores the
// pending bits at p (top first, zeros below) and moves p past the complete
// bytes. Fewer than 8 bits stay pending; num + len <= 7 + 12, so the shift
// below is less than 64.
inline void PutCode(std::uint32_t code, std::uint32_t len, std::uint64_t& buf,
                    std::uint32_t& num, std::uint8_t*& p) {
  buf = (buf << len) | code;
  num += len;
  StoreBigEndian64(p, buf << (64 - num));
  p += num >> 3;
  num &= 7;
}

constexpr std::size_t kTableBytes = kTableSize * sizeof(std::uint16_t);

}  // namespace

void LzwEncoder::Free::operator()(void* p) const { UnmapPages(p, kTableBytes); }

// The table comes zeroed from the kernel. A strip's lookups land all over
// it, so it is brought in whole at once, in one call rather than in
// hundreds of page faults. (Small pages: in one huge page the columns' fixed
// stride would crowd the lookups into fewer sets of the second-level cache.)
LzwEncoder::LzwEncoder()
    : child_([] {
        void* p = MapPages(kTableBytes);
        PrefaultPages(p, kTableBytes);
        return static_cast<std::uint16_t*>(p);
      }()),
      used_(new std::uint32_t[tiff::kLzwCodes]) {
  if (!child_) throw std::bad_alloc();
}

void LzwEncoder::ClearTable(std::uint32_t used) {
  std::uint16_t* const child = child_.get();
  const std::uint32_t* const places = used_.get();
  for (std::uint32_t k = 0; k < used; ++k) child[places[k]] = 0;
}

void LzwEncoder::StartStrip(std::uint8_t* out) {
  start_ = out_ = out;
  width_ = tiff::kLzwMinBits;
  // The accumulator counts as empty whatever it held: stale bits of the
  // previous strip are never written.
  bits_ = 0;
  bit_count_ = 0;
  PutCode(tiff::kLzwClear, width_, bits_, bit_count_, out_);
  ClearTable(entries_);
  entries_ = 0;
  next_code_ = tiff::kLzwFirstFree;
  roof_ = kFirstRoof;
  head_ = kNoString;
}

void LzwEncoder::EncodeBlock(const std::uint8_t* data, std::size_t n) {
  if (n == 0) return;
  if (head_ == kNoString) {  // first byte of the strip: no code yet
    head_ = *data++;
    --n;
  }
  // The hot state lives in locals for the loop and is written back once.
  // The current string is held as its code's byte offset in a column.
  std::uint32_t head = head_ * 2, next = next_code_, roof = roof_, len = width_;
  std::uint64_t buf = bits_;
  std::uint32_t num = bit_count_, used = entries_;
  std::uint8_t* p = out_;
  std::uint16_t* const child = child_.get();
  std::uint32_t* const places = used_.get();

  // One byte. The lookup that waits for the previous one is a single load:
  // the column of b is found before head is known.
  auto step = [&](std::uint32_t b) __attribute__((always_inline)) {
    const std::uint8_t* const column = reinterpret_cast<const std::uint8_t*>(child + b * kColumn);
    std::uint16_t code;
    std::memcpy(&code, column + head, 2);
    if (code != 0) {
      head = code;
      return;
    }
    // A new string: its prefix is put out and the string becomes an entry.
    const std::uint32_t place = b * kColumn + head / 2;  // below kTableSize
    PutCode(head / 2, len, buf, num, p);
    if (next == kTableFull) {
      PutCode(tiff::kLzwClear, len, buf, num, p);  // len is 12 here
      ClearTable(used);
      used = 0;
      len = tiff::kLzwMinBits;
      next = tiff::kLzwFirstFree;
      roof = kFirstRoof;
    } else {
      child[place] = static_cast<std::uint16_t>(next * 2);
      places[used++] = place;
      if (++next == roof) {
        ++len;
        roof <<= 1;
      }
    }
    head = b * 2;
  };
  // Four bytes a round: each byte of a 32-bit sample (and each of a 16-bit
  // pair) has its own branch, whose outcome follows the byte's place in the
  // sample, so the branch predictor learns the rows' pattern.
  const std::uint8_t* const end = data + n;
  for (; end - data >= 4; data += 4) {
    step(data[0]);
    step(data[1]);
    step(data[2]);
    step(data[3]);
  }
  for (; data != end; ++data) step(*data);
  head_ = head / 2;
  next_code_ = next;
  roof_ = roof;
  width_ = len;
  bits_ = buf;
  bit_count_ = num;
  entries_ = used;
  out_ = p;
}

std::size_t LzwEncoder::EndStrip() {
  if (head_ != kNoString) {
    PutCode(head_, width_, bits_, bit_count_, out_);
    // The decoder defines one more entry when it reads this code; its width
    // grows with it. roof_ stays: the strip ends here.
    if (++next_code_ == roof_) ++width_;
  }
  PutCode(tiff::kLzwEnd, width_, bits_, bit_count_, out_);
  // The pending bits already stand at out_, completed with zero bits.
  if (bit_count_ > 0) ++out_;
  bit_count_ = 0;
  head_ = kNoString;
  return static_cast<std::size_t>(out_ - start_);
}

}  // namespace pv
