// The block phase: each block of the image (a strip or a tile) decoded,
// turned into samples, and put in its place in the image's buffer.
//
// Blocks. Strip s holds rows s·R to s·R + R − 1 (R rows per strip, fewer in
// the last strip), whose samples occupy bytes s·R·W to (s + 1)·R·W − 1 of
// the buffer (W the row size of the delivered samples): a strip is decoded
// straight into its place. Tile t of a tiled image (A tiles across) holds
// the TL rows of TW samples at column (t mod A)·TW, row (t div A)·TL; the
// tiles at the right and bottom edges are stored whole, their samples past
// the image's edges padding. A tile is decoded into a buffer of its own and
// the part inside the image copied to its place. Neither the decoders nor
// the conversion know which of the two a block is: both see rows of the
// block's width, as many as the block stores.
//
// Conversion, in place: the block's decoded bytes (rows of whole bytes, at
// most as many as the delivered row) are written from the start of its
// buffer, and there the predictor is undone, byte order turned to the
// host's, packed samples unpacked and narrow samples widened (from the last
// to the first, so that no decoded byte is overwritten before it is read).
// The sample kinds, one row each, are in reader_core.cpp (kSampleForms).
//
// Memory follows the data the file can supply. For a regular file each
// block's decoded size is bounded by its stored bytes that lie in the file
// (uncompressed: as many; PackBits: 64 times as many; LZW: a code of at
// least 9 bits stands for at most as many bytes as codes came before it,
// and at most 3839; Deflate: 1032 times as many). The buffer is allocated
// once up to the first block that cannot be complete (which must fail) -
// for tiles, up to the row of tiles that holds it, which is never placed -
// and that far blocks may be decoded in parallel. From there on, and for a
// file of unknown size (a pipe, a device), the buffer grows as decoded
// bytes arrive: a strip's own place, or a buffer of one row of tiles that
// is placed once the row is whole. A regular file that shrinks while it is
// read ends at its new end, as a short file does.
//
// In parallel, batches of consecutive blocks are decoded on worker threads;
// the pool prints each batch's warnings and throws its failure in block
// order on the calling thread, exactly where a run on one thread would have
// printed them.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cassert>
#include <cstring>
#include <memory>
#include <type_traits>

#include "common/error.h"
#include "common/messages.h"
#include "common/parallel.h"
#include "common/sizes.h"
#include "tiffread/reader_core.h"
#include "tiffread/strip_decoder.h"

