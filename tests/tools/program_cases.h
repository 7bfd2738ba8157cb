// What the tests of the programs share: the refusal a row of a failure
// table expects, images read back by libtiff and by our readers at once,
// range lines and the values of raw volumes; with it come the support
// headers for files, libtiff, row tables and running a program.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "common/tiff.h"
#include "tests/support/files.h"
#include "tests/support/libtiff_oracle.h"
#include "tests/support/row_tables.h"
#include "tests/support/run_program.h"

namespace pvtest {

// A run a program refuses: exit status 1, standard error `err` exactly, or
// starting with it when `prefix` (a reader's message after the file name),
// and nothing on standard output unless a result line came before the
// failure.
struct Refusal {
  const char* name;
  std::vector<std::string> args;
  std::string err;
  bool prefix = false;
  std::string out = {};
};

inline void ExpectRefused(const RunResult& r, const std::string& err, bool prefix = false,
                          const std::string& out = {}) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(prefix ? r.err.substr(0, err.size()) : r.err, err) << r.err;
}

// Runs every row in `cwd`; after each, no file of `unwritten` exists.
inline void ExpectRefusals(const std::string& program, const std::vector<Refusal>& rows,
                           const std::string& cwd = {},
                           const std::vector<std::string>& unwritten = {}) {
  for (const Refusal& c : rows) {
    SCOPED_TRACE(program + ": " + c.name);
    ExpectRefused(RunProgram(program, c.args, "", cwd), c.err, c.prefix, c.out);
    for (const std::string& path : unwritten) EXPECT_FALSE(Exists(path)) << path;
  }
}

// The image at `path` by libtiff, which must report nothing, and by our
// reader (the integer one, or for T double the float one, of a float
// image), which must agree with it in size, depth and every value.
template <class T>
LibtiffImage ReadBack(const std::string& path) {
  LibtiffImage img = ReadWithLibtiff(path);
  EXPECT_LIBTIFF_CLEAN(img);
  std::int32_t w = 0, h = 0;
  int bits = 32;
  RowTable<T> rows;
  if constexpr (std::is_same_v<T, double>) {
    EXPECT_EQ(img.sample_format, pv::tiff::kSampleIEEEFloat);
    EXPECT_EQ(ReadRows_Float(path.c_str(), &w, &h, &rows, nullptr), 0);
  } else {
    ReadRows(path.c_str(), &w, &h, &bits, &rows, nullptr);
  }
  EXPECT_EQ(std::uint32_t(w), img.width);
  EXPECT_EQ(std::uint32_t(h), img.height);
  EXPECT_EQ(bits, img.bits);
  std::vector<double> ours;
  for (std::int32_t i = 0; i < h && std::size_t(i) < rows.size(); ++i)
    ours.insert(ours.end(), rows[i].get(), rows[i].get() + w);
  EXPECT_EQ(ours, img.values) << "our reader and libtiff differ";
  return img;
}

// Every page of `path` by libtiff, which must report nothing, and by our
// page reader, which must find as many pages and agree on every value and
// description.
template <class T>
std::vector<LibtiffImage> ReadBackPages(const std::string& path) {
  std::vector<LibtiffImage> pages = ReadPagesWithLibtiff(path);
  pv::TiffPages ours(path.c_str());
  for (std::size_t k = 0; k < pages.size(); ++k) {
    SCOPED_TRACE("page " + std::to_string(k + 1));
    EXPECT_LIBTIFF_CLEAN(pages[k]);
    if (k > 0 && !ours.Next()) {
      ADD_FAILURE() << "our reader ends at page " << k;
      break;
    }
    pv::StoredImage image;
    std::optional<std::string> description;
    if constexpr (std::is_same_v<T, double>) pv::ReadPage_Float(ours, nullptr, nullptr, &image, &description);
    else pv::ReadPage(ours, nullptr, nullptr, nullptr, &image, &description);
    std::vector<double> values;
    for (const auto& row : row_tables::Copy<T>(path.c_str(), image))
      values.insert(values.end(), row.get(), row.get() + image.width());
    EXPECT_EQ(values, pages[k].values) << "our reader and libtiff differ";
    if (description && !description->empty() && description->back() == '\0') description->pop_back();
    EXPECT_EQ(description, pages[k].description);
  }
  EXPECT_FALSE(ours.Next()) << "our reader finds more pages than libtiff";
  return pages;
}

// The smallest and the largest finite value (NaN both when there are none).
inline std::pair<double, double> FiniteRange(const std::vector<double>& values) {
  double lo = NAN, hi = NAN;
  for (double v : values)
    if (std::isfinite(v)) {
      lo = std::isnan(lo) || v < lo ? v : lo;
      hi = std::isnan(hi) || v > hi ? v : hi;
    }
  return {lo, hi};
}

// The range line of the finite values ("nan\tnan" when there are none),
// without its newline.
inline std::string RangeLine(const std::vector<double>& values) {
  const auto [lo, hi] = FiniteRange(values);
  char text[128];
  std::snprintf(text, sizeof text, "%lf\t%lf", lo, hi);
  return text;
}

// The values of a raw volume (as bytes) after its header line `header`;
// none when the size is not that of `count` values.
inline std::vector<double> VolumeValues(const std::string& volume, const std::string& header,
                                        std::size_t count) {
  EXPECT_EQ(volume.substr(0, header.size()), header);
  EXPECT_EQ(volume.size(), header.size() + 8 * count);
  if (volume.size() != header.size() + 8 * count) return {};
  std::vector<double> v(count);
  std::memcpy(v.data(), volume.data() + header.size(), 8 * count);
  return v;
}

// Equal values and equal bits: tells -0 from 0 and takes NaN for NaN.
inline bool SameBits(const std::vector<double>& a, const std::vector<double>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), 8 * a.size()) == 0;
}

}  // namespace pvtest
