// The strip phase: each strip decoded straight into its place in the
// image's buffer, then turned into samples there.
//
// Strip s holds rows s·R to s·R + R − 1 (R rows per strip, fewer in the last
// strip), whose samples occupy bytes s·R·W to (s + 1)·R·W − 1 of the buffer
// (W the row size of the delivered samples). The strip's decoded bytes (rows
// of whole bytes, at most W each) are written from the start of that place
// and converted in place: byte order turned to the host's, packed samples
// unpacked, narrow samples widened (from the last to the first, so that no
// decoded byte is overwritten before it is read), and horizontal
// differencing undone.
//
// Memory follows the data the file can supply. For a regular file each
// strip's decoded size is bounded by its stored bytes that lie in the file
// (uncompressed: as many; PackBits: 64 times as many; LZW: a code of at
// least 9 bits stands for at most as many bytes as codes came before it,
// and at most 3839). The buffer is allocated once up to the first strip that
// cannot be complete (which must fail), and that far strips may be decoded
// in parallel. From there on, and for a file of unknown size (a pipe, a
// device), the buffer grows as decoded bytes arrive. A regular file that
// shrinks while it is read ends at its new end, as a short file does.
//
// In parallel, batches of consecutive strips are decoded on worker threads;
// the pool prints each batch's warnings and throws its failure in strip
// order on the calling thread, exactly where a run on one thread would have
// printed them.
#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <memory>
#include <new>

#include "common/error.h"
#include "common/messages.h"
#include "common/parallel.h"
#include "common/sizes.h"
#include "tiffread/reader_core.h"
#include "tiffread/strip_decoder.h"

