// What every TIFF writer of the suite guarantees, checked once over all of
// them: the integer writer (at 16 and at 12 bits), the fast floating-point
// writer and both builds of the full one. libtiff reads the image and the
// description back unchanged; a source's rows where they lie and copied into
// the writer's scratch give the same file; sizes below 1, a missing directory, a full device and an image
// whose file could pass 2^32 bytes end with "<path> : file not stored.",
// leave no file and leave the globals as they were. The float writers
// report the extremes by the range rule in SIF_F_min and SIF_F_max, in the
// SMinSampleValue and SMaxSampleValue entries and, when given SIF_F_desc,
// in the description. Where each writer puts the description is a row of
// the table too; the rest of each writer's own layout is tested beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "common/tiff.h"
#include "tests/support/fatal.h"
#include "tests/support/files.h"
#include "tests/support/images.h"
#include "tests/support/libtiff_oracle.h"
#include "tests/support/tiff_layout.h"
#include "tiffread/rif_f.h"
#include "tiffwrite/sif.h"
#include "tiffwrite/sif_f.h"

namespace pvtest {
namespace {

namespace tiff = pv::tiff;

// How a source hands over its rows: where they already lie, or copied
// into the writer's scratch.
enum class Form { kInPlace, kScratch };

// Stores `img` as samples of type T through a writer, with `bits` after the
// size for the integer writer. An image without values stands for one the
// writer must refuse before it reads a row: its rows all point at one zero
// sample.
template <class T, class Writer, class... Bits>
void StoreAs(Writer writer, const std::string& path, const Image& img, const char* description,
             Form form, Bits... bits) {
  std::vector<T> samples(img.values.begin(), img.values.end());
  if (samples.empty()) samples.push_back(T{});
  const std::size_t step = img.values.empty() ? 0 : std::size_t(img.nx);
  const auto source = [&](std::uint32_t y, T* scratch) -> const T* {
    const T* row = samples.data() + y * step;
    if (form == Form::kInPlace) return row;
    std::copy_n(row, img.nx, scratch);
    return scratch;
  };
  writer(path.c_str(), img.nx, img.ny, bits..., source, description);
}

// Each writer by one signature; the integer writer at kBits bits.
template <int kBits>
void StoreInt(const std::string& p, const Image& img, const char* d, Form form) {
  StoreAs<std::uint16_t>([](auto... a) { pv::StoreImageFile(a...); }, p, img, d, form, kBits);
}
template <pv::FloatLayout kLayout>
void StoreFloat(const std::string& p, const Image& img, const char* d, Form form) {
  StoreAs<double>([](auto... a) { pv::StoreImageFile_Float(a..., kLayout); }, p, img, d, form);
}
// The same, as the next page of a file.
template <int kBits>
void PageInt(pv::TiffFileOut& f, const Image& img, const char* d) {
  StoreAs<std::uint16_t>([&](const char*, auto... a) { pv::StoreImagePage(f, a...); }, f.path(),
                         img, d, Form::kInPlace, kBits);
}
template <pv::FloatLayout kLayout>
void PageFloat(pv::TiffFileOut& f, const Image& img, const char* d) {
  StoreAs<double>([&](const char*, auto... a) { pv::StoreImagePage_Float(f, a..., kLayout); },
                  f.path(), img, d, Form::kInPlace);
}

struct Writer {
  const char* name;
  void (*store)(const std::string& path, const Image& img, const char* description, Form form);
  std::uint16_t bits;  // integers below 2^bits, or 32-bit floats
  bool floating;
  std::uint16_t compression;
  int huge_nx, huge_ny;  // an image whose strips could pass 2^32 bytes (0: the layout has
                         // none: a BigTIFF holds its one strip) ...
  const char* huge_description;  // ... with this description
  bool one_strip = false;  // the fast layout: the description block behind the directory
  void (*page)(pv::TiffFileOut& file, const Image& img, const char* description) = nullptr;
};

// The float writers come last.
const Writer kWriters[] = {
    {"sif_16bit", StoreInt<16>, 16, false, tiff::kCompressionLZW, INT_MAX, 2, nullptr, false,
     PageInt<16>},
    {"sif_12bit", StoreInt<12>, 12, false, tiff::kCompressionLZW, INT_MAX, 2, nullptr, false,
     PageInt<12>},
    {"fast_float_writer", StoreFloat<pv::FloatLayout::kOneStrip>, 32, true, tiff::kCompressionNone,
     0, 0, nullptr, true, PageFloat<pv::FloatLayout::kOneStrip>},
    {"full_float_writer_lzw", StoreFloat<pv::FloatLayout::kLzwStrips>, 32, true, tiff::kCompressionLZW,
     INT_MAX, 1, nullptr, false, PageFloat<pv::FloatLayout::kLzwStrips>},
    {"full_float_writer_nolzw", StoreFloat<pv::FloatLayout::kStrips>, 32, true, tiff::kCompressionNone,
     INT_MAX, 1, nullptr, false, PageFloat<pv::FloatLayout::kStrips>},
};
constexpr int kIntWriters = 2;

// An image the writer stores exactly: smooth whole numbers with a little
// noise for the integer writer, doubles with fractions for the float
// writers (which round them to single precision).
Image MakeImage(const Writer& w, int nx, int ny, std::uint32_t seed) {
  if (w.floating) return SmoothImage(nx, ny, seed);
  std::mt19937 rng(seed);
  Image img{nx, ny, {}};
  for (int i = 0; i < ny; ++i)
    for (int j = 0; j < nx; ++j) img.values.push_back(((i + j) / 3 + rng() % 3) % (1u << w.bits));
  return img;
}

// A stored extreme: the value field of a FLOAT entry.
float EntryFloat(const Bytes& file, std::uint16_t tag) {
  const auto e = ParseDirectory(file).Find(tag);
  return e ? std::bit_cast<float>(e->value) : -1.0f;
}

// Equal, a NaN to any NaN, with the sign of zeros and of NaN.
template <class T>
bool Same(T a, T b) {
  return (std::isnan(a) ? std::isnan(b) : a == b) && std::signbit(a) == std::signbit(b);
}

class AllWriters : public testing::TestWithParam<Writer> {};
class FloatWriters : public testing::TestWithParam<Writer> {};

TEST_P(AllWriters, DescriptionIsStoredAsGivenInItsPlace) {
  // A text is stored unchanged, SIF_F_desc too for the integer writer; a
  // float writer given SIF_F_desc stores the extremes in it. Either way a
  // float writer reports the extremes. Up to 4 bytes with the NUL stand in
  // the entry, zeros after them; a longer text is a block: in front of the
  // strips (at 8, padded to even: the first strip follows it) in the strip
  // layout, behind the 14 entries of the directory (at 182 + the strip's
  // bytes) in the fast one. The image has three strips in the strip layout.
  const Writer& w = GetParam();
  const struct {
    const char* name;
    const char* given;  // null: none
    bool own;           // SIF_F_desc instead
  } cases[] = {
      {"none", nullptr, false},
      {"empty: L = 1", "", false},
      {"L = 4 in the entry", "abc", false},
      {"L = 5 in a block", "abcd", false},
      {"L = 6", "abcde", false},
      {"L = 7 and a pad byte", "abcdef", false},
      {"19 characters", "0123456789012345678", false},
      {"SIF_F_desc", nullptr, true},
  };
  TempDir dir;
  Image img{5000, 3, {}};
  for (int k = 0; k < img.nx * img.ny; ++k) img.values.push_back(k % 3 == 0 ? 1 : k % 3 == 1 ? 5 : 3);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::strcpy(pv::SIF_F_desc, "stale");
    pv::SIF_F_min = pv::SIF_F_max = -99;
    w.store(dir / "d.tif", img, c.own ? pv::SIF_F_desc : c.given, Form::kInPlace);
    const std::string own = w.floating ? "1.000000\t5.000000" : "stale";
    EXPECT_EQ(pv::SIF_F_desc, c.own ? own : "stale");
    EXPECT_EQ(pv::SIF_F_min, w.floating ? 1.0 : -99);
    EXPECT_EQ(pv::SIF_F_max, w.floating ? 5.0 : -99);
    const LibtiffImage back = ReadWithLibtiff(dir / "d.tif");
    EXPECT_LIBTIFF_CLEAN(back);
    const std::optional<std::string> text = c.own ? std::optional<std::string>(own)
                                            : c.given ? std::optional<std::string>(c.given)
                                                      : std::nullopt;
    EXPECT_EQ(back.description, text);
    EXPECT_EQ(back.values, img.values);
    const Bytes f = ReadFile(dir / "d.tif");
    if (w.floating) {
      EXPECT_EQ(EntryFloat(f, tiff::kSMinSampleValue), 1.0f);
      EXPECT_EQ(EntryFloat(f, tiff::kSMaxSampleValue), 5.0f);
    }
    const TiffDirectory d = ParseDirectory(f);
    const auto e = d.Find(tiff::kImageDescription);
    ASSERT_EQ(e.has_value(), text.has_value());
    std::uint32_t first_strip = 8;
    if (text) {
      const std::string stored = *text + '\0';
      const auto length = std::uint32_t(stored.size());
      EXPECT_EQ(e->type, tiff::kAscii);
      EXPECT_EQ(e->count, length);
      if (length <= 4) {
        Bytes field(stored.begin(), stored.end());
        field.resize(4, 0);
        EXPECT_EQ(Bytes(f.begin() + e->at + 8, f.begin() + e->at + 12), field);
      } else {
        const std::uint32_t at = w.one_strip ? 182 + 4 * std::uint32_t(img.nx * img.ny) : 8;
        EXPECT_EQ(e->value, at);
        ASSERT_LE(std::size_t(at) + length, f.size());
        EXPECT_EQ(std::string(f.begin() + at, f.begin() + at + length), stored);
        if (!w.one_strip) first_strip = 8 + length + (length & 1);
      }
    }
    const StripTable strips = Strips(f, d);
    ASSERT_EQ(strips.offsets.size(), w.one_strip ? 1u : 3u);
    EXPECT_EQ(strips.offsets[0], first_strip);
  }
}

TEST_P(FloatWriters, ExtremesFollowTheRangeRule) {
  // The extremes of the finite values (NaN and infinities never are one), of
  // +0 and -0 the first stays; none: the positive NaN; over the doubles as
  // given, not their floats.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const int nx = 1024, ny = 300;
  const auto at = [](int row) { return std::size_t(row) * nx + 7; };
  const struct {
    const char* name;
    int nx, ny;
    double background;
    std::vector<std::pair<std::size_t, double>> set;
    double lo, hi;
    const char* text;
  } cases[] = {
      {"equal values", 3, 1, 7.5, {}, 7.5, 7.5, "7.500000\t7.500000"},
      {"a NaN in between", 3, 1, 1, {{1, nan}, {2, -2}}, -2, 1, "-2.000000\t1.000000"},
      {"a NaN first is skipped", 3, 1, 1, {{0, nan}, {2, 2}}, 1, 2, "1.000000\t2.000000"},
      {"infinities are skipped", 3, 1, 1, {{0, -inf}, {2, inf}}, 1, 1, "1.000000\t1.000000"},
      {"no finite value: NaN, NaN", 3, 1, nan, {{0, -inf}, {1, inf}}, nan, nan, "nan\tnan"},
            // Six decimals would not tell the two apart: 17 digits.
      {"two doubles of one float", 2, 1, 1, {{1, 1 + 1e-12}}, 1, 1 + 1e-12, "1\t1.0000000000010001"},
      // Many rows: the full writer finds the extremes in bands on all CPUs,
      // here with the deciding values in different bands.
      {"many rows, a NaN first", nx, ny, 0.5, {{0, nan}, {at(100), -3}, {at(250), 9}}, -3, 9,
       "-3.000000\t9.000000"},
      {"many rows, infinities in two bands", nx, ny, 0.5, {{at(10), inf}, {at(290), -inf}}, 0.5,
       0.5, "0.500000\t0.500000"},
      {"many rows, a NaN later", nx, ny, 0.5, {{at(70), nan}, {at(200), -1e-300}}, -1e-300, 0.5,
       "-0.000000\t0.500000"},
      {"many rows, +0 before -0", nx, ny, 0.5, {{at(64), 0.0}, {at(260), -0.0}}, 0.0, 0.5,
       "0.000000\t0.500000"},
      {"many rows, -0 before +0", nx, ny, 0.5, {{at(64), -0.0}, {at(260), 0.0}}, -0.0, 0.5,
       "-0.000000\t0.500000"},
      {"many rows, first zero of the maximum", nx, ny, -2, {{at(1), -0.0}, {at(299), 0.0}}, -2,
       -0.0, "-2.000000\t-0.000000"},
  };
  const Writer& w = GetParam();
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Image img{c.nx, c.ny, std::vector<double>(std::size_t(c.nx) * std::size_t(c.ny), c.background)};
    for (const auto& [k, v] : c.set) img.values[k] = v;
    w.store(dir / "r.tif", img, pv::SIF_F_desc, Form::kInPlace);
    EXPECT_PRED2(Same<double>, pv::SIF_F_min, c.lo);
    EXPECT_PRED2(Same<double>, pv::SIF_F_max, c.hi);
    EXPECT_STREQ(pv::SIF_F_desc, c.text);
    const Bytes f = ReadFile(dir / "r.tif");
    EXPECT_PRED2(Same<float>, EntryFloat(f, tiff::kSMinSampleValue), static_cast<float>(c.lo));
    EXPECT_PRED2(Same<float>, EntryFloat(f, tiff::kSMaxSampleValue), static_cast<float>(c.hi));
  }
}

