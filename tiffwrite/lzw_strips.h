// The LZW strips of an image, compressed on all the CPUs the process may use
// and written in order.
//
// Strips are compressed independently (each starts with a clear code and a
// fresh table), so the image is cut into batches of consecutive strips, and
// OrderedParallel compresses the batches on worker threads while the
// calling thread writes them out in order. A batch is the unit of
// synchronisation: large enough that handing it over costs little beside
// its compression, small enough that a few of them are in flight on every
// CPU. Each slot owns the compressed output of one batch: its strips are
// laid out one after another, each followed by its pad byte when its length
// is odd, exactly as they stand in the file, so that the batch goes to the
// file as one span, without a copy. An encoder (its 2 MiB table) belongs to
// a worker thread for the time of one batch; there are as many as threads.
//
// With one usable CPU, or an image of one batch, everything runs on the
// calling thread, batch after batch, as a plain loop would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "common/messages.h"
#include "common/parallel.h"
#include "common/sizes.h"
#include "tiffwrite/directory.h"
#include "tiffwrite/lzw_encode.h"
#include "tiffwrite/tiff_out.h"

namespace pv {

// Upper bound of an LZW strip's stored length, pad byte included.
inline std::uint64_t LzwStripBound(std::uint64_t n) { return LzwEncoder::WorstCaseBytes(n) + 1; }

class LzwStrips {
 public:
  // Plans the batches and allocates the slots' buffers and the encoders;
  // "<path> : no allocatable memory." when it cannot. The image must have
  // passed StrippedTiff::CheckSize with LzwStripBound.
  LzwStrips(const char* path, const StripPlan& plan);
  ~LzwStrips();

  // The number of slots: up to this many batches are in flight at once.
  // The rows of one slot are produced on one thread at a time, so a caller
  // keeps scratch memory per slot.
  std::size_t slots() const { return batches_.slots(); }

  // The stored bytes of row y, plan.row_bytes of them, valid until the
  // slot's next call. Called on several threads at once, with different
  // slots.
  using StoredRows = std::function<const std::uint8_t*(std::uint32_t y, std::size_t slot)>;

  // Compresses every strip and writes them all to `file`, in order.
  void Write(StrippedTiff& file, const StoredRows& stored_rows);

 private:
  struct Slot;
  LzwEncoder* TakeEncoder();
  void ReturnEncoder(LzwEncoder* encoder);

  StripPlan plan_;
  BatchPlan batches_;  // of strips
  std::vector<Slot> slot_;
  std::vector<std::unique_ptr<LzwEncoder>> encoders_;
  std::vector<LzwEncoder*> idle_;  // encoders no batch is using
  std::mutex mutex_;  // guards idle_
};

// The scratch rows of every slot of an LzwStrips: a row of samples of T for
// the caller's row source and a row of its stored bytes. "<path> : no
// allocatable memory." when they cannot be had.
template <class T>
class SlotRows {
 public:
  SlotRows(const char* path, std::size_t slots, std::size_t samples, std::size_t bytes) {
    Allocate([&] {
      for (std::size_t i = 0; i < slots; ++i) {
        samples_.emplace_back(new T[samples]);
        bytes_.emplace_back(new std::uint8_t[bytes]);
      }
    }, path, msg::kNoAllocatableMemory);
  }
  T* samples(std::size_t slot) const { return samples_[slot].get(); }
  std::uint8_t* bytes(std::size_t slot) const { return bytes_[slot].get(); }

 private:
  std::vector<std::unique_ptr<T[]>> samples_;
  std::vector<std::unique_ptr<std::uint8_t[]>> bytes_;
};

}  // namespace pv
