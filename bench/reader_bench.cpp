// Decoding speed of our reader against libtiff's on the same CT-like files,
// measured in one run: 1024 x 1024 slices of 8-bit and 16-bit integers and
// of 32-bit floats, uncompressed, LZW and Deflate (with the horizontal
// predictor for integers, the floating-point one for floats), written by
// libtiff with its default strip size (about 8 KiB), and the same images
// in tiles of 256 x 256, uncompressed and Deflate.
//
//  - Decoder: every strip of the file decoded into one buffer, on one
//    thread. Ours: the strip decoder over the file in memory; libtiff:
//    TIFFReadEncodedStrip over its own mapping of the file.
//  - Image: the whole image read from its path into memory, samples as
//    stored, as a stack reader does it slice after slice (the buffer kept
//    from one read to the next). Ours: ReadImageFile_Float into a
//    StoredImage, on one thread and on every usable CPU; libtiff: open, the
//    strips into one buffer (tiles into a tile buffer, each then copied to
//    its place), close.
//  - Fresh: the same with fresh memory for every image, as a program that
//    reads one image has it.
//  - Rows: the image as rows of doubles through the row-table entry point,
//    against libtiff's strips converted to rows of doubles.
//  - Size: header and directory only, for the image's size.
//  - Stack: 48 slices as one file of 48 pages, every page read whole into
//    one image (ours: the pages walked with TiffPages; libtiff: its
//    TIFFReadDirectory loop), against the same 48 slices as files (ours),
//    read as a stack reader reads them.
//
// Throughput counts decoded bytes; times are wall-clock.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tests/support/image_access.h"
#include "tests/support/row_tables.h"
#include "tiffread/input.h"
#include "tiffread/rif_f.h"
#include "tiffread/strip_decoder.h"

namespace {

constexpr std::uint32_t kSize = 1024;  // a 1024 x 1024 slice

// CT-like content in 0..1: air inside a round field of view, a round body of
// soft tissue with a little structure, a few bright bone rings; nothing
// outside the field of view.
double Content(std::uint32_t x, std::uint32_t y) {
  const double dx = (x - kSize / 2.0) / (kSize / 2.0), dy = (y - kSize / 2.0) / (kSize / 2.0);
  const double r = std::sqrt(dx * dx + dy * dy);
  double f = 0.02;                                                      // air
  if (r < 0.9) f = 0.45 + 0.03 * std::sin(9 * dx) * std::cos(7 * dy);  // tissue
  if (std::fabs(r - 0.8) < 0.04 || std::fabs(r - 0.3) < 0.02) f = 0.9;  // bone
  return f;
}

bool InView(std::uint32_t x, std::uint32_t y) {
  const double dx = (x - kSize / 2.0) / (kSize / 2.0), dy = (y - kSize / 2.0) / (kSize / 2.0);
  return dx * dx + dy * dy < 0.98 * 0.98;
}

// One row of samples as stored, with acquisition noise inside the field of
// view and zeros outside: `bits` 8 or 16 (integers), or 32 (floats: linear
// attenuation per cm, 0 to about 0.45, noise 0.006).
std::vector<std::uint8_t> Row(int bits, std::uint32_t y, std::mt19937& rng) {
  std::vector<std::uint8_t> row(kSize * (bits / 8));
  if (bits == 32) {
    std::normal_distribution<double> noise(0, 0.006);
    for (std::uint32_t x = 0; x < kSize; ++x) {
      const float v = InView(x, y) ? static_cast<float>(0.5 * Content(x, y) + noise(rng)) : 0.0f;
      std::memcpy(&row[4 * x], &v, 4);
    }
    return row;
  }
  const double top = (1 << bits) - 1;
  std::normal_distribution<double> noise(0, bits == 8 ? 2.0 : 12.0);
  for (std::uint32_t x = 0; x < kSize; ++x) {
    const double s = InView(x, y) ? std::clamp(std::round(Content(x, y) * top + noise(rng)), 0.0, top) : 0;
    if (bits == 8) row[x] = static_cast<std::uint8_t>(s);
    else {
      const auto u = static_cast<std::uint16_t>(s);
      std::memcpy(&row[2 * x], &u, 2);
    }
  }
  return row;
}

// How a file is coded: its compression, in strips or in tiles.
enum Coding { kNone, kLzw, kDeflate, kDeflateTiles, kNoneTiles, kCodings };
constexpr const char* kCodingNames[kCodings] = {"none ", "lzw ", "deflate ", "deflate tiles ", "none tiles "};
constexpr std::uint32_t kTile = 256;

bool Tiled(int coding) { return coding == kDeflateTiles || coding == kNoneTiles; }

// The tags of one image of `coding`, as the current directory of `t`.
void SetTags(TIFF* t, int bits, int coding) {
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kSize);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, kSize);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, bits == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  const bool deflate = coding == kDeflate || coding == kDeflateTiles;
  TIFFSetField(t, TIFFTAG_COMPRESSION,
               deflate ? COMPRESSION_ADOBE_DEFLATE : coding == kLzw ? COMPRESSION_LZW : COMPRESSION_NONE);
  if (deflate) TIFFSetField(t, TIFFTAG_PREDICTOR, bits == 32 ? PREDICTOR_FLOATINGPOINT : PREDICTOR_HORIZONTAL);
}

