// Buffered output of a file written front to back: the one output path of
// every writer (TIFF files, raw volumes).
//
// Small pieces (bytes, 16- and 32-bit little-endian numbers, directory
// entries, converted samples) are collected in a block buffer, or produced
// straight into it through Reserve and Commit, and handed to the stream a
// whole block at a time, so the per-sample paths of the writers cost a store
// and a compare. A large span (a batch of compressed strips) bypasses the
// buffer: it goes to the stream as it is, without a copy. Files the owner
// opened are switched to unbuffered mode: the blocks are already large, and
// a stream buffer of its own would only copy them once more.
//
// Failure reporting is the owner's: every failed write, seek, flush or
// close ends the run with the owner's subject and message, so a short file
// is never reported as a success. Each owner also says what its destructor
// does with what is still buffered when a run ends on a fatal error before
// Close: drop it (a TIFF file is never complete without its directory) or
// write it out (a raw volume keeps every frame written before the fault).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace pv {

class BufferedOut {
 public:
  enum class OnAbandon { kDrop, kWriteOut };

  // `file` is open for binary writing. When `owned` it is set unbuffered
  // here and closed by Close (or the destructor); otherwise (standard
  // output) it is only flushed. Every failure ends the run with
  // "<subject> : <message>".
  BufferedOut(std::FILE* file, bool owned, std::string subject, const char* message,
              OnAbandon on_abandon);
  // Without Close (a run ended by a fatal error): writes out or drops what is
  // buffered, as the owner chose, and closes silently.
  virtual ~BufferedOut();
  BufferedOut(const BufferedOut&) = delete;
  BufferedOut& operator=(const BufferedOut&) = delete;

  void Put1(std::uint8_t b) {
    if (used_ == kBlock) Drain();
    buffer_[used_++] = b;
  }
  void Put2(std::uint16_t v) {
    std::uint8_t* p = Reserve(2);
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    Commit(2);
  }
  void Put4(std::uint32_t v) {
    std::uint8_t* p = Reserve(4);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    Commit(4);
  }
  // Any number of bytes; a span of a block or more is written directly.
  void PutBytes(const void* data, std::size_t n);

  // Room for `n` bytes written straight into the buffer, then Commit(n).
  // n must not exceed kBlock.
  std::uint8_t* Reserve(std::size_t n) {
    if (kBlock - used_ < n) Drain();
    return buffer_.get() + used_;
  }
  void Commit(std::size_t n) { used_ += n; }

  // Number of bytes written so far: the offset of the next byte.
  std::uint64_t Offset() const { return flushed_ + used_; }

  // Writes the buffer out and moves to an absolute offset.
  void Seek(std::uint64_t offset);

  // Writes out, flushes and closes (not owned: flushes only); reports
  // failure.
  void Close();

  // Writes out and flushes what was put so far; reports failure.
  void Flush();
  // The descriptor of a file the owner opened that is a regular file (one
  // that can be written at any offset), else -1.
  int RegularFile() const;

  // The block size: large enough that a write call's fixed cost is small
  // beside the copy, small enough that the buffer stays in the second-level
  // cache between its filling and its writing.
  static constexpr std::size_t kBlock = std::size_t{1} << 18;

 protected:
  [[noreturn]] void Failed();

 private:
  void Drain();
  void WriteOrFail(const void* data, std::size_t n);

  std::FILE* file_;
  bool owned_;
  std::string subject_;
  const char* message_;
  OnAbandon on_abandon_;
  std::uint64_t flushed_ = 0;  // offset of buffer_[0] in the file
  std::size_t used_ = 0;
  std::unique_ptr<std::uint8_t[]> buffer_;
};

}  // namespace pv