TEST_P(FloatWriters, HugeValuesBecomeInfinityButKeepTheirDoubleExtreme) {
  const Writer& w = GetParam();
  TempDir dir;
  w.store(dir / "h.tif", {2, 1, {0, 1e300}}, pv::SIF_F_desc, Form::kInPlace);
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(ReadWithLibtiff(dir / "h.tif").values, (std::vector<double>{0, inf}));
  EXPECT_EQ(EntryFloat(ReadFile(dir / "h.tif"), tiff::kSMaxSampleValue), float(inf));
  EXPECT_EQ(pv::SIF_F_max, 1e300);
  char expected[512];
  std::snprintf(expected, sizeof expected, "0.000000\t%lf", 1e300);
  EXPECT_STREQ(pv::SIF_F_desc, expected);
}

TEST_P(AllWriters, RowsInPlaceOrInTheScratchGiveOneFileThatLibtiffReads) {
  // The source is called on several threads at once (and twice a row by the
  // full float writer: extremes, then strips).
  const Writer& w = GetParam();
  TempDir dir;
  const Image img = MakeImage(w, 1500, 300, 5);
  w.store(dir / "t.tif", img, pv::SIF_F_desc, Form::kInPlace);
  const std::string in_place = pv::SIF_F_desc;
  w.store(dir / "s.tif", img, pv::SIF_F_desc, Form::kScratch);
  EXPECT_EQ(pv::SIF_F_desc, in_place);
  EXPECT_TRUE(ReadFile(dir / "t.tif") == ReadFile(dir / "s.tif"));
  const LibtiffImage back = ReadWithLibtiff(dir / "t.tif");
  EXPECT_LIBTIFF_CLEAN(back);
  EXPECT_EQ(back.width, 1500u);
  EXPECT_EQ(back.height, 300u);
  EXPECT_EQ(back.bits, w.bits);
  EXPECT_EQ(back.sample_format, w.floating ? tiff::kSampleIEEEFloat : tiff::kSampleUnsigned);
  EXPECT_EQ(back.compression, w.compression);
  EXPECT_EQ(back.photometric, tiff::kBlackIsZero);
  EXPECT_TRUE(back.values == (w.floating ? AsFloat32(img.values) : img.values));
}

