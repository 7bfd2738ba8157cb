// Decoding speed of our readers against libtiff's on the same CT-like
// files, measured in one run: 8-bit and 16-bit slices, uncompressed and
// LZW, written by libtiff with its default strip size. Each side delivers
// the same result: a table of separately allocated rows (16-bit samples,
// or doubles for the float reader).
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tiffread/rif.h"
#include "tiffread/rif_f.h"

namespace {

constexpr std::uint32_t kSize = 1024;  // a 1024 x 1024 slice

// A CT-like slice: air outside a round body, soft tissue with a little
// structure, a few bright bone rings, and acquisition noise.
std::vector<std::uint16_t> Slice(int bits) {
  std::mt19937 rng(42);
  std::normal_distribution<double> noise(0, bits == 8 ? 2.0 : 12.0);
  const double top = (1 << bits) - 1;
  std::vector<std::uint16_t> v(std::size_t(kSize) * kSize);
  for (std::uint32_t y = 0; y < kSize; ++y)
    for (std::uint32_t x = 0; x < kSize; ++x) {
      const double dx = (x - kSize / 2.0) / (kSize / 2.0), dy = (y - kSize / 2.0) / (kSize / 2.0);
      const double r = std::sqrt(dx * dx + dy * dy);
      double f = 0.02;                                              // air
      if (r < 0.9) f = 0.45 + 0.03 * std::sin(9 * dx) * std::cos(7 * dy);  // tissue
      if (std::fabs(r - 0.8) < 0.04 || std::fabs(r - 0.3) < 0.02) f = 0.9;  // bone
      const double s = std::round(f * top + noise(rng));
      v[std::size_t(y) * kSize + x] = static_cast<std::uint16_t>(std::clamp(s, 0.0, top));
    }
  return v;
}

std::string Write(int bits, std::uint16_t compression) {
  const std::string path = "/tmp/pv_reader_bench." + std::to_string(getpid()) + "." +
                           std::to_string(bits) + "." + std::to_string(compression) + ".tif";
  const std::vector<std::uint16_t> v = Slice(bits);
  TIFF* t = TIFFOpen(path.c_str(), "w");
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, kSize);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, kSize);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(t, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
  std::vector<std::uint8_t> row(kSize * (bits / 8));
  for (std::uint32_t y = 0; y < kSize; ++y) {
    for (std::uint32_t x = 0; x < kSize; ++x) {
      const std::uint16_t s = v[std::size_t(y) * kSize + x];
      if (bits == 8) row[x] = static_cast<std::uint8_t>(s);
      else std::memcpy(&row[2 * x], &s, 2);
    }
    TIFFWriteScanline(t, row.data(), y, 0);
  }
  TIFFClose(t);
  return path;
}

struct Files {
  std::string none8 = Write(8, COMPRESSION_NONE), lzw8 = Write(8, COMPRESSION_LZW);
  std::string none16 = Write(16, COMPRESSION_NONE), lzw16 = Write(16, COMPRESSION_LZW);
  ~Files() {
    for (const auto* p : {&none8, &lzw8, &none16, &lzw16}) unlink(p->c_str());
  }
  const std::string& Get(int bits, bool lzw) const {
    return bits == 8 ? (lzw ? lzw8 : none8) : (lzw ? lzw16 : none16);
  }
};

const Files& TheFiles() {
  static const Files files;
  return files;
}

void SetBytes(benchmark::State& state) {
  state.SetBytesProcessed(std::int64_t(state.iterations()) * kSize * kSize * (state.range(0) / 8));
  state.SetLabel(std::string(state.range(1) ? "lzw " : "none ") + std::to_string(state.range(0)) +
                 "-bit");
}

void BM_Ours(benchmark::State& state) {
  const std::string& path = TheFiles().Get(int(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    pv::RowTable<std::uint16_t> rows;
    pv::ReadImageFile(path.c_str(), nullptr, nullptr, nullptr, &rows, nullptr);
    benchmark::DoNotOptimize(rows.data());
  }
  SetBytes(state);
}

void BM_Ours_Float(benchmark::State& state) {
  const std::string& path = TheFiles().Get(int(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    pv::RowTable<double> rows;
    pv::ReadImageFile_Float(path.c_str(), nullptr, nullptr, &rows, nullptr);
    benchmark::DoNotOptimize(rows.data());
  }
  SetBytes(state);
}

// libtiff: every strip decoded with TIFFReadEncodedStrip, then its rows
// copied into separately allocated rows of T.
template <class T>
void LibtiffRead(const std::string& path, pv::RowTable<T>& rows) {
  TIFF* t = TIFFOpen(path.c_str(), "r");
  std::uint32_t w = 0, h = 0, rps = 0;
  std::uint16_t bits = 0;
  TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(t, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(t, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rps);
  std::vector<std::uint8_t> strip(static_cast<std::size_t>(TIFFStripSize(t)));
  rows.reserve(h);
  for (std::uint32_t s = 0, y = 0; y < h; ++s) {
    TIFFReadEncodedStrip(t, s, strip.data(), static_cast<tmsize_t>(strip.size()));
    for (std::uint32_t r = 0; r < rps && y < h; ++r, ++y) {
      std::unique_ptr<T[]> row(new T[w]);
      if (bits == 8) {
        const std::uint8_t* p = strip.data() + std::size_t(r) * w;
        for (std::uint32_t k = 0; k < w; ++k) row[k] = static_cast<T>(p[k]);
      } else {
        const std::uint16_t* p = reinterpret_cast<const std::uint16_t*>(strip.data()) + std::size_t(r) * w;
        for (std::uint32_t k = 0; k < w; ++k) row[k] = static_cast<T>(p[k]);
      }
      rows.push_back(std::move(row));
    }
  }
  TIFFClose(t);
}

void BM_Libtiff(benchmark::State& state) {
  const std::string& path = TheFiles().Get(int(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    pv::RowTable<std::uint16_t> rows;
    LibtiffRead(path, rows);
    benchmark::DoNotOptimize(rows.data());
  }
  SetBytes(state);
}

void BM_Libtiff_Float(benchmark::State& state) {
  const std::string& path = TheFiles().Get(int(state.range(0)), state.range(1) != 0);
  for (auto _ : state) {
    pv::RowTable<double> rows;
    LibtiffRead(path, rows);
    benchmark::DoNotOptimize(rows.data());
  }
  SetBytes(state);
}

void Args(benchmark::internal::Benchmark* b) {
  for (int lzw : {0, 1})
    for (int bits : {8, 16}) b->Args({bits, lzw});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_Ours)->Apply(Args);
BENCHMARK(BM_Libtiff)->Apply(Args);
BENCHMARK(BM_Ours_Float)->Apply(Args);
BENCHMARK(BM_Libtiff_Float)->Apply(Args);

}  // namespace

BENCHMARK_MAIN();
