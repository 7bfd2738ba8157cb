// Running both readers on a file in-process and collecting what a user
// would see: the fatal line, the warning lines, and the image; crafted
// files in a scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fatal.h"
#include "tests/support/files.h"
#include "tests/support/row_tables.h"
#include "tests/support/tiff_builder.h"
#include "tiffread/rif.h"
#include "tiffread/rif_f.h"

namespace pvtest {

namespace tiff = pv::tiff;
using B = TiffBuilder;

// A scratch file holding `bytes` (none: not there), removed with its
// directory.
struct TempTiff {
  TempDir dir;
  const std::string path = dir / "in.tif";
  explicit TempTiff(const std::optional<Bytes>& bytes = std::nullopt) {
    if (bytes) WriteFile(path, *bytes);
  }
};

// The entries of an 8-bit BlackIsZero image of width x height, no strips.
inline B GreyEntries(std::uint32_t width, std::uint32_t height) {
  B b;
  b.Long(tiff::kImageWidth, width).Long(tiff::kImageLength, height).Short(tiff::kBitsPerSample, 8);
  b.Short(tiff::kPhotometricInterpretation, tiff::kBlackIsZero);
  return b;
}

struct ReadResult {
  std::string error;     // the fatal line without "<path> : " and newline; empty on success
  std::string warnings;  // every warning line, "<path> : " stripped
  int result = -1;       // ReadImageFile_Float's result, or ReadImageFile's bits
  std::int32_t width = -1, height = -1;
  std::vector<double> values;  // row by row
  std::optional<std::string> description;
};

inline std::string StripPath(const std::string& text, const std::string& path) {
  std::string out, prefix = path + " : ";
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (line.rfind(prefix, 0) == 0) line = line.substr(prefix.size());
    out += line + "\n";
    at = end + 1;
  }
  return out;
}

// Runs one reader call, capturing its fatal line (path stripped, newline
// dropped), its warnings and the rows it delivered.
template <class T, class Call>
ReadResult Collect(const std::string& path, Call call) {
  ReadResult r;
  RowTable<T> table;
  testing::internal::CaptureStderr();
  r.error = StripPath(FatalLine([&] { call(r, table); }), path);
  if (!r.error.empty()) r.error.pop_back();  // the newline
  r.warnings = StripPath(testing::internal::GetCapturedStderr(), path);
  for (const auto& row : table)
    for (std::int32_t k = 0; k < r.width; ++k) r.values.push_back(row[k]);
  return r;
}

// ReadImageFile_Float with every output requested (rows only when `rows`).
inline ReadResult ReadFloat(const std::string& path, bool rows = true) {
  return Collect<double>(path, [&](ReadResult& r, RowTable<double>& table) {
    r.result = ReadRows_Float(path.c_str(), &r.width, &r.height, rows ? &table : nullptr,
                              &r.description);
  });
}

// ReadImageFile with every output requested (rows only when `rows`), its
// samples (uint16, or int16 when signed) as doubles.
inline ReadResult ReadInt(const std::string& path, bool rows = true) {
  return Collect<double>(path, [&](ReadResult& r, RowTable<double>& table) {
    if (!rows) return ReadRows(path.c_str(), &r.width, &r.height, &r.result, nullptr, &r.description);
    pv::StoredImage image;
    pv::ReadImageFile(path.c_str(), &r.width, &r.height, &r.result, &image, &r.description);
    table = row_tables::Copy<double>(path.c_str(), image);
  });
}

// Values as exact text ("%a"), so that NaNs compare equal and -0 differs
// from +0.
inline std::vector<std::string> Exact(const std::vector<double>& values) {
  std::vector<std::string> out;
  for (double v : values) {
    char text[64];
    std::snprintf(text, sizeof text, "%a", v);
    out.push_back(text);
  }
  return out;
}

using Strings = std::vector<std::string>;

// What both readers said, rows requested: ReadImageFile_Float's fatal line,
// ReadImageFile's, then the warnings of each.
inline Strings Messages(const ReadResult& f, const ReadResult& i) {
  return {f.error, i.error, f.warnings, i.warnings};
}

// Both readers on a file of `bits`-bit samples (IEEE floating point when
// `floating`) that reads cleanly: ReadImageFile_Float delivers `values` and
// returns the bits (0 for floating point); ReadImageFile does the same, or
// refuses more than 16 bits and floating point (a half for its sample
// format). Returns the float read.
inline ReadResult ExpectClean(const std::string& path, int bits, bool floating,
                              const std::vector<double>& values) {
  const ReadResult f = ReadFloat(path), i = ReadInt(path);
  const bool refused = floating || bits > 16;
  const char* refusal = bits > 16 ? "bad bits per sample." : "unknown sample format.";
  EXPECT_EQ(Messages(f, i), (Strings{"", refused ? refusal : "", "", ""}));
  EXPECT_EQ(f.result, floating ? 0 : bits);
  EXPECT_EQ(Exact(f.values), Exact(values));
  if (!refused) {
    EXPECT_EQ(i.result, bits);
    EXPECT_EQ(i.values, values);
  }
  return f;
}

// The message of a Deflate file where the suite is built without its
// decoder, else `message`.
inline const char* DeflateOr(const char* message) {
#ifdef PV_HAVE_DEFLATE
  return message;
#else
  (void)message;
  return "unknown image compression method.";
#endif
}
inline constexpr bool kDeflateRead =
#ifdef PV_HAVE_DEFLATE
    true;
#else
    false;
#endif

}  // namespace pvtest
