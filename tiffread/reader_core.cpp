#include "tiffread/reader_core.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <type_traits>
#include <cstring>
#include <new>

#include "common/error.h"
#include "common/sizes.h"
#include "tiffread/strip_decoder.h"

namespace pv::rif_core {

namespace {

// Directory bytes are fetched in windows of this size.
constexpr std::size_t kWindow = 64 * 1024;

constexpr char kEndOfFile[] = "unexpected end of file.";

}  // namespace

// ---------------------------------------------------------------------------
// The file and its header.

TiffFile::TiffFile(const char* path) : path_(path), window_(new std::uint8_t[kWindow]) {
  file_ = std::fopen(path, "rb");
  if (file_ == nullptr) Error("file not found.");
  // From here on the destructor does not run if the constructor throws, so
  // the header checks close the file themselves.
  try {
    const int first = GetChar();
    if (first != 'I' && first != 'M') Error("bad magic number.");
    big_endian_ = first == 'M';
    if (GetChar() != first) Error("bad magic number.");
    if (Get2() != 42) Error("bad magic number.");
    ifd_ = Get4();
    if (ifd_ == 0) Error("no image file directory.");
  } catch (...) {
    std::fclose(file_);
    throw;
  }
}

TiffFile::~TiffFile() { std::fclose(file_); }

void TiffFile::Error(const std::string& message) const {
  Fail(std::string(path_) + " : " + message + "\n");
}

void TiffFile::Warning(const std::string& message) const {
  Warn(std::string(path_) + " : " + message + " (warning).\n");
}

int TiffFile::FillWindow() {
  if (std::fseek(file_, static_cast<long>(pos_), SEEK_SET) != 0) Error(kEndOfFile);
  const std::size_t got = std::fread(window_.get(), 1, kWindow, file_);
  if (got == 0) Error(kEndOfFile);
  window_start_ = pos_;
  window_len_ = got;
  ++pos_;
  return window_[0];
}

// The byte-order readers: b0 is the first byte delivered.
unsigned TiffFile::Get2I() {
  const unsigned b0 = static_cast<unsigned>(GetChar());
  return b0 | static_cast<unsigned>(GetChar()) << 8;
}
unsigned TiffFile::Get2M() {
  const unsigned b0 = static_cast<unsigned>(GetChar());
  return b0 << 8 | static_cast<unsigned>(GetChar());
}
std::uint32_t TiffFile::Get4I() {
  const std::uint32_t lo = Get2I();
  return lo | std::uint32_t{Get2I()} << 16;
}
std::uint32_t TiffFile::Get4M() {
  const std::uint32_t hi = Get2M();
  return hi << 16 | Get2M();
}
unsigned TiffFile::Get2() { return big_endian_ ? Get2M() : Get2I(); }
std::uint32_t TiffFile::Get4() { return big_endian_ ? Get4M() : Get4I(); }

// ---------------------------------------------------------------------------
// Directory lookups.

bool TiffFile::LookupTag(unsigned tag) {
  Seek(ifd_);
  const unsigned entries = Get2();
  for (unsigned i = 0; i < entries; ++i) {
    if (Get2() == tag) return true;
    Skip(10);  // type, count and value field of an entry we do not want
  }
  return false;
}

std::uint32_t TiffFile::GetIFD4(unsigned tag, std::uint32_t fallback) {
  if (!LookupTag(tag)) return fallback;
  const unsigned type = Get2();
  if (Get4() != 1) return fallback;
  if (type == 3) return Get2();
  if (type == 4) return Get4();
  return fallback;
}

std::optional<unsigned> TiffFile::GetShort(unsigned tag) {
  if (!LookupTag(tag) || Get2() != 3 || Get4() != 1) return std::nullopt;
  return Get2();
}

std::optional<std::string> TiffFile::ReadDescription() {
  if (!LookupTag(270) || Get2() != 2) return std::nullopt;
  const std::uint32_t n = Get4();
  if (n > 4) Seek(Get4());  // longer texts lie elsewhere; up to 4 bytes in the entry
  // The text and its NUL take n + 1 bytes, which a 32-bit size cannot hold
  // for the largest count.
  if constexpr (sizeof(std::size_t) <= sizeof(std::uint32_t)) {
    if (n == UINT32_MAX) Error("no allocatable memory for image description.");
  }
  // The text grows as its bytes are read, so a count far beyond the file's
  // end costs no memory: it ends in "missing image description." as soon
  // as the file runs out.
  std::string text;
  try {
    text.reserve(std::min<std::size_t>(n, kWindow));
    while (text.size() < n) {
      const std::uint64_t at = pos_ - window_start_;
      if (pos_ < window_start_ || at >= window_len_) {
        if (std::fseek(file_, static_cast<long>(pos_), SEEK_SET) != 0) break;
        const std::size_t got = std::fread(window_.get(), 1, kWindow, file_);
        if (got == 0) break;
        window_start_ = pos_;
        window_len_ = got;
        continue;
      }
      const std::size_t k = std::min<std::size_t>(window_len_ - at, n - text.size());
      text.append(reinterpret_cast<const char*>(window_.get() + at), k);
      pos_ += k;
    }
  } catch (const std::bad_alloc&) {
    Error("no allocatable memory for image description.");
  }
  if (text.size() < n) Error("missing image description.");
  return text;
}

std::vector<std::uint32_t> TiffFile::GetStrip(unsigned tag, std::uint32_t strips,
                                              const char* name) {
  const std::string no_memory = std::string("no allocatable memory for strip ") + name + ".";
  if (!MulSize(strips, sizeof(std::uint32_t))) Error(no_memory);
  // The table grows as its values are read: a count that the file cannot
  // back ends at the file's end, not in a huge allocation.
  std::vector<std::uint32_t> table;
  try {
    table.reserve(std::min<std::uint32_t>(strips, 1u << 16));
    if (!LookupTag(tag)) Error(std::string("missing strip ") + name + ".");
    const unsigned type = Get2();
    if (type != 3 && type != 4) Error(std::string("missing strip ") + name + ".");
    if (Get4() != strips) Error(std::string("bad number of strip ") + name + ".");
    if (type == 3) {
      if (strips > 2) Seek(Get4());
      for (std::uint32_t i = 0; i < strips; ++i) table.push_back(Get2());
    } else {
      if (strips > 1) Seek(Get4());
      for (std::uint32_t i = 0; i < strips; ++i) table.push_back(Get4());
    }
  } catch (const std::bad_alloc&) {
    Error(no_memory);
  }
  return table;
}

// ---------------------------------------------------------------------------
// Directory checks shared by both readers.

void ReadImageSize(TiffFile& tif, std::int32_t* width, std::int32_t* height, bool rows,
                   StripLayout& layout) {
  if (width == nullptr && height == nullptr && !rows) return;
  const std::uint32_t w = tif.GetIFD4(256, 0);
  if (w == 0) tif.Error("missing image size.");
  const std::uint32_t h = tif.GetIFD4(257, 0);
  if (h == 0) tif.Error("missing image size.");
  if ((w | h) & 0x80000000u) tif.Error("too large image size.");
  if (width != nullptr) *width = static_cast<std::int32_t>(w);
  if (height != nullptr) *height = static_cast<std::int32_t>(h);
  layout.width = w;
  layout.height = h;
}

void ReadStripTags(TiffFile& tif, bool floating, StripLayout& layout) {
  layout.compression = Compression::kNone;
  if (auto c = tif.GetShort(259)) {
    if (*c == 5) layout.compression = Compression::kLZW;
    else if (*c == 32773) layout.compression = Compression::kPackBits;
    else if (*c != 1) tif.Error("unknown image compression method.");
  }

  // WhiteIsZero (0), BlackIsZero (1), Palette (3) and transparency mask (4)
  // are accepted; samples are delivered as stored either way.
  const auto photometric = tif.GetShort(262);
  if (!photometric || *photometric > 4 || !((0x1Bu >> *photometric) & 1u))
    tif.Error("bad photometric interpretation.");

  layout.reverse_fill = false;
  if (auto f = tif.GetShort(266)) {
    if (*f == 2) layout.reverse_fill = true;
    else if (*f != 1) tif.Error("unknown fill order.");
  }

  if (auto s = tif.GetShort(277); s && *s != 1) tif.Error("bad samples per pixel.");

  std::uint32_t rows_per_strip = tif.GetIFD4(278, layout.height);
  if (rows_per_strip > layout.height) rows_per_strip = layout.height;
  if (rows_per_strip == 0) tif.Error("bad rows per strip.");
  layout.rows_per_strip = rows_per_strip;

  if (auto p = tif.GetShort(284); p && *p != 1) tif.Error("bad planar configuration.");

  layout.differencing = false;
  if (auto p = tif.GetShort(317)) {
    if (*p == 2) {
      if (floating) tif.Error("unapplicable differencing predictor.");
      layout.differencing = true;
    } else if (*p != 1) {
      tif.Error("unknown differencing predictor.");
    }
  }
}

// ---------------------------------------------------------------------------
// Strip phase.

namespace {

// Samples are converted in chunks of whole bytes: a multiple of 8 samples
// always ends on a byte boundary, whatever the width.
constexpr std::size_t kChunkBytes = 64 * 1024;

// A row whose storage exceeds this many bytes is gathered chunk by chunk in
// growing storage before it is allocated whole, so that a file that
// declares an enormous width but supplies a few bytes fails on its data,
// not on an allocation.
constexpr std::size_t kLargeRow = 64u << 20;

// Turns the decoded bytes of a row into its samples: unpacking, byte order,
// differencing, widening. Chunks of one row are handed over in order; the
// running value of the differencing carries from one chunk to the next.
template <class T>
class SampleConverter {
 public:
  explicit SampleConverter(const StripLayout& layout, bool big_endian)
      : kind_(layout.kind),
        bits_(layout.bits),
        mask_(layout.bits >= 32 ? 0xFFFFFFFFu : (1u << layout.bits) - 1u),
        big_endian_(big_endian),
        swap_(big_endian != (std::endian::native == std::endian::big)),
        differencing_(layout.differencing) {}

