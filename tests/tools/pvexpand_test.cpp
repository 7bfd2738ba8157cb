// pvexpand in its three builds, run as a user runs them: the mapping,
// messages, description pass-through, identical values from every build
// (read by libtiff and by our reader), and the pvquant -> pvexpand round
// trip within half a step.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "tests/support/images.h"
#include "tests/support/tifffile_writer.h"
#include "tests/support/slice_files.h"
#include "tests/tools/program_cases.h"
#include "tiffwrite/sif.h"
#include "tiffwrite/sif_f.h"

namespace pvtest {
namespace {

const char* const kBuilds[] = {"pvexpand", "pvexpand-nolzw", "pvexpand-fast"};
const char kUsage[] = "usage : pvexpand TIFF_int base step TIFF_float\n";

void WriteInt(const std::string& path, const std::vector<std::uint16_t>& samples, int nx, int bps,
              const char* description = nullptr) {
  const int ny = int(samples.size()) / nx;
  std::vector<const std::uint16_t*> rows;
  for (int i = 0; i < ny; ++i) rows.push_back(samples.data() + std::size_t(i) * nx);
  StoreRows(path.c_str(), nx, ny, bps, rows.data(), description);
}

// Every build gives the same values, and keeps the description whatever the
// command line says; "-" names a file for the full builds and standard
// output for the fast one.
TEST(Pvexpand, Mappings) {
  // A 700 x 60 12-bit image: several strips in the full builds.
  std::mt19937 rng(3);
  std::vector<std::uint16_t> strips;
  std::vector<double> expanded;
  for (int i = 0; i < 700 * 60; ++i) strips.push_back(std::uint16_t((i / 7 + rng() % 50) % 4096));
  for (std::uint16_t s : strips) expanded.push_back(-1024.0 + 0.37 * s);
  const struct {
    const char* name;
    std::string base, step;
    std::vector<std::uint16_t> samples;
    int bps;
    std::vector<double> values;
    const char* description = nullptr;  // the source's, kept
    int nx = 0;                         // 0: one row
    std::string target = "out.tif";
    std::vector<double> int16 = {};     // else tifffile writes these as int16 samples
  } cases[] = {
      {"base 10 step 0.5, a base and step text", "10", "0.5", {0, 1, 255}, 8, {10, 10.5, 137.5},
       "0.5 0.25 base step"},
      {"negative step inverts, a range text", "100", "-2", {0, 1, 50}, 8, {100, 98, 0},
       "-1.000000\t1.000000"},
      {"step 0: every value is base, a short text", "3.25", "0", {0, 7, 255}, 8, {3.25, 3.25, 3.25},
       "ab"},
      {"base and step not numbers read as 0", "abc", "x1", {0, 9}, 4, {0, 0}},
      {"leading blanks and a partial number", "  1.5xyz", "2e0", {0, 1}, 1, {1.5, 3.5}},
      {"16-bit samples up to 65535", "-1", "0.001", {0, 65535}, 16, {-1, -1 + 65.535}},
      {"700 x 60 at 12 bits", "-1024", "0.37", strips, 12, expanded, "x", 700},
      {"output -", "0", "1", {1, 2}, 8, {1, 2}, nullptr, 0, "-"},
      {"a CT slice in Hounsfield units from tifffile (int16)", "0.5", "0.001", {}, 16,
       {0.5 + 0.001 * -1024, 0.5 + 0.001 * -1, 0.5 + 0.001 * 0, 0.5 + 0.001 * 3071}, nullptr, 2, "out.tif",
       {-1024, -1, 0, 3071}},
  };
  TempDir dir;
  for (const char* program : kBuilds)
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(program) + ": " + c.name);
      if (!c.int16.empty()) {
        if (!WriteWithTifffile(dir / "in.tif", c.int16, c.nx, "int16")) continue;
      } else {
        WriteInt(dir / "in.tif", c.samples, c.nx ? c.nx : int(c.samples.size()), c.bps, c.description);
      }
      std::filesystem::remove(dir / c.target);
      const RunResult r =
          RunProgram(program, {"in.tif", c.base, c.step, c.target}, "", dir.path().string());
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      if (c.target == "-" && std::string(program) == "pvexpand-fast") {
        EXPECT_FALSE(Exists(dir / "-"));
        WriteFile(dir / "-", r.out);
      } else {
        EXPECT_EQ(r.out, "");
      }
      const LibtiffImage img = ReadBack<double>(dir / c.target);
      EXPECT_EQ(img.values, AsFloat32(c.values));
      EXPECT_EQ(img.description, c.description ? std::optional<std::string>(c.description)
                                               : std::optional<std::string>());
    }
}

TEST(Pvexpand, Failures) {
  TempDir dir;
  WriteInt(dir / "in.tif", {1, 2}, 2, 8);
  const std::string in = dir / "in.tif", out = dir / "out.tif";
  for (const char* program : kBuilds)
    ExpectRefusals(program, {
        {"no arguments", {}, kUsage},
        {"three arguments", {in, "0", "1"}, kUsage},
        {"five arguments", {in, "0", "1", out, "x"}, kUsage},
        {"input missing: the reader's message", {dir / "none.tif", "0", "1", out},
         dir / "none.tif" + " : ", true},
        {"output not stored", {in, "0", "1", dir / "no/out.tif"},
         dir / "no/out.tif" + " : file not stored.\n"},
        {"write error", {in, "0", "1", "/dev/full"}, "/dev/full : file not stored.\n"},
    }, {}, {out});
}

