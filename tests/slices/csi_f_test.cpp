// The slice module over real slice files: the list of a stack in each of
// its forms, and the export of slices into a volume body.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "slices/csi_f.h"
#include "tests/support/slice_files.h"
#include "tests/support/fatal.h"
#include "tests/support/files.h"

namespace {

using pvtest::FloatSlice;
using pvtest::IntSlice;
using pvtest::TempDir;
using Names = std::vector<std::string>;

struct Stack {
  Names paths;
  int width = -1, height = -1, count = -1, bits = -1;
  std::string error;  // the line printed when the list was refused
};

Stack Check(const std::string& directory, const std::string& names) {
  Stack s;
  s.error = pvtest::FatalLine([&] {
    s.paths = pv::CheckSliceImages_Float(directory.c_str(), names.c_str(), &s.width, &s.height,
                                         &s.count, &s.bits);
  });
  return s;
}

// A directory of slices: a 100 x 80 float slice, a 120 x 60 8-bit slice
// and 1 x 1 16-bit slices with numbers in their names.
class SliceList : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(img);
    pvtest::WriteSlice(img + "/a.tif", FloatSlice(100, 80, std::vector<double>(8000, 1.5)));
    pvtest::WriteSlice(img + "/b.tif", IntSlice(120, 60, 8, std::vector<double>(7200, 3)));
    for (const char* n : {"s10.tif", "s9.tif", "s100.tif"})
      pvtest::WriteSlice(img + "/" + n, IntSlice(1, 1, 16, {7}));
    pvtest::WriteFile(root / "ab.txt", std::string("b.tif junk 12\n\na.tif\n"));
  }
  Names In(const std::string& dir, const Names& names) {
    Names p;
    for (const auto& n : names) p.push_back(dir + "/" + n);
    return p;
  }
  TempDir root;
  std::string img = root / "img";
};

TEST_F(SliceList, FormsGivePathsAndStackSize) {
  struct Case {
    std::string directory, names;
    Names paths;
    int width, height, bits;
  };
  const Case cases[] = {
      {img, root / "ab.txt", In(img, {"b.tif", "a.tif"}), 120, 80, 8},
      {img + "/", root / "ab.txt", In(img + "/", {"b.tif", "a.tif"}), 120, 80, 8},
      {img, "-a.tif  s9.tif a.tif", In(img, {"a.tif", "s9.tif", "a.tif"}), 100, 80, 16},
      {img, "-", In(img, {"a.tif", "b.tif", "s10.tif", "s100.tif", "s9.tif"}), 120, 80, 16},
      {img, "--r", In(img, {"s9.tif", "s100.tif", "s10.tif", "b.tif", "a.tif"}), 120, 80, 16},
      {img, "--n", In(img, {"a.tif", "b.tif", "s9.tif", "s10.tif", "s100.tif"}), 120, 80, 16},
      {img, "--nr", In(img, {"s100.tif", "s10.tif", "s9.tif", "b.tif", "a.tif"}), 120, 80, 16},
      {img, "--rn", In(img, {"s100.tif", "s10.tif", "s9.tif", "b.tif", "a.tif"}), 120, 80, 16},
      {img, "-a.tif", In(img, {"a.tif"}), 100, 80, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.directory + " " + c.names);
    const Stack s = Check(c.directory, c.names);
    EXPECT_EQ(s.error, "");
    EXPECT_EQ(s.paths, c.paths);
    EXPECT_EQ(s.count, int(c.paths.size()));
    EXPECT_EQ(s.width, c.width);
    EXPECT_EQ(s.height, c.height);
    EXPECT_EQ(s.bits, c.bits);
  }
  // Null outputs are not stored.
  EXPECT_EQ(pv::CheckSliceImages_Float(img.c_str(), "-b.tif", nullptr, nullptr, nullptr, nullptr),
            In(img, {"b.tif"}));
}