  void StartRow() { row_start_ = true; }

  void Convert(const std::uint8_t* s, T* d, std::size_t n) {
    switch (kind_) {
      case SampleKind::kInt8:
        Emit(d, n, [s](std::size_t k) { return std::int32_t{s[k]}; });
        break;
      case SampleKind::kInt16:
        // Loads in host order, turned around when the file's order differs:
        // loops the compiler can vectorise. Samples of up to 16 bits travel
        // as signed 32-bit values, whose conversion to double is one
        // instruction.
        if (swap_)
          Emit(d, n, [s](std::size_t k) {
            return std::int32_t{__builtin_bswap16(Load<std::uint16_t>(s + 2 * k))};
          });
        else
          Emit(d, n, [s](std::size_t k) { return std::int32_t{Load<std::uint16_t>(s + 2 * k)}; });
        break;
      case SampleKind::kInt32:
        if (swap_)
          Emit(d, n, [s](std::size_t k) { return __builtin_bswap32(Load<std::uint32_t>(s + 4 * k)); });
        else
          Emit(d, n, [s](std::size_t k) { return Load<std::uint32_t>(s + 4 * k); });
        break;
      case SampleKind::kPacked: {
        // Most significant bit first; samples straddle bytes freely. The
        // chunk starts on a byte boundary.
        std::uint64_t acc = 0;
        int have = 0;
        const int b = bits_;
        const std::uint32_t mask = mask_;
        Emit(d, n, [&](std::size_t) {
          while (have < b) {
            acc = acc << 8 | *s++;
            have += 8;
          }
          have -= b;
          return static_cast<std::uint32_t>(acc >> have) & mask;
        });
        break;
      }
      case SampleKind::kFloat32:
        if constexpr (std::is_same_v<T, double>) {
          if (big_endian_)
            for (std::size_t k = 0; k < n; ++k) d[k] = GetFM(s + 4 * k);
          else
            for (std::size_t k = 0; k < n; ++k) d[k] = GetFI(s + 4 * k);
        }
        break;
      case SampleKind::kFloat64:
        if constexpr (std::is_same_v<T, double>) {
          if (big_endian_)
            for (std::size_t k = 0; k < n; ++k) d[k] = GetDM(s + 8 * k);
          else
            for (std::size_t k = 0; k < n; ++k) d[k] = GetDI(s + 8 * k);
        }
        break;
    }
  }