// A file of `pages` images (tiled files: one), each its own noise.
std::string Write(int bits, int coding, int pages = 1) {
  const std::string path = "/tmp/pv_reader_bench." + std::to_string(getpid()) + "." +
                           std::to_string(bits) + "." + std::to_string(coding) + "." +
                           std::to_string(pages) + ".tif";
  std::mt19937 rng(42);
  TIFF* t = TIFFOpen(path.c_str(), "w");
  for (int page = 0; page < pages; ++page) {
    SetTags(t, bits, coding);
    if (!Tiled(coding)) {
      TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
      for (std::uint32_t y = 0; y < kSize; ++y) TIFFWriteScanline(t, Row(bits, y, rng).data(), y, 0);
      if (pages > 1) TIFFWriteDirectory(t);
      continue;
    }
    TIFFSetField(t, TIFFTAG_TILEWIDTH, kTile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, kTile);
    const std::size_t sample = bits / 8, row_bytes = kSize * sample, tile_row = kTile * sample;
    std::vector<std::uint8_t> image;
    for (std::uint32_t y = 0; y < kSize; ++y) {
      const std::vector<std::uint8_t> row = Row(bits, y, rng);
      image.insert(image.end(), row.begin(), row.end());
    }
    std::vector<std::uint8_t> tile(tile_row * kTile);
    for (std::uint32_t ty = 0, k = 0; ty < kSize; ty += kTile)
      for (std::uint32_t tx = 0; tx < kSize; tx += kTile, ++k) {
        for (std::uint32_t r = 0; r < kTile; ++r)
          std::memcpy(tile.data() + r * tile_row, image.data() + (ty + r) * row_bytes + tx * sample, tile_row);
        TIFFWriteEncodedTile(t, k, tile.data(), static_cast<tmsize_t>(tile.size()));
      }
    break;
  }
  TIFFClose(t);
  return path;
}

