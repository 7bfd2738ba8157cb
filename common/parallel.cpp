#include "common/parallel.h"

#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/error.h"

namespace pv {

unsigned UsableCpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    const int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<unsigned>(n);
  }
  const unsigned n = std::thread::hardware_concurrency();
  return n > 0 ? n : 1;
}

unsigned ThreadsFor(std::uint64_t bytes) {
  constexpr std::uint64_t kPerThread = std::uint64_t{1} << 21;  // 2 MiB
  const std::uint64_t worth = std::max<std::uint64_t>(1, bytes / kPerThread);
  return static_cast<unsigned>(std::min<std::uint64_t>(UsableCpus(), worth));
}

namespace {

// Set on the pool's worker threads: work that is already spread over the
// CPUs does not spread its own parts again.
thread_local bool in_worker = false;

// The shared state of one OrderedParallel call. Items are claimed in order;
// item i may start once item i - slots has been emitted (its slot is free).
struct Pool {
  std::mutex mutex;
  std::condition_variable claimable;  // a slot was freed, or stop
  std::condition_variable finished;   // an item's work ended
  std::size_t items = 0, slots = 0;
  std::size_t next = 0;               // next item to claim
  std::size_t emitted = 0;            // items emitted so far
  std::vector<char> done;             // per slot: work of its current item ended
  std::vector<std::exception_ptr> failure;  // per slot
  std::vector<std::string> warnings;        // per slot: the lines its work warned
  bool stop = false;
};

}  // namespace

void OrderedParallel(std::size_t items, std::size_t slots,
                     const std::function<void(std::size_t, std::size_t)>& work,
                     const std::function<void(std::size_t, std::size_t)>& emit, unsigned threads) {
  if (items == 0) return;
  if (slots == 0) slots = 1;
  if (threads == 0) threads = UsableCpus();
  if (in_worker) threads = 1;
  if (threads > slots) threads = static_cast<unsigned>(slots);
  if (threads > items) threads = static_cast<unsigned>(items);
  if (threads <= 1) {
    for (std::size_t i = 0; i < items; ++i) {
      work(i, i % slots);
      emit(i, i % slots);
    }
    return;
  }

  Pool pool;
  pool.items = items;
  pool.slots = slots;
  pool.done.assign(slots, 0);
  pool.failure.assign(slots, nullptr);
  pool.warnings.assign(slots, std::string());

  auto worker = [&pool, &work] {
    in_worker = true;
    for (;;) {
      std::size_t i;
      {
        std::unique_lock lock(pool.mutex);
        pool.claimable.wait(lock, [&] {
          return pool.stop || pool.next >= pool.items || pool.next < pool.emitted + pool.slots;
        });
        if (pool.stop || pool.next >= pool.items) return;
        i = pool.next++;
      }
      const std::size_t slot = i % pool.slots;
      std::exception_ptr failure;
      std::string warnings;
      {
        WarningCapture capture;
        try {
          work(i, slot);
        } catch (...) {
          failure = std::current_exception();
        }
        warnings = capture.Take();
      }
      {
        std::lock_guard lock(pool.mutex);
        pool.failure[slot] = failure;
        pool.warnings[slot] = std::move(warnings);
        pool.done[slot] = 1;
        // A failed item ends the run at its emit: nothing after it is needed.
        if (failure) pool.items = std::min(pool.items, i + 1);
      }
      pool.finished.notify_all();
    }
  };

  std::vector<std::thread> pool_threads;
  auto stop_all = [&] {
    {
      std::lock_guard lock(pool.mutex);
      pool.stop = true;
    }
    pool.claimable.notify_all();
    for (std::thread& t : pool_threads) t.join();
  };
  try {
    for (unsigned t = 0; t < threads; ++t) pool_threads.emplace_back(worker);
    for (std::size_t i = 0; i < items; ++i) {
      const std::size_t slot = i % slots;
      std::exception_ptr failure;
      std::string warnings;
      {
        std::unique_lock lock(pool.mutex);
        pool.finished.wait(lock, [&] { return pool.done[slot] != 0; });
        failure = pool.failure[slot];
        warnings = std::move(pool.warnings[slot]);
      }
      if (!warnings.empty()) Warn(warnings);
      if (failure) std::rethrow_exception(failure);
      emit(i, slot);
      {
        std::lock_guard lock(pool.mutex);
        pool.done[slot] = 0;
        ++pool.emitted;
      }
      pool.claimable.notify_all();
    }
  } catch (...) {
    stop_all();
    throw;
  }
  stop_all();
}

}  // namespace pv