namespace pv::reader {

namespace {


// Work per parallel batch, in bytes of delivered samples.
constexpr std::size_t kBatchBytes = 512 * 1024;

// Decoded bytes the buffer grows by at least, when it grows with the data.
constexpr std::size_t kGrowth = 1 << 20;

// The most bytes that `stored` bytes of a block can decode to.
std::uint64_t DecodableBound(Compression compression, std::uint64_t stored) {
  switch (compression) {
    case Compression::kDeflate: return kDeflateMaxRatio * stored;
    case Compression::kNone: return stored;
    case Compression::kPackBits: return 64 * stored;  // a header and a byte give 128
    case Compression::kLZW: {
      const std::uint64_t codes = stored * 8 / 9;
      constexpr std::uint64_t kLongest = tiff::kLzwCodes - tiff::kLzwFirstFree + 1;
      return codes <= kLongest ? codes * (codes + 1) / 2 : kLongest * codes;
    }
  }
  return 0;
}

template <class T>
T ByteSwap(T v) {
  if constexpr (sizeof(T) == 2) return __builtin_bswap16(v);
  else if constexpr (sizeof(T) == 4) return __builtin_bswap32(v);
  else return __builtin_bswap64(v);
}

// Samples of T in host order, from the file's order.
template <class T>
void Swap(std::uint8_t* p, std::size_t n) {
  T* s = reinterpret_cast<T*>(p);
  for (std::size_t k = 0; k < n; ++k) s[k] = ByteSwap(s[k]);
}

// Undoes horizontal differencing in one row: each sample after the first
// adds to the one before it, modulo 2^bits (`mask` is 2^bits − 1).
template <class T>
void Undifference(T* row, std::size_t width, std::uint32_t mask) {
  T v = row[0];
  for (std::size_t k = 1; k < width; ++k) {
    v = static_cast<T>((v + row[k]) & mask);
    row[k] = v;
  }
}

// Whole 16- or 32-bit samples as the host reads them: from the file's byte
// order, then with differencing undone row by row.
template <class T>
void ToHostSamples(std::uint8_t* place, std::uint32_t rows, std::size_t width, bool swap,
                   bool diff) {
  if (swap) Swap<T>(place, rows * width);
  auto* d = reinterpret_cast<T*>(place);
  if (diff)
    for (std::uint32_t y = 0; y < rows; ++y) Undifference(d + y * width, width, T(~T{0}));
}

// Undoes the floating-point predictor in one row of `width` samples of S
// bytes. The writer stored the row's bytes by significance - the most
// significant byte of every sample, then the next byte of every sample,
// and so on - and differenced that sequence byte by byte. So the sums are
// taken first, then sample k is gathered from its bytes at k, width + k,
// ..., most significant first, into the host's order (the file's byte
// order plays no part). `spare` holds the row's bytes meanwhile.
template <int S>
void UndoFloatingPoint(std::uint8_t* row, std::size_t width, std::uint8_t* spare) {
  using T = std::conditional_t<S == 2, std::uint16_t, std::conditional_t<S == 4, std::uint32_t, std::uint64_t>>;
  const std::size_t n = width * S;
  std::uint8_t sum = row[0];
  for (std::size_t i = 1; i < n; ++i) row[i] = sum = static_cast<std::uint8_t>(sum + row[i]);
  std::memcpy(spare, row, n);
  for (std::size_t k = 0; k < width; ++k) {
    T v = 0;
    for (int j = 0; j < S; ++j) v = static_cast<T>(v << 8 | spare[j * width + k]);
    std::memcpy(row + k * S, &v, S);
  }
}

// IEEE half to single precision, exactly: every half is a float. Sign, 5
// bits of exponent (bias 15), 10 of fraction; exponent 0 holds zeros and
// subnormals (fraction · 2^−24), exponent 31 infinities and NaNs (the
// fraction kept as the top of the float's).
float HalfToFloat(std::uint16_t h) {
  constexpr unsigned kFraction = 10, kExponentMask = 0x1F;
  constexpr unsigned kSingleBias = 127, kHalfBias = 15;
  const std::uint32_t sign = static_cast<std::uint32_t>(h >> 15) << 31;
  const unsigned exponent = (h >> kFraction) & kExponentMask;
  const std::uint32_t fraction = h & ((1u << kFraction) - 1);
  if (exponent == 0) {
    const float magnitude = std::ldexp(static_cast<float>(fraction), -24);
    return sign != 0 ? -magnitude : magnitude;
  }
  const std::uint32_t biased = exponent == kExponentMask ? 0xFF : exponent - kHalfBias + kSingleBias;
  return std::bit_cast<float>(sign | biased << 23 | fraction << (23 - kFraction));
}

// Unpacks one row of `bits`-bit samples, most significant bit first.
template <class T>
void Unpack(const std::uint8_t* s, T* d, std::size_t width, int bits) {
  const std::uint32_t mask = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1u;
  std::uint64_t acc = 0;
  int have = 0;
  for (std::size_t k = 0; k < width; ++k) {
    while (have < bits) {
      acc = acc << 8 | *s++;
      have += 8;
    }
    have -= bits;
    d[k] = static_cast<T>(static_cast<std::uint32_t>(acc >> have) & mask);
  }
}

}  // namespace

class BlockReader {
 public:
  BlockReader(TiffFile& tif, const StripLayout& layout, StoredImage& image)
      : tif_(tif), layout_(layout), image_(image) {}

  void Run();

 private:
  // A block's own buffer: the rows it stores, which a tile reads into
  // before its place in the image, and the spare row of the conversion.
  struct Scratch {
    StoredImage block;
    std::vector<std::uint8_t> row;
  };

