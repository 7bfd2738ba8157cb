// The raw volume's frames out: the header and the values in order, in
// blocks, and a write that fails ends the run with the volume's line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "slices/raw_volume.h"
#include "tests/support/fatal.h"
#include "tests/support/files.h"

namespace {

using pv::raw_volume::VolumeOut;
using pvtest::FatalLine;

TEST(VolumeOut, WritesHeaderAndBlocksInOrder) {
  pvtest::TempDir dir;
  const std::string path = dir / "v.bin";
  std::vector<double> values(3 * VolumeOut::kBlock / 8 + 5);
  for (std::size_t i = 0; i < values.size(); ++i) values[i] = double(i) - 0.5;
  {
    VolumeOut out(std::fopen(path.c_str(), "wb"), path, true);
    out.PutText("7\t9\t3\n");
    for (std::size_t i = 0; i < values.size(); i += 1000)
      out.PutValues(values.data() + i, std::min<std::size_t>(values.size() - i, 1000));
    out.Close();
  }
  EXPECT_EQ(pvtest::ReadText(path), pvtest::VolumeBytes("7\t9\t3\n", values));
}

TEST(VolumeOut, FailedWriteIsADataWriteError) {
  std::FILE* f = std::fopen("/dev/full", "wb");
  if (f == nullptr) GTEST_SKIP() << "no /dev/full";
  VolumeOut out(f, "/dev/full", true);
  EXPECT_EQ(FatalLine([&] {
              out.PutText("1\t1\n");
              const double one = 1.0;
              out.PutValues(&one, 1);
              out.Close();
            }),
            "/dev/full : data write error.\n");
}

}  // namespace