class Files {
 public:
  ~Files() {
    for (const auto& p : paths_) unlink(p.c_str());
    for (const auto& p : stacks_) unlink(p.c_str());
    for (const auto& v : slices_)
      for (const auto& p : v) unlink(p.c_str());
  }
  const std::string& Get(int bits, int coding) {
    const int k = (bits / 16) * kCodings + coding;
    if (paths_[k].empty()) paths_[k] = Write(bits, coding);
    return paths_[k];
  }
  // The stack in one file, and its 48 slices as files.
  const std::string& Stack(int bits, int coding) {
    const int k = (bits / 16) * kCodings + coding;
    if (stacks_[k].empty()) stacks_[k] = Write(bits, coding, kPages);
    return stacks_[k];
  }
  const std::vector<std::string>& Slices(int bits, int coding) {
    const int k = (bits / 16) * kCodings + coding;
    if (slices_[k].empty()) {
      // Each page of the stack as a file of its own (tiffsplit's way, by
      // hand): libtiff copies the strips as they are stored.
      TIFF* in = TIFFOpen(Stack(bits, coding).c_str(), "r");
      int page = 0;
      do {
        const std::string path = Stack(bits, coding) + "." + std::to_string(page++);
        TIFF* out = TIFFOpen(path.c_str(), "w");
        std::uint32_t w = 0, h = 0, rps = 0;
        std::uint16_t b = 0, f = 0, c = 0;
        TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(in, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetField(in, TIFFTAG_BITSPERSAMPLE, &b);
        TIFFGetFieldDefaulted(in, TIFFTAG_SAMPLEFORMAT, &f);
        TIFFGetField(in, TIFFTAG_COMPRESSION, &c);
        TIFFGetField(in, TIFFTAG_ROWSPERSTRIP, &rps);
        TIFFSetField(out, TIFFTAG_IMAGEWIDTH, w);
        TIFFSetField(out, TIFFTAG_IMAGELENGTH, h);
        TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, b);
        TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(out, TIFFTAG_SAMPLEFORMAT, f);
        TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(out, TIFFTAG_COMPRESSION, c);
        TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, rps);
        std::vector<std::uint8_t> raw;
        for (tstrip_t s = 0; s < TIFFNumberOfStrips(in); ++s) {
          raw.resize(static_cast<std::size_t>(TIFFGetStrileByteCount(in, s)));
          TIFFReadRawStrip(in, s, raw.data(), static_cast<tmsize_t>(raw.size()));
          TIFFWriteRawStrip(out, s, raw.data(), static_cast<tmsize_t>(raw.size()));
        }
        TIFFClose(out);
        slices_[k].push_back(path);
      } while (TIFFReadDirectory(in));
      TIFFClose(in);
    }
    return slices_[k];
  }
  static constexpr int kPages = 48;

 private:
  std::string paths_[3 * kCodings], stacks_[3 * kCodings];
  std::vector<std::string> slices_[3 * kCodings];
};

// The whole image with libtiff into `image`: strips one after the other,
// or each tile into `tile` and its rows to their places.
void ReadWithLibtiff(TIFF* t, std::uint8_t* image, std::size_t size, int bits, std::vector<std::uint8_t>& tile) {
  if (!TIFFIsTiled(t)) {
    const tstrip_t n = TIFFNumberOfStrips(t);
    std::size_t at = 0;
    for (tstrip_t s = 0; s < n; ++s)
      at += static_cast<std::size_t>(TIFFReadEncodedStrip(t, s, image + at, static_cast<tmsize_t>(size - at)));
    return;
  }
  const std::size_t sample = bits / 8, row_bytes = kSize * sample, tile_row = kTile * sample;
  tile.resize(tile_row * kTile);
  for (std::uint32_t ty = 0, k = 0; ty < kSize; ty += kTile)
    for (std::uint32_t tx = 0; tx < kSize; tx += kTile, ++k) {
      TIFFReadEncodedTile(t, k, tile.data(), static_cast<tmsize_t>(tile.size()));
      for (std::uint32_t r = 0; r < kTile; ++r)
        std::memcpy(image + (ty + r) * row_bytes + tx * sample, tile.data() + r * tile_row, tile_row);
    }
}

Files& TheFiles() {
  static Files files;
  return files;
}

void Label(benchmark::State& state, const char* extra = "") {
  state.SetBytesProcessed(std::int64_t(state.iterations()) * kSize * kSize * (state.range(0) / 8));
  state.SetLabel(std::string(kCodingNames[state.range(1)]) + std::to_string(state.range(0)) +
                 (state.range(0) == 32 ? "-bit float" : "-bit") + extra);
}

