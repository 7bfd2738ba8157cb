// The LZW encoder and the writers built on it against libtiff, on the same
// CT-like 512 x 512 slices in one run:
//   Encode_*          the strips of 8 KiB alone (encoder + buffered output)
//   StoreImageFile_*  the whole integer writer (row bytes, strips, layout)
//   EncodeFloat_Ours  the encoder alone on the float slice's bytes
//   StoreFloat_*      the full float writer, LZW and uncompressed builds
// Every case writes a complete file to a scratch directory; bytes processed
// are the uncompressed image bytes.
#include <benchmark/benchmark.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tiffwrite/lzw_encode.h"
#include "tiffwrite/sif.h"
#include "tiffwrite/sif_f.h"
#include <cstdio>

namespace {

constexpr int kSide = 512;

std::string ScratchPath() {
  static std::string dir = [] {
    char templ[] = "/tmp/pvbench.XXXXXX";
    return std::string(mkdtemp(templ));
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
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      const double dx = (x - kSide / 2.0) / (kSide / 2.0), dy = (y - kSide / 2.0) / (kSide / 2.0);
      const double r = std::sqrt(dx * dx + dy * dy);
      double s = 0.02 * top;
      if (r < 0.9) s = 0.35 * top + 0.1 * top * std::sin(9 * dx) * std::cos(7 * dy) + noise(rng);
      if (r < 0.88 && r > 0.8) s = 0.8 * top + noise(rng);
      v.push_back(static_cast<std::uint16_t>(std::clamp(std::round(s), 0.0, top)));
    }
  return v;
}

// The slice as stored: one byte per sample (8 bits) or two, low first.
std::vector<std::uint8_t> StoredBytes(const std::vector<std::uint16_t>& s, int bits) {
  std::vector<std::uint8_t> out;
  for (std::uint16_t v : s) {
    out.push_back(static_cast<std::uint8_t>(v));
    if (bits == 16) out.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  return out;
}

struct Data {
  int bits;
  std::vector<std::uint16_t> samples;
  std::vector<std::uint8_t> bytes;
  std::vector<const std::uint16_t*> rows;
  std::uint32_t row_bytes, rows_per_strip;
};

const Data& Slice(int bits) {
  static Data d8, d16;
  Data& d = bits == 8 ? d8 : d16;
  if (d.samples.empty()) {
    d.bits = bits;
    d.samples = CtSlice(bits == 8 ? 8 : 12);
    d.bytes = StoredBytes(d.samples, bits);
    for (int i = 0; i < kSide; ++i) d.rows.push_back(d.samples.data() + std::size_t(i) * kSide);
    d.row_bytes = kSide * bits / 8;
    d.rows_per_strip = 8192 / d.row_bytes;
  }
  return d;
}

// Our encoder on the same strips, each compressed into memory and written
// to the file as the writers do.
void EncodeStrips(const std::vector<std::uint8_t>& bytes, std::size_t strip,
                  std::uint64_t* out_bytes) {
  static pv::LzwEncoder encoder;
  static std::vector<std::uint8_t> room(pv::LzwEncoder::WorstCaseBytes(strip) +
                                        pv::LzwEncoder::kSlack);
  if (room.size() < pv::LzwEncoder::WorstCaseBytes(strip) + pv::LzwEncoder::kSlack)
    room.resize(pv::LzwEncoder::WorstCaseBytes(strip) + pv::LzwEncoder::kSlack);
  std::FILE* f = std::fopen(ScratchPath().c_str(), "wb");
  std::uint64_t total = 0;
  for (std::size_t at = 0; at < bytes.size(); at += strip) {
    encoder.InitLZWEncode(room.data());
    encoder.EncodeBlock(bytes.data() + at, std::min(strip, bytes.size() - at));
    const std::size_t n = encoder.TermLZWEncode();
    std::fwrite(room.data(), 1, n, f);
    total += n;
  }
  std::fclose(f);
  if (out_bytes != nullptr) *out_bytes = total;
}

void Encode_Ours(benchmark::State& state) {
  const Data& d = Slice(int(state.range(0)));
  std::uint64_t out_bytes = 0;
  for (auto _ : state) EncodeStrips(d.bytes, std::size_t(d.row_bytes) * d.rows_per_strip, &out_bytes);
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(d.bytes.size()));
  state.counters["ratio"] = double(d.bytes.size()) / double(out_bytes);
}

// libtiff writing the same strips with its LZW encoder (no predictor).
void WriteWithLibtiff(const std::vector<std::uint8_t>& bytes, std::uint32_t width,
                      std::uint32_t height, int bits, int format, std::uint32_t rows_per_strip,
                      int compression) {
  TIFF* tif = TIFFOpen(ScratchPath().c_str(), "w");
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, format);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
  const std::size_t strip = bytes.size() / height * rows_per_strip;
  std::vector<std::uint8_t> copy(bytes);  // libtiff may encode in place
  for (std::size_t at = 0, k = 0; at < copy.size(); at += strip, ++k)
    TIFFWriteEncodedStrip(tif, std::uint32_t(k), copy.data() + at,
                          tmsize_t(std::min(strip, copy.size() - at)));
  TIFFClose(tif);
}

