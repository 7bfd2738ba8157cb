// Images written by tifffile, as a user of Python's scientific stack writes
// them: a numpy array of one dtype through tifffile.imwrite with its
// defaults (one strip), no description, and an optional compression.
// Needs the system's Python with numpy and tifffile (Debian python3-numpy,
// python3-tifffile; scripts/install-test-deps.sh installs them).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/run_program.h"

namespace pvtest {

// `values` as rows of `width` samples of numpy `dtype` ("int16",
// "float32", ...), compressed with `compression` ("zlib"; "" for none).
// False, with the test failed, when tifffile could not write them.
inline bool WriteWithTifffile(const std::string& path, const std::vector<double>& values, int width,
                              const std::string& dtype, const std::string& compression = "") {
  static const char kScript[] =
      "import sys\n"
      "import numpy, tifffile\n"
      "path, dtype, compression, width = sys.argv[1:5]\n"
      "a = numpy.array([float(v) for v in sys.argv[5:]]).astype(dtype).reshape(-1, int(width))\n"
      "tifffile.imwrite(path, a, compression=compression or None, metadata=None)\n";
  std::vector<std::string> args = {"-c", kScript, path, dtype, compression, std::to_string(width)};
  for (double v : values) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    args.push_back(text);
  }
  const RunResult r = RunProgram(PV_TEST_PYTHON, args);
  EXPECT_EQ(r.status, 0) << "tifffile (Debian python3-tifffile) could not write " << path << ": " << r.err;
  return r.status == 0;
}

}  // namespace pvtest