// The strip tables of a file, as libtiff reads them.
struct Strips {
  std::vector<std::uint32_t> offsets, counts;
  std::size_t strip_size = 0;
  std::uint16_t compression = COMPRESSION_NONE;
};

Strips StripsOf(const std::string& path) {
  Strips s;
  TIFF* t = TIFFOpen(path.c_str(), "r");
  const tstrip_t n = TIFFNumberOfStrips(t);
  for (tstrip_t i = 0; i < n; ++i) {
    s.offsets.push_back(static_cast<std::uint32_t>(TIFFGetStrileOffset(t, i)));
    s.counts.push_back(static_cast<std::uint32_t>(TIFFGetStrileByteCount(t, i)));
  }
  s.strip_size = static_cast<std::size_t>(TIFFStripSize(t));
  TIFFGetField(t, TIFFTAG_COMPRESSION, &s.compression);
  TIFFClose(t);
  return s;
}

void BM_Decoder_Ours(benchmark::State& state) {
  const std::string& path = TheFiles().Get(int(state.range(0)), int(state.range(1)));
  const Strips strips = StripsOf(path);
  pv::reader::Input input(path.c_str());
  input.Load();
  using pv::reader::Compression;
  pv::reader::StripDecoder decoder(input,
                                     strips.compression == COMPRESSION_LZW           ? Compression::kLZW
                                     : strips.compression == COMPRESSION_ADOBE_DEFLATE ? Compression::kDeflate
                                                                                       : Compression::kNone,
                                     false);
  std::vector<std::uint8_t> image(std::size_t(kSize) * kSize * (state.range(0) / 8));
  for (auto _ : state) {
    std::size_t at = 0;
    for (std::size_t s = 0; s < strips.offsets.size(); ++s) {
      const std::size_t n = std::min(strips.strip_size, image.size() - at);
      decoder.Init(strips.offsets[s], strips.counts[s]);
      decoder.Decode(image.data() + at, 0, n, image.size() - at);
      decoder.Term();
      at += n;
    }
    benchmark::DoNotOptimize(image.data());
  }
  Label(state);
}

void BM_Decoder_Libtiff(benchmark::State& state) {
  const std::string& path = TheFiles().Get(int(state.range(0)), int(state.range(1)));
  TIFF* t = TIFFOpen(path.c_str(), "r");
  const tstrip_t n = TIFFNumberOfStrips(t);
  std::vector<std::uint8_t> image(std::size_t(kSize) * kSize * (state.range(0) / 8));
  for (auto _ : state) {
    std::size_t at = 0;
    for (tstrip_t s = 0; s < n; ++s)
      at += static_cast<std::size_t>(
          TIFFReadEncodedStrip(t, s, image.data() + at, static_cast<tmsize_t>(image.size() - at)));
    benchmark::DoNotOptimize(image.data());
  }
  TIFFClose(t);
  Label(state);
}

void BM_Image_Ours(benchmark::State& state) {
  const std::string& path = TheFiles().Get(int(state.range(0)), int(state.range(1)));
  pv::StoredImage image;
  pv::StoredImageAccess::SetThreads(image, static_cast<unsigned>(state.range(2)));
  for (auto _ : state) {
    pv::ReadImageFile_Float(path.c_str(), nullptr, nullptr, &image, nullptr);
    benchmark::DoNotOptimize(image.RowData(0));
  }
  Label(state, state.range(2) == 1 ? ", one thread" : ", all CPUs");
}

// A program that reads one image gets fresh memory for it: the same read
// into a new image object (ours), or into a new mapping (libtiff's side).
void BM_Fresh_Ours(benchmark::State& state) {
  const std::string& path = TheFiles().Get(int(state.range(0)), int(state.range(1)));
  for (auto _ : state) {
    pv::StoredImage image;
    pv::StoredImageAccess::SetThreads(image, static_cast<unsigned>(state.range(2)));
    pv::ReadImageFile_Float(path.c_str(), nullptr, nullptr, &image, nullptr);
    benchmark::DoNotOptimize(image.RowData(0));
  }
  Label(state, state.range(2) == 1 ? ", one thread" : ", all CPUs");
}

