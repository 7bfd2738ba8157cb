// pvstack run as a user runs it, and its volumes cut again by pvsplit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/tiff.h"
#include "tests/support/slice_files.h"
#include "tests/support/files.h"
#include "tests/support/libtiff_oracle.h"
#include "tests/support/run_program.h"
#include "tests/support/tiff_layout.h"

namespace {

using pvtest::FloatSlice;
using pvtest::IntSlice;
using pvtest::RunProgram;
using pvtest::TempDir;
using pvtest::VolumeBytes;

const char* const kUsage =
    "usage : pvstack image.tif image.bin\n        pvstack image/ nameFile image.bin\n";

TEST(Pvstack, ArgumentCount) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"a.tif"}, {"a", "b", "c", "d"}}) {
    auto r = RunProgram("pvstack", args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, kUsage);
  }
}

TEST(Pvstack, SingleImageAndBackThroughPvsplit) {
  TempDir dir;
  const std::vector<double> v = {-0.0, 1.5, -2.25, 3, 1e-3, 7, 8, 9, 10, 11, 12, 13.125};
  pvtest::WriteSlice(dir / "f.tif", FloatSlice(4, 3, v, "ignored 1 2"));
  auto r = RunProgram("pvstack", {"f.tif", "v.bin"}, "", dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "-2.250000\t13.125000\n");
  std::vector<double> want = pvtest::AsFloat32(v);
  want[0] = 0.0;  // the negative zero comes back positive
  EXPECT_EQ(pvtest::ReadText(dir / "v.bin"), VolumeBytes("4\t3\n", want));

  r = RunProgram("pvsplit", {"v.bin", "back%d.tif"}, "", dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  const pvtest::LibtiffImage back = pvtest::ReadWithLibtiff(dir / "back0.tif");
  EXPECT_LIBTIFF_CLEAN(back);
  EXPECT_EQ(back.values, want);
  EXPECT_FALSE(std::signbit(back.values[0]));
}

TEST(Pvstack, HeaderCountsSlicesOnlyWhenSeveral) {
  TempDir dir;
  std::filesystem::create_directory(dir / "img");
  for (int k = 0; k < 3; ++k)
    pvtest::WriteSlice(dir / ("img/s" + std::to_string(k) + ".tif"),
                       FloatSlice(2, 1, {double(k), double(-k)}));
  pvtest::WriteFile(dir / "three.txt", std::string("s2.tif\ns0.tif\ns1.tif\n"));
  pvtest::WriteFile(dir / "one.txt", std::string("s1.tif\n"));
  struct Case {
    const char* names;
    std::string volume, line;
  };
  const Case cases[] = {
      {"three.txt", VolumeBytes("2\t1\t3\n", {2, -2, 0, 0, 1, -1}), "-2.000000\t2.000000\n"},
      {"one.txt", VolumeBytes("2\t1\n", {1, -1}), "-1.000000\t1.000000\n"},
      {"-s1.tif s1.tif", VolumeBytes("2\t1\t2\n", {1, -1, 1, -1}), "-1.000000\t1.000000\n"},
      {"--nr", VolumeBytes("2\t1\t3\n", {2, -2, 1, -1, 0, 0}), "-2.000000\t2.000000\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.names);
    auto r = RunProgram("pvstack", {"img/", c.names, "v.bin"}, "", dir.path().string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, c.line);
    EXPECT_EQ(pvtest::ReadText(dir / "v.bin"), c.volume);
  }
}

TEST(Pvstack, VolumeToStandardOutput) {
  TempDir dir;
  pvtest::WriteSlice(dir / "f.tif", FloatSlice(2, 2, {1, 2, 3, 4}));
  for (const char* target : {"-", "-anything"}) {
    auto r = RunProgram("pvstack", {"f.tif", target}, "", dir.path().string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, VolumeBytes("2\t2\n", {1, 2, 3, 4}));
    EXPECT_EQ(r.err, "1.000000\t4.000000\n");
    EXPECT_FALSE(pvtest::Exists(dir / target));
  }
}

TEST(Pvstack, MixedSizesArePaddedAndIntegerSlicesMapped) {
  TempDir dir;
  std::filesystem::create_directory(dir / "img");
  pvtest::WriteSlice(dir / "img/a.tif", FloatSlice(2, 2, {5, 6, 7, 8}));
  pvtest::WriteSlice(dir / "img/b.tif", IntSlice(3, 1, 8, {0, 255, 51}, "10.000000\t20.000000"));
  auto r = RunProgram("pvstack", {"img", "-", "v.bin"}, "", dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "img/b.tif : converting PV by TIFF image description tag (warning).\n");
  EXPECT_EQ(r.out, "0.000000\t20.000000\n");
  EXPECT_EQ(pvtest::ReadText(dir / "v.bin"),
            VolumeBytes("3\t2\t2\n", {5, 6, 0, 7, 8, 0, 10, 20, 10 + 51 * (10.0 / 255), 0, 0, 0}));
}

TEST(Pvstack, Failures) {
  TempDir dir;
  std::filesystem::create_directory(dir / "img");
  pvtest::WriteSlice(dir / "img/a.tif", FloatSlice(1, 1, {1}));
  pvtest::WriteFile(dir / "img/b.tif", std::string("not a TIFF file"));
  pvtest::WriteFile(dir / "names.txt", std::string("a.tif\nb.tif\n"));
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  const Case cases[] = {
      {{"img", "names.txt", "v.bin"}, "img/b.tif : bad magic number.\n"},
      {{"img/b.tif", "v.bin"}, "img/b.tif : bad magic number.\n"},
      {{"img", "missing.txt", "v.bin"}, "missing.txt : name file not open.\n"},
      {{"img", "--q", "v.bin"}, "img/b.tif : bad magic number.\n"},
      {{"img", "-a.tif", "no/such/dir/v.bin"}, "file not open.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[c.args.size() - 2]);
    auto r = RunProgram("pvstack", c.args, "", dir.path().string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    // A faulty slice list or slice header ends the run before any output exists.
    EXPECT_FALSE(pvtest::Exists(dir / "v.bin"));
  }
}

// Sets the value of a single-SHORT entry in the first directory of a
// little-endian TIFF file.
void PatchShortEntry(const std::string& path, std::uint16_t tag, std::uint16_t value) {
  pvtest::Bytes b = pvtest::ReadFile(path);
  const auto e = pvtest::ParseDirectory(b).Find(tag);
  ASSERT_TRUE(e) << "no tag " << tag << " in " << path;
  b[e->at + 8] = std::uint8_t(value);
  b[e->at + 9] = std::uint8_t(value >> 8);
  pvtest::WriteFile(path, b);
}

TEST(Pvstack, SliceFailingDuringExportLeavesWhatWasWritten) {
  // b.tif passes the first checks and fails only when its pixels are read;
  // a.tif, exported before it, stays in the volume in full, and the slices
  // after b.tif, read (and written) ahead of it, leave nothing.
  TempDir dir;
  std::filesystem::create_directory(dir / "img");
  const std::vector<double> a(64 * 64, 0.5);
  pvtest::WriteSlice(dir / "img/a.tif", FloatSlice(64, 64, a));
  pvtest::WriteSlice(dir / "img/b.tif", FloatSlice(64, 64, a));
  PatchShortEntry(dir / "img/b.tif", pv::tiff::kCompression, 7);  // no compression we know
  for (const char* target : {"v.bin", "-"}) {
    SCOPED_TRACE(target);
    auto r = RunProgram("pvstack", {"img", "-a.tif b.tif a.tif a.tif", target}, "",
                        dir.path().string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "img/b.tif : unknown image compression method.\n");
    const std::string volume = target[0] == '-' ? r.out : pvtest::ReadText(dir / target);
    EXPECT_EQ(volume, VolumeBytes("64\t64\t4\n", a));
    if (target[0] != '-') {
      EXPECT_EQ(r.out, "");  // no range line
    }
  }
}

TEST(Pvstack, FailedVolumeWriteIsReported) {
  if (!pvtest::Exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TempDir dir;
  pvtest::WriteSlice(dir / "f.tif", FloatSlice(300, 300, std::vector<double>(90000, 2)));
  auto r = RunProgram("pvstack", {dir / "f.tif", "/dev/full"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");  // no range line
  EXPECT_EQ(r.err, "/dev/full : data write error.\n");
}

TEST(Pvstack, PvsplitThenPvstackGivesBackTheVolumeAsFloat32) {
  TempDir dir;
  const int w = 37, h = 23, n = 4;
  std::vector<double> v;
  for (int k = 0; k < w * h * n; ++k) v.push_back(std::sin(k * 0.37) * 1e3 + k * 1e-4);
  pvtest::WriteFile(dir / "in.bin", VolumeBytes("37\t23\t4\n", v));
  std::filesystem::create_directory(dir / "s");
  auto r = RunProgram("pvsplit", {"in.bin", "s/slice%02d.tif"}, "", dir.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunProgram("pvstack", {"s", "--n", "out.bin"}, "", dir.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::vector<double> f32 = pvtest::AsFloat32(v);
  EXPECT_EQ(pvtest::ReadText(dir / "out.bin"), VolumeBytes("37\t23\t4\n", f32));
  char line[64];
  std::snprintf(line, sizeof line, "%lf\t%lf\n", *std::min_element(f32.begin(), f32.end()),
                *std::max_element(f32.begin(), f32.end()));
  EXPECT_EQ(r.out, line);
}

TEST(Pvstack, QuantisedSlicesComeBackWithinHalfAStep) {
  if (!pvtest::Exists(pvtest::ToolPath("pvquant"))) GTEST_SKIP() << "pvquant not built";
  TempDir dir;
  const int w = 50, h = 20, n = 3;
  std::vector<double> v;
  for (int k = 0; k < w * h * n; ++k) v.push_back(std::cos(k * 0.011) * 40 + (k % 7) * 0.5);
  pvtest::WriteFile(dir / "in.bin", VolumeBytes("50\t20\t3\n", v));
  std::filesystem::create_directory(dir / "f");
  std::filesystem::create_directory(dir / "q");
  ASSERT_EQ(RunProgram("pvsplit", {"in.bin", "f/s%d.tif"}, "", dir.path().string()).status, 0);
  std::vector<double> steps;
  for (int k = 0; k < n; ++k) {
    const std::string s = std::string("s").append(std::to_string(k)).append(".tif");
    auto q = RunProgram("pvquant", {"f/" + s, "8", "q/" + s}, "", dir.path().string());
    ASSERT_EQ(q.status, 0) << q.err;
    double lo = 0, hi = 0;
    ASSERT_EQ(std::sscanf(q.out.c_str(), "%lf %lf", &lo, &hi), 2) << q.out;
    steps.push_back((hi - lo) / 255);
  }
  auto r = RunProgram("pvstack", {"q", "--n", "out.bin"}, "", dir.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string warn = " : converting PV by TIFF image description tag (warning).\n";
  EXPECT_EQ(r.err, "q/s0.tif" + warn + "q/s1.tif" + warn + "q/s2.tif" + warn);
  const std::string out = pvtest::ReadText(dir / "out.bin");
  const std::string header = "50\t20\t3\n";
  ASSERT_EQ(out.size(), header.size() + v.size() * 8);
  const std::vector<double> f32 = pvtest::AsFloat32(v);
  for (std::size_t i = 0; i < v.size(); ++i) {
    double got;
    std::memcpy(&got, out.data() + header.size() + 8 * i, 8);
    // The description holds the range rounded to six decimals.
    ASSERT_LE(std::fabs(got - f32[i]), steps[i / (w * h)] / 2 + 2e-6) << "value " << i;
  }
}

}  // namespace
