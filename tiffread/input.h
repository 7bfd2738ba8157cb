// The reader's one input source: the file being read, its path, and the
// reader's two kinds of message line.
//
// A regular file is read with positioned reads while its header and
// directory are looked at (a few small reads, which is all that a call for
// the size only costs), and is brought into memory for its strips: mapped
// read-only, or read whole when it is small, so that every strip decoder
// reads straight from memory, with no copy and no system call per block,
// and several decoders may read it at once. Any other file (a pipe, a
// device) is read through the standard stream in blocks, one reader at a
// time. All three give the same bytes and the same end.
//
// They are seen through windows: Window(at) gives the bytes that lie from
// file offset `at` on (in memory: everything up to the end of the file;
// otherwise the block read there). An empty window means that the file has
// no byte at `at`; the caller decides which message that is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

namespace pv::rif_core {


// Throws FatalError with the reader's fatal line; never returns.
[[noreturn]] void ReaderError(const char* path, std::string_view message);

// A view of file bytes: `size` bytes at `data`.
struct Bytes {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

class Input {
 public:
  // Opens `path` ("file not found." when it cannot be opened). The path is
  // not copied; it must outlive the object.
  explicit Input(const char* path);
  ~Input();
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;

  const char* path() const { return path_; }

  // Brings a regular file into memory (mapped, or read whole when small);
  // nothing for other files, or when that fails.
  void Load();
  // Whether the file is in memory: then Window never copies and may be
  // called from several threads at once.
  bool in_memory() const { return memory_ != nullptr || (regular_ && size_ == 0); }
  // The file's size (regular files).
  std::uint64_t size() const { return size_; }

  // The bytes from file offset `at` on. In memory: a view up to the end of
  // the file (`block` unused). Otherwise at most `capacity` bytes read into
  // `block`. Empty when the file has no byte at `at` (or cannot seek there).
  Bytes Window(std::uint64_t at, std::uint8_t* block, std::size_t capacity);

  // Throws FatalError with the reader's line; never returns.
  [[noreturn]] void Error(std::string_view message) const;
  // Prints the reader's warning line (through Warn, so a WarningCapture
  // collects it).
  void Warning(std::string_view message) const;

 private:
  const char* path_;
  int fd_ = -1;                  // a regular file
  bool regular_ = false;
  std::uint64_t size_ = 0;
  const std::uint8_t* memory_ = nullptr;  // the whole file, once loaded
  bool mapped_ = false;                   // memory_ is a mapping (else owned_)
  std::unique_ptr<std::uint8_t[]> owned_;
  std::FILE* file_ = nullptr;             // any other file
  std::uint64_t file_pos_ = UINT64_MAX;   // where the stream stands (unknown at first)
};

}  // namespace pv::rif_core