namespace pv::rif_core {

namespace {


// Work per parallel batch, in bytes of delivered samples.
constexpr std::size_t kBatchBytes = 512 * 1024;

// Decoded bytes the buffer grows by at least, when it grows with the data.
constexpr std::size_t kGrowth = 1 << 20;

// The most bytes that `stored` bytes of a strip can decode to.
std::uint64_t DecodableBound(Compression compression, std::uint64_t stored) {
  switch (compression) {
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

class StripReader {
 public:
  StripReader(TiffFile& tif, const StripLayout& layout, StoredImage& image)
      : tif_(tif), layout_(layout), image_(image) {}

  void Run();

 private:
  // Decodes, checks and converts strip s. With `grow`, the buffer grows as
  // its bytes arrive; otherwise it already holds the strip's place.
  void ReadStrip(StripDecoder& decoder, std::uint32_t s, bool grow, std::vector<std::uint8_t>& row);
  void Convert(std::uint8_t* place, std::uint32_t rows, std::vector<std::uint8_t>& row) const;
  void Reserve(std::size_t bytes, std::size_t keep) {
    if (!image_.Reserve(bytes, keep)) Error(tif_.path(), msg::kNoMemoryForCell);
  }
  std::uint32_t RowsOf(std::uint32_t s) const {
    return std::min(layout_.rows_per_strip, layout_.height - s * layout_.rows_per_strip);
  }
  // Strips 0 to end - 1 in parallel batches; false when that is not worth it.
  bool ReadParallel(std::uint32_t end);

  TiffFile& tif_;
  const StripLayout& layout_;
  StoredImage& image_;
  std::vector<std::uint64_t> offsets_, counts_;
  std::size_t row_size_ = 0;     // bytes of a row of delivered samples
  std::size_t row_bytes_ = 0;    // decoded bytes of a row
  std::size_t strip_size_ = 0;   // bytes of a full strip's place
};

void StripReader::Run() {
  const std::uint32_t width = layout_.width, height = layout_.height;
  const std::uint32_t rps = layout_.rows_per_strip;
  const std::size_t sample = SampleSize(layout_.type);

  // Sizes that cannot be represented are refused as allocation failures.
  const auto row_size = MulSize(width, sample);
  if (!row_size || !MulSize(*row_size, height)) Error(tif_.path(), msg::kNoMemoryForCell);
  row_size_ = *row_size;
  row_bytes_ = static_cast<std::size_t>(layout_.DecodedRowSize());
  strip_size_ = row_size_ * rps;
  const std::size_t total = row_size_ * height;

  const std::uint32_t strips = (rps + height - 1) / rps;
  offsets_ = tif_.GetStrip(tiff::kStripOffsets, strips);
  counts_ = tif_.GetStrip(tiff::kStripByteCounts, strips);

  // The first strip that the file cannot supply whole, and the buffer that
  // the strips before it (and what that strip can deliver) take.
  // The stored strips of a compressed image are read into memory whole, for
  // decoders on several threads; uncompressed strips are copied on as they
  // are read.
  Input& input = tif_.input();
  if (layout_.compression != Compression::kNone) input.Load();
  std::uint32_t complete = 0;
  std::size_t reserve = 0;
  if (input.regular()) {
    for (; complete < strips; ++complete) {
      const std::uint64_t offset = offsets_[complete];
      const std::uint64_t stored =
          offset >= input.size() ? 0 : std::min<std::uint64_t>(counts_[complete], input.size() - offset);
      const std::uint64_t bound = DecodableBound(layout_.compression, stored);
      if (bound < std::uint64_t{RowsOf(complete)} * row_bytes_) {
        reserve = complete * strip_size_ + static_cast<std::size_t>(std::min<std::uint64_t>(bound, strip_size_));
        break;
      }
    }
    if (complete == strips) reserve = total;
  }
  Reserve(reserve, 0);

  std::uint32_t s = 0;
  if (complete > 0 && ReadParallel(complete)) s = complete;
  StripDecoder decoder(input, layout_.compression, layout_.reverse_fill);
  std::vector<std::uint8_t> row;
  for (; s < strips; ++s) ReadStrip(decoder, s, /*grow=*/s >= complete, row);

  // Only a whole image gets its shape: after a failure the object holds none.
  image_.width_ = static_cast<std::int32_t>(width);
  image_.height_ = static_cast<std::int32_t>(height);
  image_.type_ = layout_.type;
  image_.row_size_ = row_size_;
}

void StripReader::ReadStrip(StripDecoder& decoder, std::uint32_t s, bool grow,
                            std::vector<std::uint8_t>& row) {
  const std::uint32_t rows = RowsOf(s);
  const std::size_t place = std::size_t{s} * strip_size_;
  const std::size_t need = rows * row_bytes_;
  const std::size_t size = rows * row_size_;

  decoder.Init(offsets_[s], counts_[s]);
  if (!grow) {
    assert(place + size <= image_.capacity_);
    decoder.Decode(image_.data_ + place, 0, need, size);
  } else {
    // The decoder may look at what it wrote before, so the strip's bytes
    // stay in one piece as the buffer grows.
    std::size_t done = 0;
    while (done < need) {
      const std::size_t held = image_.capacity_ > place ? image_.capacity_ - place : 0;
      if (held <= done) {
        Reserve(place + std::min(need, done + std::max(kGrowth, done)), place + done);
        continue;
      }
      const std::size_t to = std::min(need, held);
      decoder.Decode(image_.data_ + place, done, to, std::min(size, held));
      done = to;
    }
    Reserve(place + size, place + need);
  }
  decoder.Term();
  Convert(image_.data_ + place, rows, row);
}

void StripReader::Convert(std::uint8_t* place, std::uint32_t rows,
                          std::vector<std::uint8_t>& row) const {
  const std::size_t width = layout_.width;
  const std::size_t n = width * rows;
  const bool swap = layout_.big_endian != (std::endian::native == std::endian::big);
  const bool diff = layout_.differencing && width > 1;
  switch (layout_.kind) {
    case SampleKind::kInt8:
      if (diff)
        for (std::uint32_t y = 0; y < rows; ++y) Undifference(place + y * width, width, 0xFFu);
      if (layout_.type == SampleType::kUint16) {
        // Widened from the last sample to the first: sample k's two bytes
        // are never below byte k.
        auto* d = reinterpret_cast<std::uint16_t*>(place);
        for (std::size_t k = n; k-- > 0;) d[k] = place[k];
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
      try {
        row.resize(row_bytes_);
      } catch (const std::bad_alloc&) {
        Error(tif_.path(), msg::kNoMemoryForCell);
      }
      for (std::uint32_t y = rows; y-- > 0;) {
        std::memcpy(row.data(), place + y * row_bytes_, row_bytes_);
        std::uint8_t* out = place + y * row_size_;
        if (layout_.type == SampleType::kUint16) {
          auto* d = reinterpret_cast<std::uint16_t*>(out);
          Unpack(row.data(), d, width, bits);
          if (diff) Undifference(d, width, mask);
        } else {
          auto* d = reinterpret_cast<std::uint32_t*>(out);
          Unpack(row.data(), d, width, bits);
          if (diff) Undifference(d, width, mask);
        }
      }
      break;
    }
    case SampleKind::kFloat32:
      if (swap) Swap<std::uint32_t>(place, n);
      break;
    case SampleKind::kFloat64:
      if (swap) Swap<std::uint64_t>(place, n);
      break;
  }
}

bool StripReader::ReadParallel(std::uint32_t end) {
  // Uncompressed strips are copies, which memory bandwidth bounds: threads
  // would only add their start.
  if (layout_.compression == Compression::kNone) return false;
  const std::uint32_t per_batch =
      static_cast<std::uint32_t>(std::max<std::size_t>(1, kBatchBytes / std::max<std::size_t>(strip_size_, 1)));
  const std::size_t batches = (std::size_t{end} + per_batch - 1) / per_batch;
  // Two batches or more for every thread, or a thread's start is not worth it.
  const unsigned threads = static_cast<unsigned>(
      std::min<std::size_t>(image_.threads_ != 0 ? image_.threads_ : UsableCpus(), batches / 2));
  if (threads <= 1) return false;

  const std::size_t slots = 2 * std::size_t{threads};
  struct Slot {
    std::unique_ptr<StripDecoder> decoder;
    std::vector<std::uint8_t> row;
  };
  std::vector<Slot> slot(slots);
  Input& input = tif_.input();

  OrderedParallel(
      batches, slots,
      [&](std::size_t i, std::size_t k) {
        Slot& z = slot[k];
        if (!z.decoder) z.decoder = std::make_unique<StripDecoder>(input, layout_.compression, layout_.reverse_fill);
        const auto first = static_cast<std::uint32_t>(i * per_batch);
        const std::uint32_t last = std::min(end, first + per_batch);
        for (std::uint32_t s = first; s < last; ++s) ReadStrip(*z.decoder, s, false, z.row);
      },
      [](std::size_t, std::size_t) {}, threads);
  return true;
}

void ReadStrips(TiffFile& tif, const StripLayout& layout, StoredImage& image) {
  StripReader(tif, layout, image).Run();
}

}  // namespace pv::rif_core
