// pvsplit run as a user runs it: arguments, files, standard streams, exit
// status; every slice file checked with libtiff.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/tools/program_cases.h"

namespace pvtest {
namespace {

std::vector<double> Ramp(std::size_t n, double start, double step) {
  std::vector<double> v;
  for (std::size_t i = 0; i < n; ++i) v.push_back(start + step * double(i));
  return v;
}

// Runs that succeed: the range line of all slices, and every slice file, by
// libtiff, of the header's size with its values bit for bit and its own range
// as description.
TEST(Pvsplit, SlicesAndTheirRanges) {
  const double inf = INFINITY;
  const struct {
    const char* name;
    std::string header;
    std::vector<double> values;  // the volume's; may run past its slices
    std::string format;
    std::string line;
    std::vector<std::string> slices;  // the file of each slice; "": another took its name
    bool piped = false;               // the volume comes on standard input ("-")
    bool stack = false;               // slice k is page k of its file
  } cases[] = {
      {"one slice", "4\t3\n", Ramp(12, -1, 0.5), "s%03d.tif", "-1.000000\t4.500000\n", {"s000.tif"}},
      {"blanks for TABs, data after the last slice; the middle slice holds the smallest value",
       "2 2 3\n", {1, 2, 3, 4, -5, 0, 0.25, 1e-3, 7, 8, 9, 1e6, -1e9}, "s%02d.tif",
       "-5.000000\t1000000.000000\n", {"s00.tif", "s01.tif", "s02.tif"}},
      // Slices of 720,000 bytes: the buffer grows over several reads.
      {"large slices through a pipe", "300 300 2\n", Ramp(180000, -1000, 0.25), "s%d.tif",
       "-1000.000000\t43999.750000\n", {"s0.tif", "s1.tif"}, true},
      {"a small volume through a pipe", "2\t1\n", {0.5, -0.5}, "in%d.tif", "-0.500000\t0.500000\n",
       {"in0.tif"}, true},
      // A name without a conversion: one file, a page a slice.
      {"a format without conversion: a stack in one file", "1\t1\t3\n", {10, 30, 20}, "same%%.tif",
       "10.000000\t30.000000\n", {"same%.tif", "same%.tif", "same%.tif"}, false, true},
      {"a stack on standard output", "2\t1\t2\n", {0.5, -0.5, 3, 4}, "-", "-0.500000\t4.000000\n",
       {"-", "-"}, true, true},
      {"-0 and infinities pass, and infinities are no extreme", "4\t1\n", {-0.0, inf, -inf, 2},
       "s.tif", "-0.000000\t2.000000\n", {"s.tif"}},
      // Exactly "-": the slice on standard output, then the range line.
      {"a slice to standard output", "2\t1\n", {0.5, -0.5}, "-", "-0.500000\t0.500000\n", {"-"}},
      {"flags", "1\t1\t2\n", {1, 2}, "a%-+ #05d.tif", "1.000000\t2.000000\n",
       {"a+0   .tif", "a+1   .tif"}},
      {"precision", "1\t1\t2\n", {1, 2}, "b%.3i", "1.000000\t2.000000\n", {"b000", "b001"}},
      {"hexadecimal and a percent", "1\t1\t2\n", {1, 2}, "c%x%%", "1.000000\t2.000000\n",
       {"c0%", "c1%"}},
      {"alternate octal", "1\t1\t2\n", {1, 2}, "d%#o", "1.000000\t2.000000\n", {"d0", "d01"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string volume = VolumeBytes(c.header, c.values);
    if (!c.piped) WriteFile(dir / "v.bin", volume);
    const RunResult r = RunProgram("pvsplit", {c.piped ? "-" : dir / "v.bin", c.format},
                                   c.piped ? volume : "", dir.path().string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::size_t cut = r.out.size() > c.line.size() ? r.out.size() - c.line.size() : 0;
    const std::string image = r.out.substr(0, cut);  // a slice sent to standard output
    EXPECT_EQ(r.out.substr(cut), c.line);
    if (c.format == "-") {
      EXPECT_FALSE(Exists(dir / "-"));
      WriteFile(dir / "-", image);
    } else {
      EXPECT_EQ(image, "");
    }
    int w = 0, h = 0;
    ASSERT_EQ(std::sscanf(c.header.c_str(), "%d %d", &w, &h), 2);
    for (std::size_t k = 0; k < c.slices.size(); ++k) {
      if (c.slices[k].empty()) continue;
      SCOPED_TRACE(c.slices[k]);
      const LibtiffImage img =
          c.stack ? ReadPagesWithLibtiff(dir / c.slices[k]).at(k) : ReadWithLibtiff(dir / c.slices[k]);
      EXPECT_LIBTIFF_CLEAN(img);
      EXPECT_EQ(img.width, std::uint32_t(w));
      EXPECT_EQ(img.height, std::uint32_t(h));
      const auto first = c.values.begin() + std::ptrdiff_t(k) * w * h;
      const std::vector<double> want = AsFloat32({first, first + w * h});
      EXPECT_TRUE(SameBits(img.values, want)) << testing::PrintToString(img.values);
      EXPECT_EQ(img.description, RangeLine(want));
    }
  }
}

TEST(Pvsplit, FailuresEndWithTheirMessage) {
  TempDir dir;
  WriteFile(dir / "ok.bin", VolumeBytes("1\t1\n", {1}));
  const std::string usage = "usage : pvsplit image.bin TIFF_format\n", size = "bad image size.\n",
                    format = "bad file name format.\n";
  const std::vector<std::string> split = {"v.bin", "s%d.tif"};
  // "./" repeated keeps the path valid while the name grows to 2047 characters.
  std::string grows;
  for (int i = 0; i < 1022; ++i) grows += "./";
  grows += "/x%d";  // 2045 characters before the slice index
  const struct {
    Refusal run;
    std::string header = {};          // the volume, unless empty ("\x01": an empty file)
    std::string kept = {};            // the last slice left,
    std::vector<double> values = {};  // its values,
    std::string gone = {};            // and the next one, not written
  } cases[] = {
      {{"no argument", {}, usage}},
      {{"three arguments", {"a", "b", "c"}, usage}},
      {{"missing input", {"missing.bin", "s%d.tif"}, "file not found.\n"}},
      {{"empty input", split, size}, "\x01"},
      {{"one number", split, size}, "512\n"},
      {{"count 0", split, size}, "512\t256\t0\n"},
      {{"negative width", split, size}, "-4\t3\n"},
      {{"not a number", split, size}, "four three\n"},
      {{"width beyond int", split, size}, "4294967297\t1\n"},
      {{"header line without end", split, size}, std::string(2047, ' ')},
      {{"size not representable", split, "memory allocation error.\n"}, "2147483647\t2147483647\n"},
      // A header alone costs nothing: the missing data is what fails.
      {{"size beyond memory, no data", split, "data read error\n"}, "100000\t100000\n"},
      {{"no data", split, "data read error\n"}, "2\t2\n"},
      // A failure at a slice keeps the slices before it.
      {{"one value short of the third slice", split, "data read error\n"},
       VolumeBytes("2\t1\t3\n", {1, 2, 3, 4, 5}), "s1.tif", {3, 4}, "s2.tif"},
      {{"a stack file one value short of its third slice: no file", {"v.bin", "all.tif"}, "data read error\n"},
       VolumeBytes("2\t1\t3\n", {1, 2, 3, 4, 5}), "", {}, "all.tif"},
      {{"a name that grows past the limit", {"v.bin", grows}, format},
       VolumeBytes("1\t1\t11\n", Ramp(11, 0, 1)), "x9", {9}, "x10"},
      // The name format is checked before the input is opened.
      {{"string conversion", {"missing.bin", "s%s.tif"}, format}},
      {{"two conversions", {"missing.bin", "s%d%d.tif"}, format}},
      {{"length modifier", {"missing.bin", "s%ld.tif"}, format}},
      {{"star width", {"missing.bin", "s%*d.tif"}, format}},
      {{"lone percent", {"missing.bin", "s%"}, format}},
      {{"name too long", {"ok.bin", std::string(2047, 'n') + "%d"}, format}},
      {{"width too long", {"ok.bin", "%02048d"}, format}},
      {{"output not creatable", {"ok.bin", "no/such/dir/s%d.tif"},
        "no/such/dir/s0.tif : file not stored.\n"}},
      {{"output device full", {"ok.bin", "/dev/full"}, "/dev/full : file not stored.\n"}},
  };
  for (const auto& c : cases) {
    if (!c.header.empty()) WriteFile(dir / "v.bin", c.header == "\x01" ? "" : c.header);
    ExpectRefusals("pvsplit", {c.run}, dir.path().string());
    if (!c.kept.empty()) {
      EXPECT_EQ(ReadWithLibtiff(dir / c.kept).values, c.values) << c.run.name;
    }
    if (!c.gone.empty()) {
      EXPECT_FALSE(Exists(dir / c.gone)) << c.run.name;
    }
  }
}

}  // namespace
}  // namespace pvtest