void BM_Fresh_Libtiff(benchmark::State& state) {
  const std::string& path = TheFiles().Get(int(state.range(0)), int(state.range(1)));
  const std::size_t size = std::size_t(kSize) * kSize * (state.range(0) / 8);
  std::vector<std::uint8_t> tile;
  for (auto _ : state) {
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    auto* image = static_cast<std::uint8_t*>(p);
    TIFF* t = TIFFOpen(path.c_str(), "r");
    ReadWithLibtiff(t, image, size, int(state.range(0)), tile);
    TIFFClose(t);
    benchmark::DoNotOptimize(image);
    munmap(p, size);
  }
  Label(state);
}

void BM_Image_Libtiff(benchmark::State& state) {
  const std::string& path = TheFiles().Get(int(state.range(0)), int(state.range(1)));
  std::vector<std::uint8_t> image(std::size_t(kSize) * kSize * (state.range(0) / 8)), tile;
  for (auto _ : state) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    ReadWithLibtiff(t, image.data(), image.size(), int(state.range(0)), tile);
    TIFFClose(t);
    benchmark::DoNotOptimize(image.data());
  }
  Label(state);
}

void BM_Rows_Ours(benchmark::State& state) {
  const std::string& path = TheFiles().Get(int(state.range(0)), int(state.range(1)));
  for (auto _ : state) {
    pvtest::RowTable<double> rows;
    pvtest::ReadRows_Float(path.c_str(), nullptr, nullptr, &rows, nullptr);
    benchmark::DoNotOptimize(rows.data());
  }
  Label(state);
}

// libtiff: every strip decoded with TIFFReadEncodedStrip, then its rows
// converted into separately allocated rows of doubles.
void BM_Rows_Libtiff(benchmark::State& state) {
  const std::string& path = TheFiles().Get(int(state.range(0)), int(state.range(1)));
  const int bits = int(state.range(0));
  for (auto _ : state) {
    pvtest::RowTable<double> rows;
    TIFF* t = TIFFOpen(path.c_str(), "r");
    std::uint32_t rps = 0;
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rps);
    std::vector<std::uint8_t> strip(static_cast<std::size_t>(TIFFStripSize(t)));
    rows.reserve(kSize);
    for (std::uint32_t s = 0, y = 0; y < kSize; ++s) {
      TIFFReadEncodedStrip(t, s, strip.data(), static_cast<tmsize_t>(strip.size()));
      for (std::uint32_t r = 0; r < rps && y < kSize; ++r, ++y) {
        std::unique_ptr<double[]> row(new double[kSize]);
        const std::uint8_t* p = strip.data() + std::size_t(r) * kSize * (bits / 8);
        for (std::uint32_t k = 0; k < kSize; ++k) {
          if (bits == 8) row[k] = p[k];
          else if (bits == 16) row[k] = reinterpret_cast<const std::uint16_t*>(p)[k];
          else row[k] = reinterpret_cast<const float*>(p)[k];
        }
        rows.push_back(std::move(row));
      }
    }
    TIFFClose(t);
    benchmark::DoNotOptimize(rows.data());
  }
  Label(state);
}

// The size of a slice only (header and directory), as a stack reader asks
// for it before it reads the slices.
void BM_Size_Ours(benchmark::State& state) {
  const std::string& path = TheFiles().Get(16, kLzw);
  std::int32_t w = 0, h = 0;
  for (auto _ : state) {
    pv::ReadImageFile_Float(path.c_str(), &w, &h, nullptr, nullptr);
    benchmark::DoNotOptimize(w + h);
  }
}

void BM_Size_Libtiff(benchmark::State& state) {
  const std::string& path = TheFiles().Get(16, kLzw);
  std::uint32_t w = 0, h = 0;
  for (auto _ : state) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
    TIFFClose(t);
    benchmark::DoNotOptimize(w + h);
  }
}