  // Decodes, checks and converts block b into `buffer` at `place`. With
  // `grow`, the buffer grows as its bytes arrive; otherwise it already
  // holds the block's place.
  void ReadBlock(StripDecoder& decoder, std::uint64_t b, StoredImage& buffer, std::size_t place,
                 bool grow, std::vector<std::uint8_t>& row);
  // Decodes block b and puts it in its place in the image, which holds it.
  void ReadAndPlace(StripDecoder& decoder, std::uint64_t b, Scratch& scratch);
  // Uncompressed tiles of whole samples without a predictor: rows copied
  // straight to their places, the padding into `spare`.
  bool CopiesInPlace() const;
  void CopyTile(StripDecoder& decoder, std::uint64_t b, std::vector<std::uint8_t>& spare);
  // The tiles from b on, a row of tiles at a time, each row placed once it
  // is whole.
  void ReadTileRows(StripDecoder& decoder, std::uint64_t b);
  // Copies the part of tile b inside the image from `from` to its place.
  void PlaceTile(std::uint64_t b, const std::uint8_t* from);
  void Convert(std::uint8_t* place, std::uint32_t rows, std::vector<std::uint8_t>& row) const;
  void Reserve(StoredImage& buffer, std::size_t bytes, std::size_t keep) const {
    Allocate([&] { buffer.Reserve(bytes, keep); }, tif_.path(), msg::kNoMemoryForCell);
  }
  // Stored rows of block b: a strip's rows in the image, a tile's length.
  std::uint32_t RowsOf(std::uint64_t b) const {
    if (layout_.tiled) return layout_.tile_length;
    return std::min<std::uint32_t>(block_rows_, layout_.height - static_cast<std::uint32_t>(b) * block_rows_);
  }
  // Blocks 0 to end - 1 in parallel batches; false when that is not worth
  // it.
  bool ReadParallel(std::uint64_t end);