TEST_F(SliceList, Refusals) {
  const std::string empty = root / "empty";
  std::filesystem::create_directory(empty);
  pvtest::WriteFile(root / "blank.txt", std::string("\n \n"));
  pvtest::WriteFile(root / "open.txt", std::string("a.tif"));
  pvtest::WriteFile(root / "bad.txt", std::string("a.tif\nnot.tif\nb.tif\n"));
  pvtest::WriteFile(img + "/not.tif", std::string("plain text"));
  const std::string dir2046(2046, 'd'), dir2047(2047, 'd');
  struct Case {
    std::string directory, names, error;
  };
  const Case cases[] = {
      {img, root / "none.txt", root / "none.txt : name file not open.\n"},
      {img, root / "blank.txt", root / "blank.txt : no image file name.\n"},
      {img, root / "open.txt", root / "open.txt : too long line.\n"},
      {img, "-  \t", "  \t : no image file name.\n"},
      {empty, "-", empty + " : no image file name.\n"},
      {root / "nowhere", "--n", root / "nowhere : directory not open.\n"},
      {dir2047, "-a.tif", dir2047 + " : too long name.\n"},
      {dir2046, "-a.tif", dir2046 + "/a.tif : file not found.\n"},  // long, but accepted
      {img, "-a.tif " + std::string(2048, 'n'), std::string(2048, 'n') + " : too long name.\n"},
      {img, "-a.tif gone.tif", img + "/gone.tif : file not found.\n"},
      // Slices are opened in list order; the first faulty one ends the run.
      {img, root / "bad.txt", img + "/not.tif : bad magic number.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.directory.substr(0, 60) + " " + c.names.substr(0, 60));
    EXPECT_EQ(Check(c.directory, c.names).error, c.error);
  }
}

TEST_F(SliceList, SortingOptionIsCheckedAfterEverySlice) {
  EXPECT_EQ(Check(img, "--x").error, "-x : unknown sorting option.\n");
  EXPECT_EQ(Check(img, "--").error, "- : unknown sorting option.\n");
  pvtest::WriteFile(img + "/zz.tif", std::string("II*"));
  EXPECT_EQ(Check(img, "--x").error, img + "/zz.tif : unexpected end of file.\n");
}

TEST_F(SliceList, SubdirectoriesCountAsSlices) {
  std::filesystem::create_directory(img + "/sub");
  EXPECT_NE(Check(img, "-").error.find(img + "/sub : "), std::string::npos);
}

// One slice exported into a frame: the doubles written and the line printed.
struct Export {
  std::vector<double> values;
  std::string err;
  std::string error;
};

Export Dump(const pvtest::SliceImage& slice, int width, int height) {
  TempDir dir;
  pvtest::WriteSlice(dir / "s.tif", slice);
  const std::string out_path = dir / "v.bin";
  Export e;
  testing::internal::CaptureStderr();
  e.error = pvtest::FatalLine([&] {
    pv::VolumeOut out(std::fopen(out_path.c_str(), "wb"), out_path, true);
    pv::SliceStack(width, height).Dump_TIFF_Float({dir / "s.tif"}, out);
    out.Close();
  });
  e.err = testing::internal::GetCapturedStderr();
  const pvtest::Bytes bytes = pvtest::ReadFile(out_path);
  e.values.resize(bytes.size() / 8);
  std::memcpy(e.values.data(), bytes.data(), e.values.size() * 8);
  // Report paths relative to the scratch directory.
  for (std::size_t at; (at = e.err.find(dir / "")) != std::string::npos;)
    e.err.erase(at, (dir / "").size());
  return e;
}

TEST(SliceExport, MappingByDescription) {
  const std::string conv = "s.tif : converting PV by TIFF image description tag (warning).\n";
  const std::string as_is = "s.tif : using integer PV as is floating-point PV (warning).\n";
  struct Case {
    const char* what;
    pvtest::SliceImage slice;
    std::vector<double> values;
    std::string err;
  };
  const Case cases[] = {
      {"range of two words", IntSlice(3, 1, 8, {0, 255, 51}, "10.000000\t20.000000"),
       {10, 20, 10 + 51 * (10.0 / 255)}, conv},
      {"range of six words", IntSlice(2, 1, 8, {0, 255}, "a b c d 0 255"), {0, 255}, conv},
      {"base and step of three", IntSlice(2, 1, 8, {0, 3}, "x 5 0.5"), {5, 6.5}, conv},
      {"base and step of four", IntSlice(2, 1, 4, {0, 15}, "a b -1 0.25"), {-1, 2.75}, conv},
      {"base and step of eight", IntSlice(1, 1, 8, {2}, "1 2 3 4 5 6 100 10"), {120}, conv},
      {"32-bit range", IntSlice(2, 1, 32, {0, 4294967295.0}, "0 4294967295"), {0, 4294967295.0},
       conv},
      {"1-bit range", IntSlice(3, 1, 1, {1, 0, 1}, "-2 2"), {2, -2, 2}, conv},
      {"no description", IntSlice(2, 1, 16, {0, 65535}), {0, 65535}, as_is},
      {"equal range", IntSlice(2, 1, 8, {1, 2}, "10 10"), {1, 2}, as_is},
      {"step 0", IntSlice(2, 1, 8, {1, 2}, "x 5 0"), {1, 2}, as_is},
      {"one word", IntSlice(2, 1, 8, {1, 2}, "10"), {1, 2}, as_is},
      {"last word no number", IntSlice(2, 1, 8, {1, 2}, "10 twenty"), {1, 2}, as_is},
      {"five words", IntSlice(2, 1, 8, {1, 2}, "a b c 0 1"), {1, 2}, as_is},
      {"too long word", IntSlice(2, 1, 8, {1, 2}, std::string(2048, '7') + " 5 0.5"), {1, 2}, as_is},
      {"float slice", FloatSlice(3, 1, {-0.0, 1.25, -3}, "10 20"), {0.0, 1.25, -3}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Export e = Dump(c.slice, c.slice.width, c.slice.height);
    EXPECT_EQ(e.error, "");
    EXPECT_EQ(e.err, c.err);
    EXPECT_EQ(e.values, c.values);
  }
}

TEST(SliceExport, NegativeZeroOfAFloatSliceIsWrittenPositive) {
  const Export e = Dump(FloatSlice(1, 1, {-0.0}), 1, 1);
  ASSERT_EQ(e.values.size(), 1u);
  EXPECT_FALSE(std::signbit(e.values[0]));
}

TEST(SliceExport, SmallerSlicesArePaddedAndTheRangeCoversEverySlice) {
  TempDir dir;
  pvtest::WriteSlice(dir / "a.tif", FloatSlice(2, 2, {1, 2, 3, 4}));
  pvtest::WriteSlice(dir / "b.tif", IntSlice(3, 1, 8, {10, 20, 255}, "x -5 0.5"));
  pv::SliceStack stack(3, 2);
  testing::internal::CaptureStderr();
  {
    pv::VolumeOut out(std::fopen((dir / "v.bin").c_str(), "wb"), dir / "v.bin", true);
    stack.Dump_TIFF_Float({dir / "a.tif"}, out);
    EXPECT_EQ(stack.Min(), 0);  // the padding counts
    EXPECT_EQ(stack.Max(), 4);
    stack.Dump_TIFF_Float({dir / "b.tif"}, out);  // appended behind the first frame
    out.Close();
  }
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(stack.Min(), 0);
  EXPECT_EQ(stack.Max(), 122.5);
  EXPECT_EQ(pvtest::ReadText(dir / "v.bin"),
            pvtest::VolumeBytes("", {1, 2, 0, 3, 4, 0, 0, 5, 122.5, 0, 0, 0}));
}

TEST(SliceExport, RangeOfTheFiniteValuesWritten) {
  TempDir dir;
  pvtest::WriteSlice(dir / "a.tif", FloatSlice(2, 1, {-7, -8}));
  pvtest::WriteSlice(dir / "n.tif", FloatSlice(9, 1, {2, NAN, -9, 5, -INFINITY, 9, 1, INFINITY, 3}));
  pv::SliceStack stack(9, 1);
  pv::VolumeOut out(std::fopen((dir / "v.bin").c_str(), "wb"), dir / "v.bin", true);
  testing::internal::CaptureStderr();
  stack.CheckSlice((dir / "a.tif").c_str(), /*first=*/true);
  EXPECT_TRUE(std::isnan(stack.Min()) && std::isnan(stack.Max()));  // nothing written yet
  stack.Dump_TIFF_Float({dir / "a.tif", dir / "n.tif", dir / "a.tif"}, out);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(stack.Min(), -9);  // NaN and the infinities never become an extreme
  EXPECT_EQ(stack.Max(), 9);
  pv::SliceStack narrow(2, 1);
  narrow.Dump_TIFF_Float({dir / "a.tif"}, out);
  EXPECT_EQ(narrow.Min(), -8);
  EXPECT_EQ(narrow.Max(), -7);  // not a 0 from before the first value
}

TEST(SliceExport, LargeFramesGoOutInFullAcrossBlocks) {
  // A frame larger than the output block, with a row that straddles blocks.
  const int w = 3001, h = 7;
  std::vector<double> v(std::size_t(w) * h);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = double(i % 4096);
  const Export e = Dump(IntSlice(w, h, 16, v, "x 0 1"), w + 2, h + 1);
  std::vector<double> want;
  for (int i = 0; i < h + 1; ++i)
    for (int j = 0; j < w + 2; ++j)
      want.push_back(i < h && j < w ? v[std::size_t(i) * w + j] : 0.0);
  EXPECT_EQ(e.values, want);
}

}  // namespace
