// The raw volume file: one header line, then the body.
//
//   header  width TAB height LF            one slice
//           width TAB height TAB count LF  count > 1 slices
//   body    count slices, each height rows of width samples, row 0 and
//           column 0 first, every sample an 8-byte IEEE double in
//           little-endian byte order; nothing between rows or slices,
//           nothing after the last sample.
//
// The format has no magic number: a file is a raw volume by its header
// alone. Readers take up to three decimal ints separated by white space,
// need the first two, and let a missing count mean 1.
//
// This module is the one home of the format: the header, the slices read
// (pvsplit), the frames written (pvstack), the body's byte order.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "common/buffered_out.h"

namespace pv::raw_volume {

// Samples are moved between memory and the body without conversion, so the
// host's doubles must already have the body's layout.
inline constexpr std::endian kBodyOrder = std::endian::little;
inline constexpr std::size_t kSampleBytes = 8;
static_assert(std::endian::native == kBodyOrder && sizeof(double) == kSampleBytes,
              "raw volume bodies are little-endian 8-byte doubles, moved as the host holds them");

struct Header {
  int width = 0;
  int height = 0;
  int count = 1;
};

// Whether a volume path stands for the standard stream (pvsplit's input,
// pvstack's output): any path whose first character is "-".
constexpr bool IsStandardStream(const char* path) { return path[0] == '-'; }

// The header line, LF included: the count only when greater than 1.
std::string FormatHeader(int width, int height, int count);

// Reads the header line (at most 2047 bytes up to and including its LF) and
// checks it. "bad image size." for no line, a longer line, fewer than two
// numbers, a value outside the int range or a value of 0 or less. The
// stream is left at the first body byte.
Header ReadHeader(std::FILE* in);

// The checks of ReadHeader on a line already read (the text up to its first
// NUL counts).
Header ParseHeader(const char* line);

// A raw volume being read, slice after slice, into one slice's memory at
// most. The header line is read and checked first.
//
// A slice that a regular file holds whole (by its size when the slice is
// taken up) is read as its rows are asked for, in one of two ways. Under a
// read lease on the file (common/file_io.h) the slice is mapped, its pages
// brought in at once, and its rows are read where they lie in the page
// cache: no other process can cut the file short under the mapping. The
// lease is looked at as each slice is taken up; once another process waits
// to truncate or write the file, the mapping goes, the lease is given back
// (the other process goes on) and the rest is read the second way: a band
// of rows at a time with positioned reads into a buffer that stays in the
// cache while the rows are used, which meet the file's end wherever it has
// moved. Any other slice, and every slice of a stream, is read whole into
// memory first, which grows only while data arrives (a few bytes declaring a
// huge volume cost a few bytes), so that a slice whose data is missing fails
// before anything is made of it.
class VolumeIn {
 public:
  // Reads the header line of `in` ("bad image size."); `in` must outlive
  // the object.
  explicit VolumeIn(std::FILE* in);
  ~VolumeIn();
  VolumeIn(const VolumeIn&) = delete;
  VolumeIn& operator=(const VolumeIn&) = delete;

  const Header& header() const { return header_; }

  // Takes up the next slice. "data read error" when the input ends within
  // it, "memory allocation error." when its memory cannot be had.
  void NextSlice();
  // Row y of the slice taken up, valid until the next call: where it lies
  // in memory, or read into `scratch` (room for a row). May be called from
  // several threads at once with different scratch. "data read error" when the file was cut short
  // since the slice was taken up; cut_short() then tells.
  const double* Row(std::uint32_t y, double* scratch);
  bool cut_short() const { return cut_short_; }

 private:
  struct Whole;
  void ReadAt(std::uint64_t at, void* into, std::size_t n);
  // Maps the slice taken up while the lease is unbroken; otherwise (or when
  // the mapping cannot be had) gives the lease back for good.
  void MapSlice();
  void Unmap();

  std::FILE* in_;
  Header header_;
  std::size_t slice_bytes_ = 0, row_bytes_ = 0;
  int fd_ = -1;                   // a regular file: its descriptor
  std::uint64_t next_ = 0;        // file offset of the next slice
  std::uint64_t slice_at_ = 0;    // file offset of the slice taken up
  bool in_place_ = false;         // the slice is read as its rows are asked for
  bool leased_ = false;           // slices are mapped under a read lease
  void* map_ = nullptr;           // the mapping of the slice taken up
  std::size_t map_bytes_ = 0;
  const unsigned char* mapped_ = nullptr;  // its first sample, in the mapping
  std::unique_ptr<Whole> whole_;  // the slices read whole
  // The band of rows read last, for the thread that took the slice up.
  std::unique_ptr<double[]> band_;
  std::uint32_t band_rows_ = 0, band_first_ = 0, band_count_ = 0;
  std::thread::id owner_;
  std::atomic<bool> cut_short_{false};
};

// A raw volume being written: the header line, then the body as
// little-endian 8-byte doubles. A failed write, flush or close ends the run
// with "<name> : data write error.\n"; a run ended by any other fault still
// writes out what was buffered, so the volume keeps every frame written
// before the fault.
class VolumeOut : public BufferedOut {
 public:
  // `file` is open for binary writing; it is closed by Close when `owned`,
  // else only flushed (standard output).
  VolumeOut(std::FILE* file, const std::string& name, bool owned);

  void PutText(std::string_view text) { PutBytes(text.data(), text.size()); }
  // Appends n values.
  void PutValues(const double* v, std::size_t n);

  // Writes n values at byte `offset` of the regular file `fd` (see
  // RegularFile), bypassing the buffer; any thread may call it. A failure
  // throws the volume's "data write error" line.
  void PutValuesAt(int fd, const double* v, std::size_t n, std::uint64_t offset) const;

 private:
  std::string name_;
};

}  // namespace pv::raw_volume