// Strips only: the decoder benchmarks.
void StripFiles(benchmark::internal::Benchmark* b) {
  for (int coding : {kLzw, kNone, kDeflate})
    for (int bits : {8, 16, 32}) b->Args({bits, coding});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

void StackLabel(benchmark::State& state, const char* extra) {
  Label(state, extra);
  state.SetBytesProcessed(state.bytes_processed() * Files::kPages);
}

void BM_Stack_Ours(benchmark::State& state) {
  const std::string& path = TheFiles().Stack(int(state.range(0)), int(state.range(1)));
  pv::StoredImage image;
  for (auto _ : state) {
    pv::TiffPages pages(path.c_str());
    do {
      pv::ReadPage_Float(pages, nullptr, nullptr, &image, nullptr);
      benchmark::DoNotOptimize(image.RowData(0));
    } while (pages.Next());
  }
  StackLabel(state, ", 48 pages in one file");
}

void BM_Stack_Slices_Ours(benchmark::State& state) {
  const std::vector<std::string>& paths = TheFiles().Slices(int(state.range(0)), int(state.range(1)));
  pv::StoredImage image;
  for (auto _ : state) {
    for (const std::string& path : paths) {
      pv::ReadImageFile_Float(path.c_str(), nullptr, nullptr, &image, nullptr);
      benchmark::DoNotOptimize(image.RowData(0));
    }
  }
  StackLabel(state, ", the 48 pages as files");
}

void BM_Stack_Libtiff(benchmark::State& state) {
  const std::string& path = TheFiles().Stack(int(state.range(0)), int(state.range(1)));
  std::vector<std::uint8_t> image(std::size_t(kSize) * kSize * (state.range(0) / 8));
  for (auto _ : state) {
    TIFF* t = TIFFOpen(path.c_str(), "r");
    do {
      const tstrip_t n = TIFFNumberOfStrips(t);
      std::size_t at = 0;
      for (tstrip_t s = 0; s < n; ++s)
        at += static_cast<std::size_t>(
            TIFFReadEncodedStrip(t, s, image.data() + at, static_cast<tmsize_t>(image.size() - at)));
      benchmark::DoNotOptimize(image.data());
    } while (TIFFReadDirectory(t));
    TIFFClose(t);
  }
  StackLabel(state, ", 48 pages in one file");
}

void Files2(benchmark::internal::Benchmark* b) {
  for (int coding : {kLzw, kNone, kDeflate, kDeflateTiles, kNoneTiles})
    for (int bits : {8, 16, 32}) b->Args({bits, coding});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

// Stacks of 48 pages in strips.
void StackFiles(benchmark::internal::Benchmark* b) {
  for (int coding : {kLzw, kNone})
    for (int bits : {8, 16, 32}) b->Args({bits, coding});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

void Threads(benchmark::internal::Benchmark* b) {
  for (int coding : {kLzw, kNone, kDeflate, kDeflateTiles, kNoneTiles})
    for (int bits : {8, 16, 32})
      for (int threads : {1, 0}) b->Args({bits, coding, threads});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_Decoder_Ours)->Apply(StripFiles);
BENCHMARK(BM_Decoder_Libtiff)->Apply(StripFiles);
BENCHMARK(BM_Image_Ours)->Apply(Threads);
BENCHMARK(BM_Image_Libtiff)->Apply(Files2);
BENCHMARK(BM_Fresh_Ours)->Apply(Threads);
BENCHMARK(BM_Fresh_Libtiff)->Apply(Files2);
BENCHMARK(BM_Rows_Ours)->Apply(StripFiles);
BENCHMARK(BM_Rows_Libtiff)->Apply(StripFiles);
BENCHMARK(BM_Size_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Size_Libtiff)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Stack_Ours)->Apply(StackFiles);
BENCHMARK(BM_Stack_Slices_Ours)->Apply(StackFiles);
BENCHMARK(BM_Stack_Libtiff)->Apply(StackFiles);

}  // namespace

BENCHMARK_MAIN();
