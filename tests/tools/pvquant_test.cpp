// pvquant run as a user runs it: both forms, the mapping, messages and the
// order of checks, description pass-through; outputs read back by libtiff
// and by our reader.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/images.h"
#include "tests/support/tifffile_writer.h"
#include "tests/tools/program_cases.h"
#include "tiffwrite/sif.h"
#include "tiffwrite/sif_f.h"

namespace pvtest {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
const char kUsage[] = "usage : pvquant TIFF_float {base step} BPS TIFF_int\n";

// A float TIFF of one row (or nx x ny) of `values`, with the
// minimum-and-maximum description (SIF_F_desc), none (null) or a text.
void WriteFloat(const std::string& path, const std::vector<double>& values, int nx,
                const char* description = pv::SIF_F_desc) {
  const Image img{nx, int(values.size()) / nx, values};
  StoreRows_Float(path.c_str(), img.nx, img.ny, img.rows().data(),
                           description, pv::FloatLayout::kOneStrip);
}

// The codes of each mapping; the output's description is the source's where
// that maps the codes back, else it states the mapping.
TEST(Pvquant, Mappings) {
  const struct {
    const char* name;
    std::vector<double> values;
    std::vector<std::string> mapping;  // base step, or empty for the derived form
    std::string bps;
    const char* out;  // the result line; null: not checked (a NaN's text is the C library's)
    std::vector<double> codes;
    const char* source = pv::SIF_F_desc;  // the source's description, as WriteFloat takes it
    int int_bits = 0;      // else the source is an integer image of this depth, read with a warning
    const char* stated = nullptr;  // the output's description; null: the source's
    const char* tifffile = nullptr;  // else tifffile writes the source: numpy dtype, compression
  } cases[] = {
      {"derived, -1..1 at 8 bits: the middle rounds up", {-1, 0, 1}, {}, "8",
       "-1.000000\t1.000000\n", {0, 128, 255}},
      {"derived, constant image: step 1, all 0", {7.5, 7.5, 7.5}, {}, "8", "7.500000\t7.500000\n",
       {0, 0, 0}, pv::SIF_F_desc, 0, "pvquant\t7.500000\t1.000000"},
      {"given 0 0.5 at 4 bits: clamped at both ends", {-3, 0, 0.2, 0.25, 1, 7.4, 100}, {"0", "0.5"},
       "4", "", {0, 0, 0, 1, 2, 15, 15}, pv::SIF_F_desc, 0, "pvquant\t0.000000\t0.500000"},
      {"derived at 16 bits", {0, 1, 65535, 32767.5}, {}, "16", "0.000000\t65535.000000\n",
       {0, 1, 65535, 32768}},
      {"derived at 1 bit", {0, 0.49, 0.5, 1}, {}, "1", "0.000000\t1.000000\n", {0, 0, 1, 1}},
      {"given, base not a number reads as 0", {0.4, 0.6, 3}, {"x", "1"}, "2", "", {0, 1, 3},
       pv::SIF_F_desc, 0, "pvquant\t0.000000\t1.000000"},
      {"BPS with trailing text reads its digits", {0, 1}, {}, "8bits", "0.000000\t1.000000\n",
       {0, 255}},
      {"a NaN pixel gets code 0", {0, kNaN, 10}, {}, "8", "0.000000\t10.000000\n", {0, 0, 255}},
      {"a NaN first pixel is skipped", {kNaN, 1, 2}, {}, "8", "1.000000\t2.000000\n", {0, 0, 255}},
      {"given NaN base: every code 0", {1, 2}, {"nan", "1"}, "8", "", {0, 0}, pv::SIF_F_desc, 0,
       "pvquant\tnan\t1.000000"},
      {"derived, no description: the range is stated", {-2, 6}, {}, "8", "-2.000000\t6.000000\n",
       {0, 255}, nullptr, 0, "-2.000000\t6.000000"},
      {"derived, a description of another mapping", {-2, 6}, {}, "8", "-2.000000\t6.000000\n",
       {0, 255}, "-2.000000\t6.100000", 0, "-2.000000\t6.000000"},
      {"given as the description maps: passed through", {-2, 6}, {"-2", "0.0313725490196"}, "8", "",
       {0, 255}},
      {"given, no description: the mapping is stated", {-2, 6}, {"0", "0.1"}, "8", "", {0, 60},
       nullptr, 0, "pvquant\t0.000000\t0.100000"},
      {"integer input", {0, 10, 200, 255}, {"0", "10"}, "4", "", {0, 1, 15, 15}, nullptr, 8,
       "pvquant\t0.000000\t10.000000"},
      {"a CT slice in Hounsfield units from tifffile (int16)", {-1024, -1, 0, 3071}, {"-1024", "16"}, "8", "",
       {0, 64, 64, 255}, nullptr, 16, "pvquant\t-1024.000000\t16.000000", "int16"},
      {"a float slice from tifffile, zlib", {-1, 0, 1}, {}, "8", "-1.000000\t1.000000\n", {0, 128, 255}, nullptr, 0,
       "-1.000000\t1.000000", "float32 zlib"},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.tifffile != nullptr) {
      const std::string kind = c.tifffile;
      const std::size_t blank = kind.find(' ');
      const std::string compression = blank == std::string::npos ? "" : kind.substr(blank + 1);
#ifndef PV_HAVE_DEFLATE
      if (!compression.empty()) continue;  // refused as an unknown compression
#endif
      if (!WriteWithTifffile(dir / "in.tif", c.values, int(c.values.size()), kind.substr(0, blank), compression))
        continue;
    } else if (c.int_bits != 0) {
      const std::vector<std::uint16_t> row(c.values.begin(), c.values.end());
      const std::uint16_t* rows[] = {row.data()};
      StoreRows((dir / "in.tif").c_str(), int(row.size()), 1, c.int_bits, rows, nullptr);
    } else {
      WriteFloat(dir / "in.tif", c.values, int(c.values.size()), c.source);
    }
    std::vector<std::string> args = {dir / "in.tif"};
    args.insert(args.end(), c.mapping.begin(), c.mapping.end());
    args.insert(args.end(), {c.bps, dir / "out.tif"});
    const RunResult r = RunProgram("pvquant", args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              c.int_bits ? dir / "in.tif" + " : containing non-float pixel values (warning).\n" : "");
    if (c.out != nullptr) {
      EXPECT_EQ(r.out, c.out);
    }
    const LibtiffImage img = ReadBack<std::uint16_t>(dir / "out.tif");
    EXPECT_EQ(img.values, c.codes);
    const auto source = ReadWithLibtiff(dir / "in.tif").description;
    EXPECT_EQ(source.has_value(), c.source != nullptr);
    EXPECT_EQ(img.description, c.stated ? std::optional<std::string>(c.stated) : source);
  }
}

