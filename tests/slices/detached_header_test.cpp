// The texts of the three header kinds, field by field, for a volume of one
// slice and of several, with and without a spacing. (That the programs they
// are written for read them is readers_test.py's to show; the refusals are
// pvheader_test's.)
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "slices/detached_header.h"
#include "tests/support/files.h"

namespace {

namespace dh = pv::detached_header;

TEST(DetachedHeader, Texts) {
  pvtest::TempDir dir;
  const std::string volume = dir / "v.bin";
  pvtest::WriteFile(volume, pvtest::VolumeBytes("3\t2\t4\n", std::vector<double>(24, 1.5)));
  pvtest::WriteFile(dir / "one.bin", pvtest::VolumeBytes("3 2\n", std::vector<double>(6, 0)));
  const dh::Volume v = dh::MeasureVolume(volume), one = dh::MeasureVolume(dir / "one.bin");
  EXPECT_EQ(v.body_offset, 6u);
  const std::vector<double> spacing = {0.5, 0.25, 2};
  EXPECT_EQ(dh::HeaderText(dh::Kind::kNrrd, v, volume, dir / "sub.nhdr", spacing),
            "NRRD0004\n# a raw volume of pvtools: little-endian doubles after a header line\n"
            "type: double\ndimension: 3\nsizes: 3 2 4\nspacings: 0.5 0.25 2\nendian: little\n"
            "encoding: raw\nbyte skip: 6\ndata file: v.bin\n");
  EXPECT_EQ(dh::HeaderText(dh::Kind::kMetaImage, one, dir / "one.bin", dir / "one.mhd", {}),
            "ObjectType = Image\nNDims = 2\nDimSize = 3 2\nElementType = MET_DOUBLE\n"
            "BinaryData = True\nBinaryDataByteOrderMSB = False\nCompressedData = False\n"
            "HeaderSize = 4\nElementDataFile = one.bin\n");
  EXPECT_EQ(dh::HeaderText(dh::Kind::kEnvi, v, volume, dir / "v.hdr", spacing),
            "ENVI\ndescription = {pvtools raw volume, voxel spacing 0.5 0.25 2}\nsamples = 3\n"
            "lines = 2\nbands = 4\nheader offset = 6\nfile type = ENVI Standard\ndata type = 5\n"
            "interleave = bsq\nbyte order = 0\nmap info = {Arbitrary, 1, 1, 0, 0, 0.5, 0.25}\n");
  EXPECT_EQ(dh::KindOf("a/b.c.mhd"), dh::Kind::kMetaImage);
}

}  // namespace
