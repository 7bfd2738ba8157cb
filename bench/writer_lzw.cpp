// The LZW encoder and the writers built on it against libtiff, on the same
// CT-like 1024 x 1024 slices and the same strips of about 8 KiB, in one run:
//   Encode/<bits>       the strips alone, our encoder on one thread against
//                       libtiff's TIFFWriteEncodedStrip; 8 and 16 bits are
//                       integer rows, 32 float32 rows (the slice mapped to
//                       values as pvexpand makes them)
//   StoreImageFile/<bits>  the whole integer writer (row bytes, strips on
//                       all CPUs, layout) against libtiff writing the file
//   StoreFloat*         the float writers (conversion from doubles
//                       included) against libtiff converting and writing the
//                       same strips: LZW, uncompressed strips, one strip
// Every case writes a complete file to a scratch directory; bytes processed
// are the uncompressed image bytes. Run under `taskset -c 0` for one CPU.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/row_tables.h"
#include "tiffwrite/lzw_encode.h"

namespace {

using pvtest::StoreRows;
using pvtest::StoreRows_Float;

constexpr std::uint32_t kSide = 1024;

// Outputs go to memory (/dev/shm) where there is one, as in the programs'
// yardstick, so that the figures are the writers' and not the disk's.
std::string ScratchPath() {
  static std::string dir = [] {
    char shm[] = "/dev/shm/pvbench.XXXXXX";
    char tmp[] = "/tmp/pvbench.XXXXXX";
    const char* made = mkdtemp(shm);
    return std::string(made != nullptr ? made : mkdtemp(tmp));
  }();
  return dir + "/out.tif";
}

// A slice like those of a CT scan: dark background, a disc of soft tissue
// with smooth structure and noise, a bright ring; 8 or 12 significant bits.
std::vector<std::uint16_t> CtSlice(int bits) {
  std::mt19937 rng(bits);
  const double top = bits == 8 ? 255 : 4095;
  std::normal_distribution<double> noise(0, bits == 8 ? 1.5 : 25);
  std::vector<std::uint16_t> v;
  for (std::uint32_t y = 0; y < kSide; ++y)
    for (std::uint32_t x = 0; x < kSide; ++x) {
      const double dx = (x - kSide / 2.0) / (kSide / 2.0), dy = (y - kSide / 2.0) / (kSide / 2.0);
      const double r = std::sqrt(dx * dx + dy * dy);
      double s = 0.02 * top;
      if (r < 0.9) s = 0.35 * top + 0.1 * top * std::sin(9 * dx) * std::cos(7 * dy) + noise(rng);
      if (r < 0.88 && r > 0.8) s = 0.8 * top + noise(rng);
      v.push_back(static_cast<std::uint16_t>(std::clamp(std::round(s), 0.0, top)));
    }
  return v;
}

// One slice in every form the cases take, and its strips.
struct Data {
  int bits = 0;  // 8, 16, or 32 (float)
  std::vector<std::uint16_t> samples;
  std::vector<const std::uint16_t*> rows;
  std::vector<double> values;  // the float slice
  std::vector<const double*> value_rows;
  std::vector<std::uint8_t> bytes;  // as stored
  std::uint32_t row_bytes = 0, rows_per_strip = 0;
  std::size_t StripBytes() const { return std::size_t(row_bytes) * rows_per_strip; }
};

const Data& Slice(int bits) {
  static Data d8, d16, d32;
  Data& d = bits == 8 ? d8 : bits == 16 ? d16 : d32;
  if (d.bits != 0) return d;
  d.bits = bits;
  d.samples = CtSlice(bits == 8 ? 8 : 12);
  for (std::uint32_t i = 0; i < kSide; ++i) d.rows.push_back(d.samples.data() + i * kSide);
  for (std::uint16_t s : d.samples) {
    if (bits == 32) {
      const double v = -1000.0 + 0.5 * s;
      d.values.push_back(v);
      const float f = static_cast<float>(v);
      std::uint8_t b[4];
      std::memcpy(b, &f, 4);
      d.bytes.insert(d.bytes.end(), b, b + 4);
    } else {
      d.bytes.push_back(static_cast<std::uint8_t>(s));
      if (bits == 16) d.bytes.push_back(static_cast<std::uint8_t>(s >> 8));
    }
  }
  for (std::uint32_t i = 0; i < kSide && bits == 32; ++i)
    d.value_rows.push_back(d.values.data() + i * kSide);
  d.row_bytes = kSide * bits / 8;
  d.rows_per_strip = std::max<std::uint32_t>(1, 8192 / d.row_bytes);
  return d;
}

void Count(benchmark::State& state, const Data& d) {
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(d.bytes.size()));
}