TEST(Pvquant, FailuresAndTheirOrder) {
  TempDir dir;
  WriteFloat(dir / "in.tif", {1, 2, 3}, 3);
  const std::string in = dir / "in.tif", out = dir / "out.tif", missing = dir / "none.tif";
  const std::string bad_bps = "bad bit per sample (BPS).\n", bad_step = "bad value step.\n";
  ExpectRefusals("pvquant", {
      {"no arguments", {}, kUsage},
      {"two arguments", {in, "8"}, kUsage},
      {"four arguments", {in, "0", "8", out}, kUsage},
      {"six arguments", {in, "0", "1", "8", out, "x"}, kUsage},
      {"BPS 0", {in, "0", out}, bad_bps},
      {"BPS 17", {in, "17", out}, bad_bps},
      {"BPS not a number", {in, "eight", out}, bad_bps},
      {"BPS huge", {in, "99999999999999999999", out}, bad_bps},
      {"step 0", {in, "0", "0", "8", out}, bad_step},
      {"negative step", {in, "0", "-1", "8", out}, bad_step},
      {"step not a number", {in, "0", "abc", "8", out}, bad_step},
      {"step NaN", {in, "0", "nan", "8", out}, bad_step},
      {"BPS is checked before the step", {in, "0", "0", "0", out}, bad_bps},
      {"the reader runs first", {missing, "0", "0", "0", out}, missing + " : ", true},
      // The derived form prints the range before it stores.
      {"output not stored", {in, "8", dir / "no/out.tif"}, dir / "no/out.tif" + " : file not stored.\n",
       false, "1.000000\t3.000000\n"},
      {"write error", {in, "0", "1", "8", "/dev/full"}, "/dev/full : file not stored.\n"},
  }, {}, {out});
}

TEST(Pvquant, EndToEndCodesEqualTheMapping) {
  // A 300 x 200 image at several depths: libtiff and our reader read the
  // codes the mapping gives, computed here independently.
  TempDir dir;
  const Image img = SmoothImage(300, 200, 5);
  WriteFloat(dir / "in.tif", img.values, 300);
  const std::vector<double> values = AsFloat32(img.values);  // what the file holds
  const auto [lo, hi] = FiniteRange(values);
  for (int bps : {1, 3, 8, 12, 16}) {
    SCOPED_TRACE(bps);
    const RunResult r = RunProgram("pvquant", {dir / "in.tif", std::to_string(bps), dir / "q.tif"});
    ASSERT_EQ(r.status, 0) << r.err;
    const double top = std::ldexp(1.0, bps) - 1, step = (hi - lo) / top;
    std::vector<double> want;
    for (double v : values)
      want.push_back(v <= lo ? 0 : v >= hi ? top : std::floor((v - lo) / step + 0.5));
    const LibtiffImage img = ReadBack<std::uint16_t>(dir / "q.tif");
    EXPECT_EQ(img.width, 300u);
    EXPECT_EQ(img.height, 200u);
    EXPECT_EQ(img.bits, bps);
    EXPECT_EQ(img.values, want);
  }
}

}  // namespace
}  // namespace pvtest