TEST_P(AllWriters, RefusalsLeaveNoFileAndTheGlobalsAlone) {
  const Writer& w = GetParam();
  TempDir dir;
  const struct {
    const char* name;
    std::string path;
    int nx, ny;
    const char* description;
  } cases[] = {
      {"width 0", dir / "a.tif", 0, 1, pv::SIF_F_desc},
      {"height 0", dir / "a.tif", 1, 0, pv::SIF_F_desc},
      {"missing directory", dir / "no/such.tif", 1, 1, pv::SIF_F_desc},
      // Refused before a row is read (every row leads to one sample). A
      // file that could pass 2^32 bytes is a BigTIFF instead.
      {"strip could pass 2^32", dir / "big.tif", w.huge_nx, w.huge_ny, w.huge_description},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.nx == 0 && c.path == dir / "big.tif") continue;
    pv::SIF_F_min = pv::SIF_F_max = -7;
    std::strcpy(pv::SIF_F_desc, "kept");
    EXPECT_EQ(FatalLine([&] { w.store(c.path, {c.nx, c.ny, {}}, c.description, Form::kInPlace); }),
              c.path + " : file not stored.\n");
    EXPECT_FALSE(Exists(c.path));
    EXPECT_EQ(pv::SIF_F_min, -7);
    EXPECT_EQ(pv::SIF_F_max, -7);
    EXPECT_STREQ(pv::SIF_F_desc, "kept");
  }
}