void Encode_Libtiff(benchmark::State& state) {
  const Data& d = Slice(int(state.range(0)));
  for (auto _ : state)
    WriteWithLibtiff(d.bytes, kSide, kSide, d.bits, SAMPLEFORMAT_UINT, d.rows_per_strip,
                     COMPRESSION_LZW);
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(d.bytes.size()));
}

void StoreImageFile_Ours(benchmark::State& state) {
  const Data& d = Slice(int(state.range(0)));
  for (auto _ : state)
    pv::StoreImageFile(ScratchPath().c_str(), kSide, kSide, d.bits, d.rows.data(), nullptr);
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(d.bytes.size()));
}

// Float slices: the 16-bit slice mapped to values, as pvexpand makes them.
struct FloatData {
  std::vector<double> values;
  std::vector<const double*> rows;
  std::vector<std::uint8_t> bytes;  // as stored: little-endian floats
};
const FloatData& FloatSlice() {
  static FloatData f;
  if (f.values.empty()) {
    for (std::uint16_t s : Slice(16).samples) f.values.push_back(-1000.0 + 0.5 * s);
    for (int i = 0; i < kSide; ++i) f.rows.push_back(f.values.data() + std::size_t(i) * kSide);
    for (double v : f.values) {
      const float x = static_cast<float>(v);
      std::uint8_t b[4];
      std::memcpy(b, &x, 4);
      f.bytes.insert(f.bytes.end(), b, b + 4);
    }
  }
  return f;
}

// The encoder alone on the float slice's stored bytes, strips of 8 KiB as
// the full writer makes them: the writer's LZW build should cost this plus
// the conversion and the extremes pass.
void EncodeFloat_Ours(benchmark::State& state) {
  const FloatData& f = FloatSlice();
  for (auto _ : state) EncodeStrips(f.bytes, 8192, nullptr);
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(f.bytes.size()));
}

void StoreFloat_OursLzw(benchmark::State& state) {
  const FloatData& f = FloatSlice();
  for (auto _ : state)
    pv::sif_f_full_lzw::StoreImageFile_Float(ScratchPath().c_str(), kSide, kSide, f.rows.data(),
                                             pv::SIF_F_desc);
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(f.bytes.size()));
}

void StoreFloat_LibtiffLzw(benchmark::State& state) {
  const FloatData& f = FloatSlice();
  for (auto _ : state)
    WriteWithLibtiff(f.bytes, kSide, kSide, 32, SAMPLEFORMAT_IEEEFP, 4, COMPRESSION_LZW);
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(f.bytes.size()));
}

void StoreFloat_OursNolzw(benchmark::State& state) {
  const FloatData& f = FloatSlice();
  for (auto _ : state)
    pv::sif_f_full_nolzw::StoreImageFile_Float(ScratchPath().c_str(), kSide, kSide,
                                               f.rows.data(), pv::SIF_F_desc);
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(f.bytes.size()));
}

void StoreFloat_LibtiffNone(benchmark::State& state) {
  const FloatData& f = FloatSlice();
  for (auto _ : state)
    WriteWithLibtiff(f.bytes, kSide, kSide, 32, SAMPLEFORMAT_IEEEFP, 4, COMPRESSION_NONE);
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(f.bytes.size()));
}

}  // namespace

BENCHMARK(Encode_Ours)->Arg(8)->Arg(16);
BENCHMARK(Encode_Libtiff)->Arg(8)->Arg(16);
BENCHMARK(StoreImageFile_Ours)->Arg(8)->Arg(16);
BENCHMARK(EncodeFloat_Ours);
BENCHMARK(StoreFloat_OursLzw);
BENCHMARK(StoreFloat_LibtiffLzw);
BENCHMARK(StoreFloat_OursNolzw);
BENCHMARK(StoreFloat_LibtiffNone);
BENCHMARK_MAIN();
