// pvstack run as a user runs it, and its volumes cut again by pvsplit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/tiff.h"
#include "tests/support/slice_files.h"
#include "tests/support/tiff_builder.h"
#include "tests/support/tiff_layout.h"
#include "tests/support/tifffile_writer.h"
#include "tests/tools/program_cases.h"

namespace pvtest {
namespace {

namespace tiff = pv::tiff;

// An 8-bit page of width x height samples, as the next directory of `b`;
// `first` adds its entries ahead of the usual ones.
TiffBuilder& Page(TiffBuilder& b, std::uint32_t width, std::uint32_t height, Bytes samples,
                  void (*first)(TiffBuilder&) = nullptr) {
  if (first != nullptr) first(b);
  return b.Strip(std::move(samples)).Grey(width, height, 8).NextDirectory();
}

// A stack in one file: an 8-bit page without a mapping, a reduced-resolution
// copy (no page), a smaller page that maps its samples by its description.
Bytes PagedStack() {
  TiffBuilder b;
  Page(b, 2, 1, {1, 2});
  Page(b, 1, 1, {99}, [](TiffBuilder& t) { t.Long(tiff::kNewSubfileType, tiff::kSubfileReduced); });
  Page(b, 1, 2, {3, 4}, [](TiffBuilder& t) { t.Ascii(tiff::kImageDescription, std::string("10\t20", 6) + '\0'); });
  return b.Build();
}

const char* const kUsage =
    "usage : pvstack image.tif image.bin\n        pvstack image/ nameFile image.bin\n";

// Runs that succeed: the volume (in the named file, or on standard output,
// which sends the range line to standard error) and the range line.
TEST(Pvstack, Volumes) {
  TempDir dir;
  const std::vector<double> one = {-0.0, 1.5, -2.25, 3, 1e-3, 7, 8, 9, 10, 11, 12, 13.125};
  WriteSlice(dir / "f.tif", FloatSlice(4, 3, one, "ignored 1 2"));
  std::vector<double> f = AsFloat32(one);
  f[0] = 0.0;  // the negative zero comes back positive
  std::filesystem::create_directory(dir / "img");
  for (int k = 0; k < 3; ++k)
    WriteSlice(dir / ("img/s" + std::to_string(k) + ".tif"), FloatSlice(2, 1, {double(k), double(-k)}));
  WriteFile(dir / "three.txt", std::string("s2.tif\ns0.tif\ns1.tif\n"));
  WriteFile(dir / "one.txt", std::string("s1.tif\n"));
  WriteSlice(dir / "small.tif", FloatSlice(2, 2, {1, 2, 3, 4}));
  std::filesystem::create_directory(dir / "mix");
  WriteSlice(dir / "mix/a.tif", FloatSlice(2, 2, {5, 6, 7, 8}));
  WriteSlice(dir / "mix/b.tif", IntSlice(3, 1, 8, {0, 255, 51}, "10.000000\t20.000000"));
  // Slices cut from a volume by pvsplit come back as float32.
  std::vector<double> cut;
  for (int k = 0; k < 37 * 23 * 4; ++k) cut.push_back(std::sin(k * 0.37) * 1e3 + k * 1e-4);
  WriteFile(dir / "in.bin", VolumeBytes("37\t23\t4\n", cut));
  std::filesystem::create_directory(dir / "s");
  const RunResult split = RunProgram("pvsplit", {"in.bin", "s/slice%02d.tif"}, "", dir.path().string());
  ASSERT_EQ(split.status, 0) << split.err;
  cut = AsFloat32(cut);
  // Slices that tifffile writes by default: a CT slice in Hounsfield units
  // (int16), and a float slice compressed with zlib.
  const std::vector<double> hu = {-1024, -1, 0, 3071}, zipped = {0.5, -2, 1e-3, 7};
  WriteWithTifffile(dir / "hu.tif", hu, 2, "int16");
  WriteWithTifffile(dir / "zip.tif", zipped, 2, "float32", "zlib");
  WriteFile(dir / "stack.tif", PagedStack());
  std::filesystem::create_directory(dir / "pages");
  WriteFile(dir / "pages/b.tif", PagedStack());
  WriteSlice(dir / "pages/a.tif", FloatSlice(1, 1, {-1}));
  const double page2[] = {10 + 3 * (10.0 / 255), 10 + 4 * (10.0 / 255)};
  const std::string stack_warnings =
      "stack.tif : using integer PV as is floating-point PV (warning).\n"
      "stack.tif page 2 : converting PV by TIFF image description tag (warning).\n";
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string volume, line;
    std::string warnings = {};
  } cases[] = {
      {"one image, whose description is no mapping", {"f.tif", "v.bin"},
       VolumeBytes("4\t3\n", f), "-2.250000\t13.125000\n"},
      // The header counts the slices only when there are several.
      {"three names", {"img/", "three.txt", "v.bin"}, VolumeBytes("2\t1\t3\n", {2, -2, 0, 0, 1, -1}),
       "-2.000000\t2.000000\n"},
      {"one name", {"img/", "one.txt", "v.bin"}, VolumeBytes("2\t1\n", {1, -1}),
       "-1.000000\t1.000000\n"},
      {"names on the command line", {"img/", "-s1.tif s1.tif", "v.bin"},
       VolumeBytes("2\t1\t2\n", {1, -1, 1, -1}), "-1.000000\t1.000000\n"},
      {"the folder in reverse order", {"img/", "--nr", "v.bin"},
       VolumeBytes("2\t1\t3\n", {2, -2, 1, -1, 0, 0}), "-2.000000\t2.000000\n"},
      {"the folder in name order, slices cut by pvsplit", {"s", "--n", "v.bin"},
       VolumeBytes("37\t23\t4\n", cut), RangeLine(cut) + "\n"},
      {"to standard output", {"small.tif", "-"}, VolumeBytes("2\t2\n", {1, 2, 3, 4}),
       "1.000000\t4.000000\n"},
      {"to standard output, any name after -", {"small.tif", "-anything"},
       VolumeBytes("2\t2\n", {1, 2, 3, 4}), "1.000000\t4.000000\n"},
      {"mixed sizes are padded and integer slices mapped", {"mix", "-", "v.bin"},
       VolumeBytes("3\t2\t2\n", {5, 6, 0, 7, 8, 0, 10, 20, 10 + 51 * (10.0 / 255), 0, 0, 0}),
       "0.000000\t20.000000\n", "mix/b.tif : converting PV by TIFF image description tag (warning).\n"},
      {"a signed integer slice from tifffile", {"hu.tif", "v.bin"}, VolumeBytes("2\t2\n", hu),
       "-1024.000000\t3071.000000\n", "hu.tif : using integer PV as is floating-point PV (warning).\n"},
#ifdef PV_HAVE_DEFLATE
      {"a zlib float slice from tifffile", {"zip.tif", "v.bin"}, VolumeBytes("2\t2\n", AsFloat32(zipped)),
       "-2.000000\t7.000000\n"},
#endif
      // Every page of a file is a slice; a reduced-resolution copy is none.
      {"a stack in one file", {"stack.tif", "v.bin"},
       VolumeBytes("2\t2\t2\n", {1, 2, 0, 0, page2[0], 0, page2[1], 0}), "0.000000\t10.156863\n",
       stack_warnings},
      {"a stack file among slices, in name order", {"pages", "--n", "v.bin"},
       VolumeBytes("2\t2\t3\n", {-1, 0, 0, 0, 1, 2, 0, 0, page2[0], 0, page2[1], 0}),
       "-1.000000\t10.156863\n",
       "pages/b.tif : using integer PV as is floating-point PV (warning).\n"
       "pages/b.tif page 2 : converting PV by TIFF image description tag (warning).\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string target = c.args.back();
    std::filesystem::remove(dir / target);
    const RunResult r = RunProgram("pvstack", c.args, "", dir.path().string());
    EXPECT_EQ(r.status, 0) << r.err;
    if (target[0] == '-') {
      EXPECT_EQ(r.out, c.volume);
      EXPECT_EQ(r.err, c.warnings + c.line);
      EXPECT_FALSE(Exists(dir / target));
    } else {
      EXPECT_EQ(r.out, c.line);
      EXPECT_EQ(r.err, c.warnings);
      EXPECT_EQ(ReadText(dir / target), c.volume);
    }
  }
}

TEST(Pvstack, Failures) {
  TempDir dir;
  std::filesystem::create_directory(dir / "img");
  WriteSlice(dir / "img/a.tif", FloatSlice(1, 1, {1}));
  WriteFile(dir / "img/b.tif", std::string("not a TIFF file"));
  WriteFile(dir / "names.txt", std::string("a.tif\nb.tif\n"));
  // Large enough that the volume's writes fail, not only its close.
  WriteSlice(dir / "big.tif", FloatSlice(300, 300, std::vector<double>(90000, 2)));
  const std::string magic = "img/b.tif : bad magic number.\n";
  TiffBuilder bad_page, loop;
  Page(Page(bad_page, 1, 1, {1}), 1, 1, {2}, [](TiffBuilder& t) { t.Short(tiff::kBitsPerSample, 33); });
  WriteFile(dir / "bad_page.tif", bad_page.Build());
  Page(Page(loop, 1, 1, {1}), 1, 1, {2}).LoopTo(0);
  WriteFile(dir / "loop.tif", loop.Build());
  // A faulty slice list or slice header ends the run before any output exists.
  ExpectRefusals("pvstack", {
      {"no arguments", {}, kUsage},
      {"one argument", {"a.tif"}, kUsage},
      {"four arguments", {"a", "b", "c", "d"}, kUsage},
      {"a bad slice in the name file", {"img", "names.txt", "v.bin"}, magic},
      {"a bad single image", {"img/b.tif", "v.bin"}, magic},
      {"a later page with a fault", {"bad_page.tif", "v.bin"}, "bad_page.tif page 2 : bad bits per sample.\n"},
      {"a loop in the chain of pages", {"loop.tif", "v.bin"}, "loop.tif : image file directory loop.\n"},
      {"name file missing", {"img", "missing.txt", "v.bin"}, "missing.txt : name file not open.\n"},
      {"a bad slice in the folder", {"img", "--q", "v.bin"}, magic},
      {"output not open", {"img", "-a.tif", "no/such/dir/v.bin"}, "file not open.\n"},
      {"the volume's writes fail: no range line", {"big.tif", "/dev/full"},
       "/dev/full : data write error.\n"},
  }, dir.path().string(), {dir / "v.bin"});
}

// Sets the value of a single-SHORT entry in the first directory of a
// little-endian TIFF file.
void PatchShortEntry(const std::string& path, std::uint16_t tag, std::uint16_t value) {
  Bytes b = ReadFile(path);
  const auto e = ParseDirectory(b).Find(tag);
  ASSERT_TRUE(e) << "no tag " << tag << " in " << path;
  b[e->at + 8] = std::uint8_t(value);
  b[e->at + 9] = std::uint8_t(value >> 8);
  WriteFile(path, b);
}

TEST(Pvstack, SliceFailingDuringExportLeavesWhatWasWritten) {
  // b.tif passes the first checks and fails only when its pixels are read;
  // a.tif, exported before it, stays in the volume in full, and the slices
  // after b.tif, read (and written) ahead of it, leave nothing.
  TempDir dir;
  std::filesystem::create_directory(dir / "img");
  const std::vector<double> a(64 * 64, 0.5);
  WriteSlice(dir / "img/a.tif", FloatSlice(64, 64, a));
  WriteSlice(dir / "img/b.tif", FloatSlice(64, 64, a));
  PatchShortEntry(dir / "img/b.tif", pv::tiff::kCompression, 7);  // no compression we know
  for (const char* target : {"v.bin", "-"}) {
    SCOPED_TRACE(target);
    const RunResult r =
        RunProgram("pvstack", {"img", "-a.tif b.tif a.tif a.tif", target}, "", dir.path().string());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "img/b.tif : unknown image compression method.\n");
    const std::string volume = target[0] == '-' ? r.out : ReadText(dir / target);
    EXPECT_EQ(volume, VolumeBytes("64\t64\t4\n", a));
    if (target[0] != '-') {
      EXPECT_EQ(r.out, "");  // no range line
    }
  }
}

TEST(Pvstack, QuantisedSlicesComeBackWithinHalfAStep) {
  if (!Exists(ToolPath("pvquant"))) GTEST_SKIP() << "pvquant not built";
  TempDir dir;
  const int w = 50, h = 20, n = 3;
  std::vector<double> v;
  for (int k = 0; k < w * h * n; ++k) v.push_back(std::cos(k * 0.011) * 40 + (k % 7) * 0.5);
  WriteFile(dir / "in.bin", VolumeBytes("50\t20\t3\n", v));
  std::filesystem::create_directory(dir / "f");
  std::filesystem::create_directory(dir / "q");
  ASSERT_EQ(RunProgram("pvsplit", {"in.bin", "f/s%d.tif"}, "", dir.path().string()).status, 0);
  std::vector<double> steps;
  for (int k = 0; k < n; ++k) {
    const std::string s = std::string("s").append(std::to_string(k)).append(".tif");
    const RunResult q = RunProgram("pvquant", {"f/" + s, "8", "q/" + s}, "", dir.path().string());
    ASSERT_EQ(q.status, 0) << q.err;
    double lo = 0, hi = 0;
    ASSERT_EQ(std::sscanf(q.out.c_str(), "%lf %lf", &lo, &hi), 2) << q.out;
    steps.push_back((hi - lo) / 255);
  }
  const RunResult r = RunProgram("pvstack", {"q", "--n", "out.bin"}, "", dir.path().string());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string warn = " : converting PV by TIFF image description tag (warning).\n";
  EXPECT_EQ(r.err, "q/s0.tif" + warn + "q/s1.tif" + warn + "q/s2.tif" + warn);
  const std::vector<double> got = VolumeValues(ReadText(dir / "out.bin"), "50\t20\t3\n", v.size());
  const std::vector<double> f32 = AsFloat32(v);
  for (std::size_t i = 0; i < got.size(); ++i)  // the description holds the range to six decimals
    ASSERT_LE(std::fabs(got[i] - f32[i]), steps[i / (w * h)] / 2 + 2e-6) << "value " << i;
}

}  // namespace
}  // namespace pvtest
