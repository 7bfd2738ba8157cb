// pvsplit run as a user runs it: arguments, files, standard streams, exit
// status; every slice file checked with libtiff.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/libtiff_oracle.h"
#include "tests/support/run_program.h"

namespace {

using pvtest::RunProgram;
using pvtest::TempDir;
using pvtest::VolumeBytes;

std::vector<double> Ramp(std::size_t n, double start, double step) {
  std::vector<double> v;
  for (std::size_t i = 0; i < n; ++i) v.push_back(start + step * double(i));
  return v;
}

TEST(Pvsplit, OneSliceFromAFile) {
  TempDir dir;
  std::vector<double> values = Ramp(12, -1, 0.5);
  pvtest::WriteFile(dir / "v.bin", VolumeBytes("4\t3\n", values));
  auto r = RunProgram("pvsplit", {"v.bin", "s%03d.tif"}, "", dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "-1.000000\t4.500000\n");
  EXPECT_EQ(r.err, "");
  pvtest::LibtiffImage img = pvtest::ReadWithLibtiff(dir / "s000.tif");
  EXPECT_LIBTIFF_CLEAN(img);
  EXPECT_EQ(img.width, 4u);
  EXPECT_EQ(img.height, 3u);
  EXPECT_EQ(img.values, values);
  EXPECT_EQ(img.description, "-1.000000\t4.500000");
}

TEST(Pvsplit, SlicesCarryTheirOwnRangeAndTheLineTheWhole) {
  TempDir dir;
  // Three 2 x 2 slices; the middle one holds the smallest, the last the largest value.
  std::vector<double> values = {1, 2, 3, 4, -5, 0, 0.25, 1e-3, 7, 8, 9, 1e6};
  // Blanks instead of TABs, and data after the last slice, are accepted.
  std::vector<double> with_tail = values;
  with_tail.push_back(-1e9);
  pvtest::WriteFile(dir / "v.bin", VolumeBytes("2 2 3\n", with_tail));
  auto r = RunProgram("pvsplit", {dir / "v.bin", dir / "s%02d.tif"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "-5.000000\t1000000.000000\n");
  const char* ranges[] = {"1.000000\t4.000000", "-5.000000\t0.250000", "7.000000\t1000000.000000"};
  for (int k = 0; k < 3; ++k) {
    pvtest::LibtiffImage img = pvtest::ReadWithLibtiff(dir / ("s0" + std::to_string(k) + ".tif"));
    EXPECT_LIBTIFF_CLEAN(img);
    EXPECT_EQ(img.description, ranges[k]);
    EXPECT_EQ(img.values, pvtest::AsFloat32({values.begin() + 4 * k, values.begin() + 4 * k + 4}));
  }
}

TEST(Pvsplit, LargeSlicesFromStandardInput) {
  // Slices of 720,000 bytes arrive through a pipe: the buffer grows over
  // several reads for the first slice, and every value must land in place.
  TempDir dir;
  const std::size_t n = 300 * 300;
  std::vector<double> values = Ramp(2 * n, -1000, 0.25);
  auto r = RunProgram("pvsplit", {"-", "s%d.tif"}, VolumeBytes("300 300 2\n", values),
                      dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  for (int k = 0; k < 2; ++k)
    EXPECT_EQ(pvtest::ReadWithLibtiff(dir / (k == 0 ? "s0.tif" : "s1.tif")).values,
              pvtest::AsFloat32({values.begin() + k * n, values.begin() + (k + 1) * n}));
}

TEST(Pvsplit, FormatWithoutConversionLeavesTheLastSlice) {
  TempDir dir;
  pvtest::WriteFile(dir / "v.bin", VolumeBytes("1\t1\t3\n", {10, 30, 20}));
  auto r = RunProgram("pvsplit", {"v.bin", "same%%.tif"}, "", dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "10.000000\t30.000000\n");
  EXPECT_EQ(pvtest::ReadWithLibtiff(dir / "same%.tif").values, std::vector<double>{20});
}

TEST(Pvsplit, StandardStreams) {
  TempDir dir;
  std::string volume = VolumeBytes("2\t1\n", {0.5, -0.5});
  // "-" (or anything starting with "-") reads the volume from standard input.
  auto r = RunProgram("pvsplit", {"-", "in%d.tif"}, volume, dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "-0.500000\t0.500000\n");
  EXPECT_EQ(pvtest::ReadWithLibtiff(dir / "in0.tif").values, (std::vector<double>{0.5, -0.5}));

  // An output name of exactly "-" sends the slice to standard output, then the range line.
  pvtest::WriteFile(dir / "v.bin", volume);
  r = RunProgram("pvsplit", {"v.bin", "-"}, "", dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string line = "-0.500000\t0.500000\n";
  ASSERT_GT(r.out.size(), line.size());
  EXPECT_EQ(r.out.substr(r.out.size() - line.size()), line);
  pvtest::WriteFile(dir / "out.tif", r.out.substr(0, r.out.size() - line.size()));
  EXPECT_EQ(pvtest::ReadWithLibtiff(dir / "out.tif").values, (std::vector<double>{0.5, -0.5}));
}

TEST(Pvsplit, FailuresEndWithTheirMessage) {
  TempDir dir;
  pvtest::WriteFile(dir / "ok.bin", VolumeBytes("1\t1\n", {1}));
  struct Case {
    const char* what;
    std::string header;  // written as the volume, unless empty
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {"no argument", "", {}, "usage : pvsplit image.bin TIFF_format\n"},
      {"three arguments", "", {"a", "b", "c"}, "usage : pvsplit image.bin TIFF_format\n"},
      {"missing input", "", {"missing.bin", "s%d.tif"}, "file not found.\n"},
      {"empty input", "\x01", {"v.bin", "s%d.tif"}, "bad image size.\n"},
      {"one number", "512\n", {"v.bin", "s%d.tif"}, "bad image size.\n"},
      {"count 0", "512\t256\t0\n", {"v.bin", "s%d.tif"}, "bad image size.\n"},
      {"negative width", "-4\t3\n", {"v.bin", "s%d.tif"}, "bad image size.\n"},
      {"not a number", "four three\n", {"v.bin", "s%d.tif"}, "bad image size.\n"},
      {"width beyond int", "4294967297\t1\n", {"v.bin", "s%d.tif"}, "bad image size.\n"},
      {"header line without end", std::string(2047, ' '), {"v.bin", "s%d.tif"}, "bad image size.\n"},
      {"size not representable", "2147483647\t2147483647\n", {"v.bin", "s%d.tif"},
       "memory allocation error.\n"},
      // A header alone costs nothing: the missing data is what fails.
      {"size beyond memory, no data", "100000\t100000\n", {"v.bin", "s%d.tif"},
       "data read error\n"},
      {"no data", "2\t2\n", {"v.bin", "s%d.tif"}, "data read error\n"},
      // The name format is checked before the input is opened.
      {"string conversion", "", {"missing.bin", "s%s.tif"}, "bad file name format.\n"},
      {"two conversions", "", {"missing.bin", "s%d%d.tif"}, "bad file name format.\n"},
      {"length modifier", "", {"missing.bin", "s%ld.tif"}, "bad file name format.\n"},
      {"star width", "", {"missing.bin", "s%*d.tif"}, "bad file name format.\n"},
      {"lone percent", "", {"missing.bin", "s%"}, "bad file name format.\n"},
      {"name too long", "", {"ok.bin", std::string(2047, 'n') + "%d"}, "bad file name format.\n"},
      {"width too long", "", {"ok.bin", "%02048d"}, "bad file name format.\n"},
      {"output not creatable", "", {"ok.bin", "no/such/dir/s%d.tif"}, "no/such/dir/s0.tif : file not stored.\n"},
      {"output device full", "", {"ok.bin", "/dev/full"}, "/dev/full : file not stored.\n"},
  };
  for (const Case& c : cases) {
    if (!c.header.empty()) pvtest::WriteFile(dir / "v.bin", c.header == "\x01" ? "" : c.header);
    auto r = RunProgram("pvsplit", c.args, "", dir.path().string());
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.err, c.err) << c.what;
    EXPECT_EQ(r.out, "") << c.what;
  }
}

TEST(Pvsplit, AcceptedNameFormats) {
  TempDir dir;
  pvtest::WriteFile(dir / "v.bin", VolumeBytes("1\t1\t2\n", {1, 2}));
  struct Case {
    const char* format;
    const char* first;
    const char* second;
  } cases[] = {
      {"a%-+ #05d.tif", "a+0   .tif", "a+1   .tif"},
      {"b%.3i", "b000", "b001"},
      {"c%x%%", "c0%", "c1%"},
      {"d%#o", "d0", "d01"},
  };
  for (const Case& c : cases) {
    auto r = RunProgram("pvsplit", {"v.bin", c.format}, "", dir.path().string());
    EXPECT_EQ(r.status, 0) << c.format << ": " << r.err;
    EXPECT_TRUE(pvtest::Exists(dir / c.first)) << c.format;
    EXPECT_TRUE(pvtest::Exists(dir / c.second)) << c.format;
  }
}

TEST(Pvsplit, ShortVolumeKeepsTheSlicesBeforeIt) {
  TempDir dir;
  // Two full slices and one value short of the third.
  pvtest::WriteFile(dir / "v.bin", VolumeBytes("2\t1\t3\n", {1, 2, 3, 4, 5}));
  auto r = RunProgram("pvsplit", {"v.bin", "s%d.tif"}, "", dir.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "data read error\n");
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(pvtest::ReadWithLibtiff(dir / "s1.tif").values, (std::vector<double>{3, 4}));
  EXPECT_FALSE(pvtest::Exists(dir / "s2.tif"));

  // A name that grows past the limit fails at that slice, after the earlier
  // ones: "./" repeated keeps the path valid while it reaches 2047 characters.
  std::string prefix;
  for (int i = 0; i < 1022; ++i) prefix += "./";
  prefix += "/";  // 2045 characters
  pvtest::WriteFile(dir / "w.bin", VolumeBytes("1\t1\t11\n", Ramp(11, 0, 1)));
  r = RunProgram("pvsplit", {"w.bin", prefix + "x%d"}, "", dir.path().string());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "bad file name format.\n");
  EXPECT_TRUE(pvtest::Exists(dir / "x9"));
  EXPECT_FALSE(pvtest::Exists(dir / "x10"));
}

TEST(Pvsplit, SpecialValuesPassThrough) {
  TempDir dir;
  const double inf = INFINITY;
  pvtest::WriteFile(dir / "v.bin", VolumeBytes("4\t1\n", {-0.0, inf, -inf, 2}));
  auto r = RunProgram("pvsplit", {"v.bin", "s.tif"}, "", dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "-0.000000\t2.000000\n");  // infinities are no extreme
  auto img = pvtest::ReadWithLibtiff(dir / "s.tif");
  ASSERT_EQ(img.values.size(), 4u);
  EXPECT_TRUE(std::signbit(img.values[0]));
  EXPECT_EQ(img.values[1], inf);
}

}  // namespace
