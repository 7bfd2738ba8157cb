// Buffered little-endian output of a TIFF file, shared by every writer.
//
// The writers produce their files front to back, with at most one seek back
// to fill in the directory offset. TiffOut collects the bytes in a block
// buffer and hands whole blocks to the stream, so the per-byte paths of the
// writers (pixel conversion, LZW output) cost a store and a compare.
//
// Every failure to create, write, seek, flush or close the output ends the
// run with "<path> : file not stored.\n": a short file is never reported as
// a success.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace pv {

class TiffOut {
 public:
  // Creates (or truncates) `path` for binary writing. With `allow_stdout`
  // the one-character path "-" means standard output, which is flushed but
  // never closed.
  TiffOut(const char* path, bool allow_stdout);
  ~TiffOut();  // closes silently; used when a run ends on a fatal error
  TiffOut(const TiffOut&) = delete;
  TiffOut& operator=(const TiffOut&) = delete;

  void Put1(std::uint8_t b) {
    if (used_ == kBufferSize) Drain();
    buffer_[used_++] = b;
  }
  void Put2(std::uint16_t v) {
    Put1(static_cast<std::uint8_t>(v));
    Put1(static_cast<std::uint8_t>(v >> 8));
  }
  void Put4(std::uint32_t v) {
    Put2(static_cast<std::uint16_t>(v));
    Put2(static_cast<std::uint16_t>(v >> 16));
  }
  void PutBytes(const void* data, std::size_t n);

  // Room for `n` bytes written straight into the buffer, then Commit(n).
  // n must not exceed kBufferSize.
  std::uint8_t* Reserve(std::size_t n) {
    if (kBufferSize - used_ < n) Drain();
    return buffer_ + used_;
  }
  void Commit(std::size_t n) { used_ += n; }

  // Number of bytes written so far: the offset of the next byte.
  std::uint64_t Offset() const { return flushed_ + used_; }

  // Writes the buffer out and moves to an absolute offset.
  void Seek(std::uint32_t offset);

  // Flushes and closes (standard output: flushes only); reports failure.
  void Close();

  // One directory entry: tag, field type, count, value field.
  void PutEntry(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
    Put2(tag);
    Put2(type);
    Put4(count);
    Put4(value);
  }
  // A single SHORT: the value in the first two bytes of the field, two zero bytes after.
  void PutShortEntry(std::uint16_t tag, std::uint16_t value) { PutEntry(tag, kShort, 1, value); }
  // ImageDescription of `length` bytes (text and NUL): up to 4 bytes stand in
  // the value field itself, padded with zeros; longer texts at `offset`.
  void PutDescriptionEntry(const char* text, std::uint32_t length, std::uint32_t offset);

  static constexpr std::uint16_t kAscii = 2;
  static constexpr std::uint16_t kShort = 3;
  static constexpr std::uint16_t kLong = 4;
  static constexpr std::uint16_t kFloat = 11;
  static constexpr std::size_t kBufferSize = 1 << 16;

  [[noreturn]] static void NotStored(const std::string& path);

 private:
  void Drain();
  [[noreturn]] void Abandon();

  std::FILE* file_ = nullptr;
  bool is_stdout_ = false;
  std::string path_;
  std::uint64_t flushed_ = 0;  // offset of buffer_[0] in the file
  std::size_t used_ = 0;
  std::uint8_t buffer_[kBufferSize];
};

}  // namespace pv
