// The output of a TIFF file, shared by every writer: a BufferedOut that
// opens the file by its path and reports every failure to create, write,
// seek, flush or close it with "<path> : file not stored.\n". What is still
// buffered when a run ends on a fatal error is dropped: a TIFF file is never
// complete without its directory.
#pragma once

#include <string>

#include "common/buffered_out.h"

namespace pv {

// Whether a TIFF output path names standard output, for the writer that
// may write there (the one-strip float layout): exactly "-". For the other
// writers "-" is an ordinary file name.
inline bool IsStandardOutput(const char* path) { return path[0] == '-' && path[1] == '\0'; }

class TiffOut : public BufferedOut {
 public:
  // Creates (or truncates) `path` for binary writing. With `allow_stdout`,
  // IsStandardOutput paths mean standard output, which is flushed but never
  // closed.
  TiffOut(const char* path, bool allow_stdout);
};

}  // namespace pv