 private:
  template <class U>
  static U Load(const std::uint8_t* p) {
    U u;
    std::memcpy(&u, p, sizeof u);
    return u;
  }

  template <class Get>
  inline void Emit(T* d, std::size_t n, Get get) {
    std::size_t k = 0;
    if (!differencing_) {
      for (; k < n; ++k) d[k] = static_cast<T>(get(k));
      return;
    }
    // Horizontal differencing: each sample after the row's first adds to
    // the one before it, modulo 2^bits.
    if (row_start_ && n > 0) {
      value_ = static_cast<std::uint32_t>(get(0));
      d[0] = static_cast<T>(value_);
      row_start_ = false;
      k = 1;
    }
    std::uint32_t v = value_;
    for (; k < n; ++k) {
      v = (v + static_cast<std::uint32_t>(get(k))) & mask_;
      d[k] = static_cast<T>(v);
    }
    value_ = v;
  }

  // The floating-point sample readers: IEEE single or double precision,
  // first byte least significant (I) or most significant (M).
  static std::uint32_t Bits32I(const std::uint8_t* p) {
    return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
  }
  static std::uint32_t Bits32M(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
  }
  static double GetFI(const std::uint8_t* p) { return std::bit_cast<float>(Bits32I(p)); }
  static double GetFM(const std::uint8_t* p) { return std::bit_cast<float>(Bits32M(p)); }
  static double GetDI(const std::uint8_t* p) {
    return std::bit_cast<double>(std::uint64_t{Bits32I(p + 4)} << 32 | Bits32I(p));
  }
  static double GetDM(const std::uint8_t* p) {
    return std::bit_cast<double>(std::uint64_t{Bits32M(p)} << 32 | Bits32M(p + 4));
  }

