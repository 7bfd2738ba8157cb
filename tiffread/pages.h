// The pages of a TIFF file (classic or BigTIFF), walked from the first to
// the last: the directories of the file's main chain, but for those that
// are a reduced-resolution copy or a mask of another image. SubIFDs are
// not followed. A chain that comes back on itself ends the run with
// "<path> : image file directory loop." (reader_core.h has the rules).
//
// Page 1's faults are named by the path alone, exactly as for a file of one
// image; a later page's by "<path> page <k>". Each page is read by the
// readers' page entry points (ReadPage in rif.h, ReadPage_Float in rif_f.h)
// with the same rules as page 1, and nothing but the current page is held.
#pragma once

#include <cstdint>
#include <memory>

namespace pv {

namespace reader {
class TiffFile;
}

// Where a page lies: its number (1 for the first) and its directory.
struct PageAt {
  int number = 1;
  std::uint64_t directory = 0;
};

class TiffPages {
 public:
  // Opens `path` (the reader's messages for its header) and stands at page
  // 1. The path is not copied; it must outlive the object.
  explicit TiffPages(const char* path);
  // Opens `path` and stands at a page that an earlier walk of the same file
  // found.
  TiffPages(const char* path, const PageAt& page);
  ~TiffPages();
  TiffPages(const TiffPages&) = delete;
  TiffPages& operator=(const TiffPages&) = delete;

  // Moves on to the next page; false at the last one.
  bool Next();
  PageAt page() const;
  // The subject of the current page's messages: the path for page 1,
  // "<path> page <k>" for a later one.
  const char* subject() const;

  reader::TiffFile& file() { return *file_; }

 private:
  std::unique_ptr<reader::TiffFile> file_;
};

}  // namespace pv