  TiffFile& tif_;
  const StripLayout& layout_;
  StoredImage& image_;
  std::vector<std::uint64_t> offsets_, counts_;
  std::size_t row_size_ = 0;        // bytes of a row of delivered samples of the image
  std::uint32_t block_width_ = 0;   // samples of a block's row
  std::uint32_t block_rows_ = 0;    // rows of a full block
  std::uint64_t across_ = 1;        // blocks side by side
  std::size_t block_row_size_ = 0;  // bytes of a block's row of delivered samples
  std::size_t block_row_bytes_ = 0; // decoded bytes of a block's row
  std::size_t block_size_ = 0;      // bytes of a full block's delivered samples
};

void BlockReader::Run() {
  const std::uint32_t width = layout_.width, height = layout_.height;
  const std::size_t sample = SampleSize(layout_.type);

  // Sizes that cannot be represented are refused as allocation failures.
  const auto row_size = MulSize(width, sample);
  if (!row_size || !MulSize(*row_size, height)) Error(tif_.path(), msg::kNoMemoryForCell);
  row_size_ = *row_size;
  const std::size_t total = row_size_ * height;

  std::uint64_t blocks;
  if (layout_.tiled) {
    block_width_ = layout_.tile_width;
    block_rows_ = layout_.tile_length;
    across_ = (std::uint64_t{width} + block_width_ - 1) / block_width_;
    blocks = across_ * ((std::uint64_t{height} + block_rows_ - 1) / block_rows_);
    offsets_ = tif_.GetStrip(tiff::kTileOffsets, blocks);
    counts_ = tif_.GetStrip(tiff::kTileByteCounts, blocks);
    // The tile tables back every tile; a tile's size, which the file
    // cannot back, must still be representable.
    const auto tile_row = MulSize(block_width_, sample);
    if (!tile_row || !MulSize(*tile_row, block_rows_)) Error(tif_.path(), msg::kNoMemoryForCell);
  } else {
    block_width_ = width;
    block_rows_ = layout_.rows_per_strip;
    blocks = (std::uint64_t{block_rows_} + height - 1) / block_rows_;
    offsets_ = tif_.GetStrip(tiff::kStripOffsets, blocks);
    counts_ = tif_.GetStrip(tiff::kStripByteCounts, blocks);
  }
  block_row_size_ = std::size_t{block_width_} * sample;
  block_row_bytes_ = static_cast<std::size_t>(layout_.DecodedRowSize(block_width_));
  block_size_ = block_row_size_ * block_rows_;

  // The first block that the file cannot supply whole, and the buffer that
  // the blocks before it (and what that strip can deliver) take.
  // The stored blocks of a compressed image are read into memory whole, for
  // decoders on several threads; uncompressed strips are copied on as they
  // are read.
  Input& input = tif_.input();
  if (layout_.compression != Compression::kNone) input.Load();
  std::uint64_t complete = 0;
  std::size_t reserve = 0;
  if (input.regular()) {
    for (; complete < blocks; ++complete) {
      const std::uint64_t offset = offsets_[complete];
      const std::uint64_t stored =
          offset >= input.size() ? 0 : std::min<std::uint64_t>(counts_[complete], input.size() - offset);
      const std::uint64_t bound = DecodableBound(layout_.compression, stored);
      if (bound < std::uint64_t{RowsOf(complete)} * block_row_bytes_) {
        if (!layout_.tiled)
          reserve = complete * block_size_ + static_cast<std::size_t>(std::min<std::uint64_t>(bound, block_size_));
        break;
      }
    }
    if (complete == blocks) reserve = total;
  }
  // Tiles are placed up to the row of tiles that holds the first one that
  // cannot be complete: that row fails before it is whole.
  const std::uint64_t placed = layout_.tiled ? complete / across_ * across_ : complete;
  if (layout_.tiled && complete < blocks)
    reserve = static_cast<std::size_t>(complete / across_) * block_rows_ * row_size_;
  Reserve(image_, reserve, 0);

  std::uint64_t b = 0;
  if (placed > 0 && ReadParallel(placed)) b = placed;
  StripDecoder decoder(input, layout_.compression, layout_.reverse_fill);
  if (layout_.tiled) {
    Scratch scratch;
    for (; b < placed; ++b) ReadAndPlace(decoder, b, scratch);
    ReadTileRows(decoder, b);
  } else {
    std::vector<std::uint8_t> row;
    for (; b < blocks; ++b) ReadBlock(decoder, b, image_, b * block_size_, /*grow=*/b >= complete, row);
  }

  // Only a whole image gets its shape: after a failure the object holds none.
  image_.width_ = static_cast<std::int32_t>(width);
  image_.height_ = static_cast<std::int32_t>(height);
  image_.type_ = layout_.type;
  image_.row_size_ = row_size_;
}

void BlockReader::ReadBlock(StripDecoder& decoder, std::uint64_t b, StoredImage& buffer,
                            std::size_t place, bool grow, std::vector<std::uint8_t>& row) {
  const std::uint32_t rows = RowsOf(b);
  const std::size_t need = rows * block_row_bytes_;
  const std::size_t size = rows * block_row_size_;

  decoder.Init(offsets_[b], counts_[b]);
  if (!grow) {
    assert(place + size <= buffer.capacity_);
    decoder.Decode(buffer.data_ + place, 0, need, size);
  } else {
    // The decoder may look at what it wrote before, so the block's bytes
    // stay in one piece as the buffer grows.
    std::size_t done = 0;
    while (done < need) {
      const std::size_t held = buffer.capacity_ > place ? buffer.capacity_ - place : 0;
      if (held <= done) {
        Reserve(buffer, place + std::min(need, done + std::max(kGrowth, done)), place + done);
        continue;
      }
      const std::size_t to = std::min(need, held);
      decoder.Decode(buffer.data_ + place, done, to, std::min(size, held));
      done = to;
    }
    Reserve(buffer, place + size, place + need);
  }
  decoder.Term();
  Convert(buffer.data_ + place, rows, row);
}

void BlockReader::ReadAndPlace(StripDecoder& decoder, std::uint64_t b, Scratch& scratch) {
  if (!layout_.tiled) {
    ReadBlock(decoder, b, image_, b * block_size_, false, scratch.row);
    return;
  }
  if (CopiesInPlace()) {
    CopyTile(decoder, b, scratch.row);
    return;
  }
  // Within the blocks that the file can supply, so its size is backed.
  Reserve(scratch.block, block_size_, 0);
  ReadBlock(decoder, b, scratch.block, 0, false, scratch.row);
  PlaceTile(b, scratch.block.data_);
}

bool BlockReader::CopiesInPlace() const {
  return layout_.compression == Compression::kNone && layout_.predictor == Predictor::kNone &&
         layout_.kind != SampleKind::kPacked && layout_.kind != SampleKind::kFloat16 &&
         block_row_bytes_ == block_row_size_;
}

void BlockReader::CopyTile(StripDecoder& decoder, std::uint64_t b, std::vector<std::uint8_t>& spare) {
  const std::size_t sample = SampleSize(layout_.type);
  const std::size_t x = static_cast<std::size_t>(b % across_) * block_width_;
  const std::size_t y = static_cast<std::size_t>(b / across_) * block_rows_;
  const std::size_t columns = std::min<std::size_t>(block_width_, layout_.width - x);
  const std::size_t rows = std::min<std::size_t>(block_rows_, layout_.height - y);
  const std::size_t inside = columns * sample, outside = block_row_bytes_ - inside;
  Allocate([&] { spare.resize(block_row_bytes_); }, tif_.path(), msg::kNoMemoryForCell);
  const bool swap = layout_.big_endian != (std::endian::native == std::endian::big);
  decoder.Init(offsets_[b], counts_[b]);
  for (std::size_t r = 0; r < block_rows_; ++r) {
    if (r >= rows) {
      decoder.DecodeTo(spare.data(), block_row_bytes_);
      continue;
    }
    std::uint8_t* const to = image_.data_ + (y + r) * row_size_ + x * sample;
    decoder.DecodeTo(to, inside);
    if (outside != 0) decoder.DecodeTo(spare.data(), outside);
    if (!swap) continue;
    switch (sample) {
      case 2: Swap<std::uint16_t>(to, columns); break;
      case 4: Swap<std::uint32_t>(to, columns); break;
      case 8: Swap<std::uint64_t>(to, columns); break;
      default: break;
    }
  }
  decoder.Term();
}

void BlockReader::ReadTileRows(StripDecoder& decoder, std::uint64_t b) {
  const std::uint64_t blocks = offsets_.size();
  Scratch scratch;
  while (b < blocks) {
    // A row of tiles, or what remains of it, into one buffer that grows
    // with their data; then its rows of the image, and the tiles there.
    const std::uint64_t first = b, last = std::min(blocks, (b / across_ + 1) * across_);
    for (; b < last; ++b) {
      // The tiles before it were decoded into the buffer, so a place
      // beyond any size never comes to be reserved; still, it is checked.
      const auto place = MulSize(static_cast<std::size_t>(b - first), block_size_);
      if (!place) Error(tif_.path(), msg::kNoMemoryForCell);
      ReadBlock(decoder, b, scratch.block, *place, true, scratch.row);
    }
    const std::size_t top = static_cast<std::size_t>(first / across_) * block_rows_;
    const std::size_t bottom = std::min<std::size_t>(layout_.height, top + block_rows_);
    Reserve(image_, bottom * row_size_, top * row_size_);
    for (std::uint64_t t = first; t < last; ++t) PlaceTile(t, scratch.block.data_ + (t - first) * block_size_);
  }
}

void BlockReader::PlaceTile(std::uint64_t b, const std::uint8_t* from) {
  const std::size_t sample = SampleSize(layout_.type);
  const std::size_t x = static_cast<std::size_t>(b % across_) * block_width_;
  const std::size_t y = static_cast<std::size_t>(b / across_) * block_rows_;
  const std::size_t columns = std::min<std::size_t>(block_width_, layout_.width - x);
  const std::size_t rows = std::min<std::size_t>(block_rows_, layout_.height - y);
  assert((y + rows) * row_size_ <= image_.capacity_);
  for (std::size_t r = 0; r < rows; ++r)
    std::memcpy(image_.data_ + (y + r) * row_size_ + x * sample, from + r * block_row_size_, columns * sample);
}

void BlockReader::Convert(std::uint8_t* place, std::uint32_t rows,
                          std::vector<std::uint8_t>& row) const {
  const std::size_t width = block_width_;
  const std::size_t n = width * rows;
  const bool swap = layout_.big_endian != (std::endian::native == std::endian::big);
  const bool diff = layout_.predictor == Predictor::kHorizontal && width > 1;
  auto spare_row = [&] {
    Allocate([&] { row.resize(block_row_bytes_); }, tif_.path(), msg::kNoMemoryForCell);
    return row.data();
  };
  // Predictor 3 leaves whole floating-point samples in the host's order.
  if (layout_.predictor == Predictor::kFloatingPoint) {
    std::uint8_t* spare = spare_row();
    for (std::uint32_t y = 0; y < rows; ++y) {
      std::uint8_t* const r = place + y * block_row_bytes_;
      switch (layout_.bits) {
        case 16: UndoFloatingPoint<2>(r, width, spare); break;
        case 32: UndoFloatingPoint<4>(r, width, spare); break;
        default: UndoFloatingPoint<8>(r, width, spare); break;
      }
    }
  }
  const bool float_swap = swap && layout_.predictor != Predictor::kFloatingPoint;
  switch (layout_.kind) {
    case SampleKind::kInt8:
      if (diff)
        for (std::uint32_t y = 0; y < rows; ++y) Undifference(place + y * width, width, 0xFFu);
      // Widened from the last sample to the first: sample k's two bytes
      // are never below byte k.
      if (layout_.type == SampleType::kUint16) {
        auto* d = reinterpret_cast<std::uint16_t*>(place);
        for (std::size_t k = n; k-- > 0;) d[k] = place[k];
      } else if (layout_.type == SampleType::kInt16) {
        auto* d = reinterpret_cast<std::int16_t*>(place);
        for (std::size_t k = n; k-- > 0;) d[k] = static_cast<std::int8_t>(place[k]);
      }
      break;
    case SampleKind::kInt16:
      ToHostSamples<std::uint16_t>(place, rows, width, swap, diff);
      break;
    case SampleKind::kInt32:
      ToHostSamples<std::uint32_t>(place, rows, width, swap, diff);
      break;
    case SampleKind::kPacked: {
      // Rows from the last to the first: row y's samples lie at or above its
      // decoded bytes and above those of the rows before it. Each row's
      // bytes are set aside before its samples overwrite them.
      const int bits = layout_.bits;
      const std::uint32_t mask = (1u << bits) - 1u;  // bits <= 31
      std::uint8_t* spare = spare_row();
      for (std::uint32_t y = rows; y-- > 0;) {
        std::memcpy(spare, place + y * block_row_bytes_, block_row_bytes_);
        std::uint8_t* out = place + y * block_row_size_;
        if (layout_.type == SampleType::kUint16) {
          auto* d = reinterpret_cast<std::uint16_t*>(out);
          Unpack(spare, d, width, bits);
          if (diff) Undifference(d, width, mask);
        } else {
          auto* d = reinterpret_cast<std::uint32_t*>(out);
          Unpack(spare, d, width, bits);
          if (diff) Undifference(d, width, mask);
        }
      }
      break;
    }
    case SampleKind::kFloat16: {
      if (float_swap) Swap<std::uint16_t>(place, n);
      // Widened from the last sample to the first, as 8-bit samples are.
      const auto* h = reinterpret_cast<const std::uint16_t*>(place);
      auto* d = reinterpret_cast<float*>(place);
      for (std::size_t k = n; k-- > 0;) d[k] = HalfToFloat(h[k]);
      break;
    }
    case SampleKind::kFloat32:
      if (float_swap) Swap<std::uint32_t>(place, n);
      break;
    case SampleKind::kFloat64:
      if (float_swap) Swap<std::uint64_t>(place, n);
      break;
  }
}

bool BlockReader::ReadParallel(std::uint64_t end) {
  // Uncompressed blocks are copies, which memory bandwidth bounds: threads
  // would only add their start.
  if (layout_.compression == Compression::kNone) return false;
  // Two batches or more for every thread, or a thread's start is not worth it.
  const BatchPlan plan{.items = end,
                       .per_batch = std::max<std::size_t>(1, kBatchBytes / std::max<std::size_t>(block_size_, 1)),
                       .batches_per_thread = 2,
                       .most_threads = image_.threads_ != 0 ? image_.threads_ : UsableCpus()};
  if (plan.threads() <= 1) return false;

  struct Slot {
    std::unique_ptr<StripDecoder> decoder;
    Scratch scratch;
  };
  std::vector<Slot> slot(plan.slots());
  Input& input = tif_.input();

  OrderedParallel(
      plan.batches(), slot.size(),
      [&](std::size_t i, std::size_t k) {
        Slot& z = slot[k];
        if (!z.decoder) z.decoder = std::make_unique<StripDecoder>(input, layout_.compression, layout_.reverse_fill);
        for (std::uint64_t b = i * plan.per_batch, last = plan.End(i); b < last; ++b)
          ReadAndPlace(*z.decoder, b, z.scratch);
      },
      [](std::size_t, std::size_t) {}, plan.threads());
  return true;
}

void ReadBlocks(TiffFile& tif, StripLayout& layout, StoredImage& image) {
  ReadTileSize(tif, layout);
  BlockReader(tif, layout, image).Run();
}

}  // namespace pv::reader
