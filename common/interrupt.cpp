#include "common/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "common/error.h"
#include "common/progress.h"

namespace pv {

namespace {

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<int> interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free, "the mark is set in a signal handler");

// Only what a signal handler may do: the mark, or for a second interrupt the
// line erased (EraseProgressLine writes from its own stack) and the end.
extern "C" void OnInterrupt(int signal) {
  int none = 0;
  if (interrupted.compare_exchange_strong(none, signal)) return;
  EraseProgressLine();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

}  // namespace

void CatchInterrupts() {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // Calls under way go on: the work looks for the mark between them.
  action.sa_flags = SA_RESTART;
  for (const int signal : kInterrupts) {
    struct sigaction now;
    if (::sigaction(signal, nullptr, &now) == 0 && now.sa_handler != SIG_IGN)
      ::sigaction(signal, &action, nullptr);
  }
}

int Interrupted() { return interrupted.load(std::memory_order_relaxed); }

void CheckInterrupt() {
  if (Interrupted() != 0) throw FatalError(std::string());
}

void EndByInterrupt() {
  const int signal = Interrupted();
  EraseProgressLine();
  std::fflush(stdout);
  ::signal(signal, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);  // not reached: the signal's default ends the process
}

}  // namespace pv
