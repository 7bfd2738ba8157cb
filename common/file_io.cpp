#include "common/file_io.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace pv {

namespace {

// Repeats `call(p, left, offset)` (one read or write at `offset`, or where
// the file stands when there is none) until `n` bytes are moved, the call
// moves nothing or fails other than by an interruption. Returns the bytes
// moved.
template <class Byte, class Call>
std::size_t Repeat(Byte* p, std::size_t n, std::uint64_t offset, Call call) {
  std::size_t done = 0;
  while (done < n) {
    if (offset > std::uint64_t(INT64_MAX) - (n - done)) break;
    const ssize_t got = call(p + done, n - done, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += std::size_t(got);
    offset += std::uint64_t(got);
  }
  return done;
}

}  // namespace

std::size_t ReadFullyAt(int fd, void* into, std::size_t n, std::uint64_t at) {
  return Repeat(static_cast<unsigned char*>(into), n, at,
                [fd](unsigned char* p, std::size_t k, off_t o) { return ::pread(fd, p, k, o); });
}

bool WriteFully(int fd, const void* from, std::size_t n) {
  return Repeat(static_cast<const unsigned char*>(from), n, 0,
                [fd](const unsigned char* p, std::size_t k, off_t) { return ::write(fd, p, k); }) == n;
}

bool WriteFullyAt(int fd, const void* from, std::size_t n, std::uint64_t at) {
  return Repeat(static_cast<const unsigned char*>(from), n, at,
                [fd](const unsigned char* p, std::size_t k, off_t o) { return ::pwrite(fd, p, k, o); }) == n;
}

bool TakeReadLease(int fd) {
  // The kernel tells a lease holder of a break with SIGIO, whose default
  // would end the process; holders look at the lease instead
  // (ReadLeaseUnbroken), so the signal is of no use here.
  static const bool ignored = [] {
    struct sigaction now;
    if (::sigaction(SIGIO, nullptr, &now) == 0 && now.sa_handler == SIG_DFL) ::signal(SIGIO, SIG_IGN);
    return true;
  }();
  (void)ignored;
  return ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0;
}

// While a break is pending the kernel reports the lease the breaker leaves
// us (none, for a truncation or a writer), not the one we hold.
bool ReadLeaseUnbroken(int fd) { return ::fcntl(fd, F_GETLEASE) == F_RDLCK; }

void GiveBackLease(int fd) { ::fcntl(fd, F_SETLEASE, F_UNLCK); }

}  // namespace pv