TEST(Pvexpand, QuantThenExpandIsWithinHalfAStep) {
  // pvquant with the derived mapping prints the range; pvexpand with base =
  // minimum and step = (maximum - minimum) / (2^B - 1) restores every value
  // to within half a step (plus the float rounding of the results).
  TempDir dir;
  Image img = SmoothImage(90, 120, 9);
  for (double& v : img.values) v *= 500;
  StoreRows_Float((dir / "orig.tif").c_str(), 90, 120, img.rows().data(), pv::SIF_F_desc,
                  pv::FloatLayout::kOneStrip);
  const std::vector<double> stored = AsFloat32(img.values);
  for (int bps : {4, 8, 16}) {
    const RunResult q = RunProgram("pvquant", {dir / "orig.tif", std::to_string(bps), dir / "q.tif"});
    ASSERT_EQ(q.status, 0) << q.err;
    double lo = 0, hi = 0;
    ASSERT_EQ(std::sscanf(q.out.c_str(), "%lf\t%lf", &lo, &hi), 2);
    const double step = (hi - lo) / (std::ldexp(1.0, bps) - 1);
    char base_text[64], step_text[64];
    std::snprintf(base_text, sizeof base_text, "%.17g", lo);
    std::snprintf(step_text, sizeof step_text, "%.17g", step);
    for (const char* program : kBuilds) {
      SCOPED_TRACE(std::string(program) + " at " + std::to_string(bps) + " bits");
      const RunResult r = RunProgram(program, {dir / "q.tif", base_text, step_text, dir / "e.tif"});
      ASSERT_EQ(r.status, 0) << r.err;
      const std::vector<double> back = ReadBack<double>(dir / "e.tif").values;
      ASSERT_EQ(back.size(), stored.size());
      double worst = 0;
      for (std::size_t k = 0; k < back.size(); ++k) {
        // The printed range has six decimals: allow for that and for the
        // single-precision result.
        const double slack = 1e-6 + 1e-6 * std::abs(stored[k]);
        worst = std::max(worst, std::abs(back[k] - stored[k]) - slack);
      }
      EXPECT_LE(worst, step / 2) << "step " << step;
    }
  }
}

// A stack in one file, as libtiff writes it (classic and BigTIFF), through
// pvquant and every build of pvexpand: page k of each output comes from
// page k of its input, read back page by page by libtiff and by our reader.
// pvquant's derived mapping is the whole stack's, stated by every page;
// pvexpand keeps each page's own description.
TEST(Pvexpand, StacksInOneFileGivePageForPage) {
  TempDir dir;
  const std::vector<SliceImage> pages = {
      FloatSlice(3, 2, {0, 1, 2, 3, 4, 5}, "0 5"),
      FloatSlice(2, 1, {-10, 10}),
      FloatSlice(1, 3, {7, 8, 9}, "mine"),
  };
  const std::vector<std::vector<double>> codes = {  // -10 .. 10 over 0 .. 255
      {128, 140, 153, 166, 179, 191}, {0, 255}, {217, 230, 242}};
  for (const bool big : {false, true}) {
    SCOPED_TRACE(big ? "BigTIFF" : "classic TIFF");
    WriteStack(dir / "in.tif", pages, big);
    const RunResult q = RunProgram("pvquant", {dir / "in.tif", "8", dir / "q.tif"});
    ASSERT_EQ(q.status, 0) << q.err;
    EXPECT_EQ(q.out, "-10.000000\t10.000000\n");
    const std::vector<LibtiffImage> quantised = ReadBackPages<std::uint16_t>(dir / "q.tif");
    ASSERT_EQ(quantised.size(), pages.size());
    for (std::size_t k = 0; k < pages.size(); ++k) {
      EXPECT_EQ(quantised[k].values, codes[k]) << "page " << k + 1;
      EXPECT_EQ(quantised[k].description, "-10.000000\t10.000000") << "page " << k + 1;
    }
    // A given mapping applies to every page.
    const RunResult given = RunProgram("pvquant", {dir / "in.tif", "-10", "1", "8", dir / "g.tif"});
    ASSERT_EQ(given.status, 0) << given.err;
    EXPECT_EQ(ReadBackPages<std::uint16_t>(dir / "g.tif")[2].values, (std::vector<double>{17, 18, 19}));
  }
  for (const char* program : kBuilds) {
    SCOPED_TRACE(program);
    const RunResult r = RunProgram(program, {dir / "q.tif", "0", "2", dir / "e.tif"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<LibtiffImage> expanded = ReadBackPages<double>(dir / "e.tif");
    ASSERT_EQ(expanded.size(), pages.size());
    for (std::size_t k = 0; k < pages.size(); ++k) {
      std::vector<double> want;
      for (double c : codes[k]) want.push_back(2 * c);
      EXPECT_EQ(expanded[k].values, want) << "page " << k + 1;
      EXPECT_EQ(expanded[k].description, "-10.000000\t10.000000") << "page " << k + 1;
    }
  }
  // The fast build's stack on standard output.
  const RunResult out = RunProgram("pvexpand-fast", {dir / "q.tif", "0", "2", "-"});
  ASSERT_EQ(out.status, 0) << out.err;
  WriteFile(dir / "stdout.tif", out.out);
  EXPECT_EQ(ReadFile(dir / "stdout.tif"), ReadFile(dir / "e.tif"));
}

}  // namespace
}  // namespace pvtest
