// pvheader's refusals, run as a user runs it: each ends with its one line
// and exit status 1, and leaves no header file. (What the headers say is
// checked by the programs that read them: readers_test.py.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/tools/program_cases.h"

namespace {

using pvtest::RunProgram;
using pvtest::TempDir;
using pvtest::VolumeBytes;

TEST(Pvheader, RefusalsWriteNothing) {
  TempDir dir;
  const std::vector<double> six = {1, 2, 3, 4, 5, 6};
  pvtest::WriteFile(dir / "v.bin", VolumeBytes("3\t2\n", six));
  pvtest::WriteFile(dir / "short.bin", VolumeBytes("3\t2\n", {1, 2, 3, 4, 5}));
  pvtest::WriteFile(dir / "long.bin", VolumeBytes("3 2 1\n", {1, 2, 3, 4, 5, 6, 7}));
  pvtest::WriteFile(dir / "text.bin", "width height\n");
  pvtest::WriteFile(dir / "x.hdr", VolumeBytes("3\t2\n", six));
  pvtest::WriteFile(dir / "50%.bin", VolumeBytes("3\t2\n", six));
  pvtest::WriteFile(dir / "a\nb.bin", VolumeBytes("3\t2\n", six));
  pvtest::WriteFile(dir / "huge.bin", "2147483647 2147483647 2147483647\n");
  const std::string usage = "usage : pvheader image.bin header [dx dy dz]\n";
  const pvtest::Refusal cases[] = {
      {"no argument", {}, usage},
      {"one spacing", {"v.bin", "v.nhdr", "1"}, usage},
      {"four spacings", {"v.bin", "v.nhdr", "1", "1", "1", "1"}, usage},
      {"unknown extension", {"v.bin", "v.nrrd"}, "v.nrrd : unknown extension, use .nhdr, .mhd or .hdr.\n"},
      {"no extension", {"v.bin", "v"}, "v : unknown extension, use .nhdr, .mhd or .hdr.\n"},
      {"spacing 0", {"v.bin", "v.mhd", "1", "0", "1"}, "0 : spacing is not a positive number.\n"},
      {"spacing -1", {"v.bin", "v.mhd", "-1", "1", "1"}, "-1 : spacing is not a positive number.\n"},
      {"spacing abc", {"v.bin", "v.mhd", "1", "1", "abc"}, "abc : spacing is not a positive number.\n"},
      {"spacing with a tail", {"v.bin", "v.mhd", "1mm", "1", "1"}, "1mm : spacing is not a positive number.\n"},
      {"spacing inf", {"v.bin", "v.mhd", "1", "inf", "1"}, "inf : spacing is not a positive number.\n"},
      {"missing volume", {"missing.bin", "m.nhdr"}, "file not found.\n"},
      {"a folder", {".", "m.nhdr"}, ". : not a regular file.\n"},
      {"not a volume", {"text.bin", "t.nhdr"}, "bad image size.\n"},
      {"one value short", {"short.bin", "s.nhdr"},
       "short.bin : body is 40 bytes, not the 48 bytes of a 3 x 2 x 1 volume.\n"},
      {"one value long", {"long.bin", "l.mhd"},
       "long.bin : body is 56 bytes, not the 48 bytes of a 3 x 2 x 1 volume.\n"},
      {"size beyond 64 bits", {"huge.bin", "h.nhdr"},
       "huge.bin : body is 0 bytes, not the more than 2^64 bytes of a 2147483647 x 2147483647 x 2147483647 "
       "volume.\n"},
      {"ENVI name GDAL will not find", {"v.bin", "w.hdr"},
       "w.hdr : not found by GDAL beside the volume; name it v.hdr or v.bin.hdr.\n"},
      {"ENVI header away from the volume", {"v.bin", "sub/v.hdr"},
       "sub/v.hdr : not found by GDAL beside the volume; name it v.hdr or v.bin.hdr.\n"},
      {"header onto the volume", {"x.hdr", "x.hdr"}, "x.hdr : would overwrite the volume.\n"},
      {"MetaImage file pattern", {"50%.bin", "p.mhd"},
       "50%.bin : name holds %, which a MetaImage header takes for a file pattern.\n"},
      {"line break in the name", {"a\nb.bin", "a.nhdr"},
       "a\nb.bin : name holds a line break, which a header cannot carry.\n"},
      {"header folder missing", {"v.bin", "no/such/v.nhdr"}, "no/such/v.nhdr : file not stored.\n"},
  };
  std::filesystem::create_directory(dir.path() / "sub");
  for (const pvtest::Refusal& c : cases) {
    std::vector<std::string> header;  // never written, unless it names the volume
    if (c.args.size() > 1 && c.args[0] != c.args[1]) header.push_back(dir / c.args[1]);
    pvtest::ExpectRefusals("pvheader", {c}, dir.path().string(), header);
  }
  EXPECT_EQ(pvtest::ReadText(dir / "x.hdr"), VolumeBytes("3\t2\n", six));

  // And a run that succeeds prints nothing.
  auto r = RunProgram("pvheader", {"v.bin", "v.bin.hdr", "1", "1", "1"}, "", dir.path().string());
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
  EXPECT_TRUE(pvtest::Exists(dir / "v.bin.hdr"));
}

}  // namespace