TEST_P(AllWriters, FullDeviceIsReported) {
  // Within the first output block, and beyond it.
  const Writer& w = GetParam();
  for (int n : {1, 512}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(FatalLine([&] { w.store("/dev/full", MakeImage(w, n, n, 1), nullptr, Form::kInPlace); }),
              "/dev/full : file not stored.\n");
  }
}

// A stack in one file: pages of other sizes, each with its own description
// (or none), read back page by page by libtiff and by our reader; as a
// classic TIFF, and as a BigTIFF where the size from which a file is one is
// lowered to a few bytes (a file of one page: where the classic file would
// reach it, which the description's length may decide).
TEST_P(AllWriters, PagesInOneFileClassicAndBig) {
  const Writer& w = GetParam();
  TempDir dir;
  const std::string path = dir / "stack.tif";
  const Image pages[] = {MakeImage(w, 5, 3, 1), MakeImage(w, 2, 7, 2), MakeImage(w, 700, 40, 3)};
  const char* const texts[] = {"first page", nullptr, "p3"};
  for (const std::uint64_t limit : {std::uint64_t{1} << 32, std::uint64_t{1}}) {
    SCOPED_TRACE(limit == 1 ? "BigTIFF" : "classic");
    {
      pv::TiffFileOut file(path.c_str(), w.one_strip, 3);
      file.SetClassicLimit(limit);
      for (int k = 0; k < 3; ++k) {
        if (k < 2) file.ExpectNext(std::uint32_t(pages[k + 1].nx), std::uint32_t(pages[k + 1].ny));
        w.page(file, pages[k], texts[k]);
      }
    }
    EXPECT_EQ(ReadFile(path).at(2), limit == 1 ? tiff::kBigMagic : tiff::kMagic);
    const std::vector<LibtiffImage> back = ReadPagesWithLibtiff(path);
    ASSERT_EQ(back.size(), 3u);
    pv::TiffPages ours(path.c_str());
    for (int k = 0; k < 3; ++k) {
      SCOPED_TRACE("page " + std::to_string(k + 1));
      EXPECT_LIBTIFF_CLEAN(back[k]);
      EXPECT_EQ(back[k].values, w.floating ? AsFloat32(pages[k].values) : pages[k].values);
      EXPECT_EQ(back[k].description, texts[k] ? std::optional<std::string>(texts[k]) : std::nullopt);
      if (k > 0) {
        ASSERT_TRUE(ours.Next());
      }
      pv::StoredImage image;
      pv::ReadPage_Float(ours, nullptr, nullptr, &image, nullptr);
      EXPECT_EQ(image.width(), pages[k].nx);
      EXPECT_EQ(image.height(), pages[k].ny);
    }
    EXPECT_FALSE(ours.Next());
  }
  // A larger later page: refused in a classic file, unless announced, which
  // makes the file a BigTIFF.
  for (const bool announced : {false, true}) {
    SCOPED_TRACE(announced ? "the largest page announced" : "not announced");
    const std::string line = FatalLine([&] {
      pv::TiffFileOut file(path.c_str(), w.one_strip, 2);
      file.SetClassicLimit(30000);
      if (announced) file.ExpectLargest(700, 40);
      file.ExpectNext(700, 40);
      w.page(file, pages[0], texts[0]);
      w.page(file, pages[2], texts[2]);
    });
    EXPECT_EQ(line, announced ? "" : path + " : file not stored.\n");
    if (announced) {
      EXPECT_EQ(ReadPagesWithLibtiff(path).size(), 2u);
    }
  }
  if (!w.one_strip) return;
  // One image of one sample: 186 bytes and the text with its NUL, the
  // limit at 202.
  for (const char* text : {"fourteen chars", "fifteen chars.."}) {
    {
      pv::TiffFileOut file(path.c_str(), false);
      file.SetClassicLimit(202);
      w.page(file, MakeImage(w, 1, 1, 4), text);
    }
    EXPECT_EQ(ReadFile(path).at(2), std::strlen(text) == 14 ? tiff::kMagic : tiff::kBigMagic) << text;
    EXPECT_EQ(ReadWithLibtiff(path).description, text);
  }
}

std::string Name(const testing::TestParamInfo<Writer>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Writers, AllWriters, testing::ValuesIn(kWriters), Name);
INSTANTIATE_TEST_SUITE_P(Writers, FloatWriters,
                         testing::ValuesIn(std::begin(kWriters) + kIntWriters, std::end(kWriters)),
                         Name);

}  // namespace
}  // namespace pvtest
