// Independent work on all the CPUs the process may use, with results taken
// in order.
//
// The programs' output is strictly sequential (a file written front to
// back, messages in a fixed order), while much of the work behind it is
// independent: the strips of an image are compressed and decompressed on
// their own, the slices of a stack are read on their own. OrderedParallel
// runs the independent part of item i, `work(i, slot)`, on a pool of worker
// threads, and the sequential part, `emit(i, slot)`, on the calling thread
// in the order i = 0, 1, 2, ... At most `slots` items are between the start
// of their work and the end of their emit, so memory stays bounded: item i
// owns slot i % slots (its buffers) until its emit returns.
//
// Warnings and failures keep the sequential order too. work(i) writes
// nothing the user sees (it leaves that to emit) but its warnings: the
// lines it warns (Warn) on a worker thread are held with the item and
// printed on the calling thread right before emit(i). When work(i) throws,
// its warnings and then the exception come on the calling thread in place
// of emit(i), after emit(0 .. i-1) and before anything later, exactly where
// a one-thread run would have failed; work started on later items is
// dropped. When emit throws, the workers stop and the exception goes on.
//
// With one usable CPU (or one item, or one slot), or when called from the
// work of another OrderedParallel, no thread is started: each item's work
// and emit run in turn on the calling thread.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>

namespace pv {

// The number of CPUs this process may run on (its affinity mask), at least 1.
unsigned UsableCpus();

// The threads worth starting for work on `bytes` bytes of data: every
// usable CPU for large images and stacks, fewer for smaller ones, one (no
// thread at all) below a few MiB, where starting threads and giving each
// its own tables costs more than the work they would share.
unsigned ThreadsFor(std::uint64_t bytes);

// How batched work is sized, the one rule for every kind of it. `items`
// items go in batches of `per_batch` (batch b: b * per_batch to End(b) - 1),
// each batch an item of OrderedParallel. Threads: one for every
// `batches_per_thread` batches, at least one, at most `most_threads`. Slots:
// one for a single thread; else one a thread and one for each batch that may
// wait ahead (`ahead`, at most one a thread), never more than the batches or
// `most_slots` (which memory may bound).
struct BatchPlan {
  std::size_t items = 0, per_batch = 1, batches_per_thread = 1;
  std::size_t ahead = SIZE_MAX, most_slots = SIZE_MAX;
  unsigned most_threads = 1;

  std::size_t batches() const { return (items + per_batch - 1) / per_batch; }
  unsigned threads() const {
    return unsigned(std::clamp<std::size_t>(batches() / batches_per_thread, 1, most_threads));
  }
  std::size_t slots() const {
    if (threads() == 1) return 1;
    return std::min({batches(), most_slots, threads() + std::min<std::size_t>(ahead, threads())});
  }
  std::size_t End(std::size_t b) const { return std::min(items, (b + 1) * per_batch); }
};

// work(i, slot) on worker threads, emit(i, slot) in order on the caller.
// `threads` is the most workers to start (0: UsableCpus()).
void OrderedParallel(std::size_t items, std::size_t slots,
                     const std::function<void(std::size_t item, std::size_t slot)>& work,
                     const std::function<void(std::size_t item, std::size_t slot)>& emit,
                     unsigned threads = 0);

}  // namespace pv
