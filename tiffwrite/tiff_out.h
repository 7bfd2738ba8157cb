// The output of a TIFF file, shared by every writer: a BufferedOut that
// opens the file by its path and reports every failure to create, write,
// seek, flush or close it with "<path> : file not stored.\n". What is still
// buffered when a run ends on a fatal error is dropped: a TIFF file is never
// complete without its directory.
#pragma once

#include <cstdint>
#include <optional>
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

// A TIFF file written a page at a time: the one image of a writer's entry
// point, or a stack of pages, page k + 1 right behind page k. The file is
// created when its first page begins, which its writer does where a writer
// of one image creates its file (after the checks that refuse it: a refused
// first page leaves no file). The first directory's offset stands in the
// header (PutHeader, directory.h), each directory's next offset is that of
// the next page's directory, the last one's 0. A layout whose directory
// comes last in its page (the strip layout) leaves those offsets to
// EndPage, which fills them in by seeking back; one written strictly front
// to back (the float writer's one strip) states them as it goes, for which
// it needs the size of the next page before it (ExpectNext).
//
// A file that a classic TIFF cannot hold is a BigTIFF, chosen by the first
// page's writer before the file is created (Choose): a file of one image
// is a BigTIFF exactly where its classic form could reach 2^32 bytes; a
// file of several pages where its first page and the later ones, each
// counted as large as the largest page (ExpectLargest; else as the first),
// could. A later page that a classic file still cannot hold (a larger page
// than announced, a longer description) is refused as a single image
// would be.
class TiffFileOut {
 public:
  // A file of `pages` pages (at least 1); "-" as for TiffOut.
  TiffFileOut(const char* path, bool allow_stdout, std::uint32_t pages = 1);

  const char* path() const { return path_; }
  // Whether the page to write is the first, or the last.
  bool first() const { return done_ == 0; }
  bool last() const { return done_ + 1 >= pages_; }
  // Where the page to write begins: 0 for the first (the header is its
  // own), else the end of the page before.
  std::uint64_t Offset() const { return out_ ? out_->Offset() : 0; }

  std::uint32_t pages() const { return pages_; }
  // The first page's writer, before it begins the page: `first` is the
  // most bytes its page could take as a classic file of that one page,
  // `later` the most that any later page could (so counted). Sets whether
  // the file is a BigTIFF.
  void Choose(std::uint64_t first, std::uint64_t later);
  bool big() const { return big_; }
  // Whether a file of `size` bytes can be written: any size in BigTIFF.
  bool Holds(std::uint64_t size) const { return big_ || size < classic_limit_; }
  // The size from which a file is a BigTIFF: 2^32 (tests lower it, to see
  // a BigTIFF of a few bytes).
  void SetClassicLimit(std::uint64_t bytes) { classic_limit_ = bytes; }

  // The size of the page after the one to write (a page written front to
  // back states where that one's directory lies).
  void ExpectNext(std::uint32_t nx, std::uint32_t ny) {
    next_width_ = nx;
    next_height_ = ny;
  }
  std::uint32_t next_width() const { return next_width_; }
  std::uint32_t next_height() const { return next_height_; }
  // The largest width and height of the pages to come, where they differ
  // (0: as the first page).
  void ExpectLargest(std::uint32_t nx, std::uint32_t ny) {
    largest_width_ = nx;
    largest_height_ = ny;
  }
  std::uint32_t largest_width() const { return largest_width_; }
  std::uint32_t largest_height() const { return largest_height_; }

  // The output of the page to write: the file is created for the first.
  TiffOut& Begin();
  // The page is complete. A page whose directory offset is still to be
  // stated gives it (`directory`, 0 for none) and where its own next offset
  // lies (`next_at`): the header is given the first page's before the file
  // is closed, the page before's next offset is given a later page's now.
  // The file is closed after its last page.
  void EndPage(std::uint64_t directory = 0, std::uint64_t next_at = 0);

 private:
  const char* path_;
  bool allow_stdout_;
  std::uint32_t pages_;
  std::uint32_t done_ = 0;
  std::uint64_t first_directory_ = 0;
  std::uint64_t next_at_ = 0;  // the last directory's next offset, to fill in
  std::uint32_t next_width_ = 0, next_height_ = 0;
  std::uint32_t largest_width_ = 0, largest_height_ = 0;
  bool big_ = false;
  std::uint64_t classic_limit_ = std::uint64_t{1} << 32;
  std::optional<TiffOut> out_;
};

}  // namespace pv
