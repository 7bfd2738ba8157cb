// The output of a TIFF file, shared by every writer: a BufferedOut that
// opens the file by its path and reports every failure to create, write,
// seek, flush or close it with "<path> : file not stored.\n". What is still
// buffered when a run ends on a fatal error is dropped: a TIFF file is never
// complete without its directory.
#pragma once

#include <string>

#include "common/buffered_out.h"

namespace pv {

class TiffOut : public BufferedOut {
 public:
  // Creates (or truncates) `path` for binary writing. With `allow_stdout`
  // the one-character path "-" means standard output, which is flushed but
  // never closed.
  TiffOut(const char* path, bool allow_stdout);
};

}  // namespace pv
