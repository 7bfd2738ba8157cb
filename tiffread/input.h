// The reader's one input source: the file being read and its path, which
// every message of the reader names.
//
// A regular file is read with positioned reads: its header and directory in
// blocks (a few small reads, which is all that a call for the size only
// costs), and the strips of an uncompressed image straight into their place
// in the image where they are long, in blocks copied on where they are
// short. The stored strips of a compressed image are brought into
// memory first (Load), so that every strip decoder reads straight from
// there, with no system call per block. Several decoders may read a regular
// file at once, in memory or (where Load could not bring it there) with
// positioned reads into blocks of their own. Any other file (a pipe, a
// device) is read through the standard stream in blocks, one reader at a
// time. All three give the same bytes and
// the same end.
//
// A file that another process truncates while we read it (a slice being
// rewritten, a copy still running) must end as any short file does, never
// with the bus error that reading a mapping past the file's new end gives.
// So Load maps a file only under a read lease: the kernel then holds back
// any other process's truncation of the file (or opening it for writing)
// until we close it, up to the lease-break time (45 s by default). Where
// no lease can be had (the file is open for writing elsewhere, it belongs
// to another user, its file system has none), Load reads it into memory;
// a file that shrinks meanwhile is read on with positioned reads, which
// meet its new end.
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
#include <utility>

namespace pv::reader {

// A view of file bytes: `size` bytes at `data`.
struct Bytes {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

// Memory for a whole file: fresh pages (huge pages for large files) where
// that is cheaper than the allocator's, kept by a thread from file to file.
class LoadBuffer {
 public:
  LoadBuffer() = default;
  ~LoadBuffer();
  LoadBuffer(LoadBuffer&& other) noexcept { *this = std::move(other); }
  LoadBuffer& operator=(LoadBuffer&& other) noexcept;

  // Room for `bytes` bytes (the contents are not kept); false when it
  // cannot be had.
  bool Reserve(std::size_t bytes);
  std::uint8_t* data() const { return data_; }
  std::size_t capacity() const { return capacity_; }

 private:
  void Release();
  std::uint8_t* data_ = nullptr;
  std::size_t capacity_ = 0;
  bool mapped_ = false;
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
  // The subject of the messages from now on (a page of the file); it must
  // outlive the object.
  void Rename(const char* subject) { path_ = subject; }
  // Load maps the file under a read lease, but never reads it whole: for
  // one page of a stack in one file read on its own (the other pages read
  // by other readers), whose whole file each would read again.
  void LoadMappedOnly() { mapped_only_ = true; }

  // Brings a regular file into memory: mapped under a read lease, or read
  // whole into a buffer that the calling thread keeps from file to file;
  // nothing for other files, or when the memory cannot be had, or the file
  // shrinks meanwhile.
  void Load();
  // Whether the file is in memory: then Window never copies. For any
  // regular file, in memory or not, Window may be called from several
  // threads at once (each with a block of its own).
  bool in_memory() const { return memory_ != nullptr || (regular_ && size_ == 0); }
  // Whether the file is a regular one, whose size is known.
  bool regular() const { return regular_; }
  // The file's size when it was opened (regular files).
  std::uint64_t size() const { return size_; }

  // The bytes from file offset `at` on. In memory: a view up to the end of
  // the file (`block` unused). Otherwise at most `capacity` bytes read into
  // `block`, which may be their final place. Empty when the file has no byte
  // at `at` (or cannot seek there).
  Bytes Window(std::uint64_t at, std::uint8_t* block, std::size_t capacity);

 private:
  // Maps the file under a read lease; false when no lease can be had.
  bool MapLeased();

  const char* path_;
  int fd_ = -1;                  // a regular file
  bool regular_ = false;
  std::uint64_t size_ = 0;
  const std::uint8_t* memory_ = nullptr;  // the whole file, once loaded
  bool mapped_ = false;                   // memory_ is a leased mapping (else in loaded_)
  bool mapped_only_ = false;              // Load never reads the file whole
  LoadBuffer loaded_;
  std::FILE* file_ = nullptr;             // any other file
  std::uint64_t file_pos_ = UINT64_MAX;   // where the stream stands (unknown at first)
};

}  // namespace pv::reader