// Our encoder on the slice's strips, one thread, each strip compressed into
// memory and written to the file as the writers do.
void Encode_Ours(benchmark::State& state) {
  const Data& d = Slice(int(state.range(0)));
  pv::LzwEncoder encoder;
  std::vector<std::uint8_t> room(pv::LzwEncoder::WorstCaseBytes(d.StripBytes()) +
                                 pv::LzwEncoder::kSlack);
  std::uint64_t total = 0;
  for (auto _ : state) {
    std::FILE* f = std::fopen(ScratchPath().c_str(), "wb");
    total = 0;
    for (std::size_t at = 0; at < d.bytes.size(); at += d.StripBytes()) {
      encoder.StartStrip(room.data());
      encoder.EncodeBlock(d.bytes.data() + at, std::min(d.StripBytes(), d.bytes.size() - at));
      const std::size_t n = encoder.EndStrip();
      std::fwrite(room.data(), 1, n, f);
      total += n;
    }
    std::fclose(f);
  }
  Count(state, d);
  state.counters["ratio"] = double(d.bytes.size()) / double(total);
}

// libtiff writing the same strips (no predictor). With `from_doubles` the strips
// are converted from doubles first, as a float writer has to.
void WriteWithLibtiff(const Data& d, int compression, bool from_doubles) {
  TIFF* tif = TIFFOpen(ScratchPath().c_str(), "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kSide);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kSide);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, d.bits);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, d.bits == 32 ? SAMPLEFORMAT_IEEEFP : SAMPLEFORMAT_UINT);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, d.rows_per_strip);
  static std::vector<std::uint8_t> strip;  // libtiff may encode in place
  strip.resize(d.StripBytes());
  for (std::size_t at = 0, k = 0; at < d.bytes.size(); at += d.StripBytes(), ++k) {
    const std::size_t n = std::min(d.StripBytes(), d.bytes.size() - at);
    if (from_doubles) {
      float* f = reinterpret_cast<float*>(strip.data());
      for (std::size_t i = 0; i < n / 4; ++i) f[i] = static_cast<float>(d.values[at / 4 + i]);
    } else {
      std::memcpy(strip.data(), d.bytes.data() + at, n);
    }
    TIFFWriteEncodedStrip(tif, std::uint32_t(k), strip.data(), tmsize_t(n));
  }
  TIFFClose(tif);
}

void Encode_Libtiff(benchmark::State& state) {
  const Data& d = Slice(int(state.range(0)));
  for (auto _ : state) WriteWithLibtiff(d, COMPRESSION_LZW, false);
  Count(state, d);
}

void StoreImageFile_Ours(benchmark::State& state) {
  const Data& d = Slice(int(state.range(0)));
  for (auto _ : state)
    StoreRows(ScratchPath().c_str(), kSide, kSide, d.bits, d.rows.data(), nullptr);
  Count(state, d);
}

void StoreFloat_OursLzw(benchmark::State& state) {
  const Data& d = Slice(32);
  for (auto _ : state)
    StoreRows_Float(ScratchPath().c_str(), kSide, kSide, d.value_rows.data(),
                             pv::SIF_F_desc, pv::FloatLayout::kLzwStrips);
  Count(state, d);
}

void StoreFloat_LibtiffLzw(benchmark::State& state) {
  const Data& d = Slice(32);
  for (auto _ : state) WriteWithLibtiff(d, COMPRESSION_LZW, true);
  Count(state, d);
}

void StoreFloat_OursNolzw(benchmark::State& state) {
  const Data& d = Slice(32);
  for (auto _ : state)
    StoreRows_Float(ScratchPath().c_str(), kSide, kSide, d.value_rows.data(),
                             pv::SIF_F_desc, pv::FloatLayout::kStrips);
  Count(state, d);
}

void StoreFloat_OursFast(benchmark::State& state) {
  const Data& d = Slice(32);
  for (auto _ : state)
    StoreRows_Float(ScratchPath().c_str(), kSide, kSide, d.value_rows.data(),
                             pv::SIF_F_desc, pv::FloatLayout::kOneStrip);
  Count(state, d);
}

void StoreFloat_LibtiffNone(benchmark::State& state) {
  const Data& d = Slice(32);
  for (auto _ : state) WriteWithLibtiff(d, COMPRESSION_NONE, true);
  Count(state, d);
}

}  // namespace

// The encoders on one thread: CPU time. The writers use all CPUs: wall-clock
// time.
BENCHMARK(Encode_Ours)->Arg(8)->Arg(16)->Arg(32);
BENCHMARK(Encode_Libtiff)->Arg(8)->Arg(16)->Arg(32);
BENCHMARK(StoreImageFile_Ours)->Arg(8)->Arg(16)->UseRealTime();
BENCHMARK(StoreFloat_OursLzw)->UseRealTime();
BENCHMARK(StoreFloat_LibtiffLzw)->UseRealTime();
BENCHMARK(StoreFloat_OursNolzw)->UseRealTime();
BENCHMARK(StoreFloat_OursFast)->UseRealTime();
BENCHMARK(StoreFloat_LibtiffNone)->UseRealTime();
BENCHMARK_MAIN();