  SampleKind kind_;
  int bits_;
  std::uint32_t mask_;
  bool big_endian_;
  bool swap_;  // the file's byte order is not the host's
  bool differencing_;
  bool row_start_ = true;
  std::uint32_t value_ = 0;
};

template <class T>
void ReadStripsAs(TiffFile& tif, const StripLayout& layout, RowTable<T>& rows) {
  const std::uint32_t width = layout.width, height = layout.height;
  const std::uint32_t rps = layout.rows_per_strip;
  const unsigned bits = static_cast<unsigned>(layout.bits);

  // Sizes that cannot be represented are refused as allocation failures.
  if (!MulSize(height, sizeof(T*)) || !MulSize(width, sizeof(T)))
    tif.Error("no allocatable memory for cell.");

  const std::uint32_t strips = (rps + height - 1) / rps;
  const std::vector<std::uint32_t> offsets = tif.GetStrip(273, strips, "offset");
  const std::vector<std::uint32_t> counts = tif.GetStrip(279, strips, "bytes count");

  // The decoder carries its LZW tables (some 50 KiB): on the heap, not the stack.
  auto decoder_storage = std::make_unique<StripDecoder>(tif.file(), tif.path(), layout.compression,
                                                        layout.reverse_fill);
  StripDecoder& decoder = *decoder_storage;
  SampleConverter<T> converter(layout, tif.big_endian());

  // Whole bytes per chunk: 8 samples take `bits` bytes.
  const std::size_t chunk_samples = 8 * (kChunkBytes / bits);
  std::unique_ptr<std::uint8_t[]> scratch(new std::uint8_t[kChunkBytes]);
  const std::size_t row_size = std::size_t{width} * sizeof(T);

  RowTable<T> table;
  table.reserve(std::min<std::uint32_t>(height, 1u << 16));
  std::vector<T> large;  // storage of a large row while it is decoded

  for (std::uint32_t j = 0; j < height; ++j) {
    if (j % rps == 0) decoder.Init(offsets[j / rps], counts[j / rps]);

    std::unique_ptr<T[]> row;
    T* dst = nullptr;
    const bool large_row = row_size > kLargeRow;
    if (!large_row) {
      row.reset(new (std::nothrow) T[width]);
      if (!row) tif.Error("no allocatable memory for cell.");
      dst = row.get();
    }

    converter.StartRow();
    for (std::size_t done = 0; done < width;) {
      const std::size_t n = std::min<std::size_t>(chunk_samples, width - done);
      const std::size_t nbytes = (n * bits + 7) / 8;
      const std::uint8_t* src = decoder.DecodeView(nbytes, scratch.get());
      if (large_row) {
        try {
          large.resize(done + n);
        } catch (const std::bad_alloc&) {
          tif.Error("no allocatable memory for cell.");
        }
        dst = large.data();
      }
      converter.Convert(src, dst + done, n);
      done += n;
    }
    if (large_row) {
      row.reset(new (std::nothrow) T[width]);
      if (!row) tif.Error("no allocatable memory for cell.");
      std::memcpy(row.get(), large.data(), row_size);
      large.clear();
    }

    if (j + 1 == height || (j + 1) % rps == 0) decoder.Term();
    try {
      table.push_back(std::move(row));
    } catch (const std::bad_alloc&) {
      tif.Error("no allocatable memory for cell.");
    }
  }
  rows = std::move(table);
}

}  // namespace

void ReadStrips(TiffFile& tif, const StripLayout& layout, RowTable<std::uint16_t>& rows) {
  ReadStripsAs(tif, layout, rows);
}

void ReadStrips(TiffFile& tif, const StripLayout& layout, RowTable<double>& rows) {
  ReadStripsAs(tif, layout, rows);
}

}  // namespace pv::rif_core
