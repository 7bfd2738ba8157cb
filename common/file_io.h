// Whole transfers on a file descriptor: the system calls may move fewer
// bytes than asked, or be interrupted by a signal, and these go on until
// everything is moved or the file has no more to give or take. And the read
// lease under which an input may be mapped.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pv {

// Reads `n` bytes from file offset `at` on into `into`; returns how many
// were read, fewer at the end of the file or on an error.
std::size_t ReadFullyAt(int fd, void* into, std::size_t n, std::uint64_t at);

// Writes the `n` bytes at `from` where the file stands; false when they
// could not all be written.
bool WriteFully(int fd, const void* from, std::size_t n);

// Writes the `n` bytes at `from` at file offset `at`; false when they could
// not all be written.
bool WriteFullyAt(int fd, const void* from, std::size_t n, std::uint64_t at);

// A mapping of a file that another process truncates gives a bus error where
// the file no longer reaches, so inputs are mapped only under a read lease:
// while we hold it, the kernel holds back any other process's truncation of
// the file (or its opening for writing), tells us, and lets that process go
// on when we give the lease back or close the file, or at the latest after
// the lease-break time (45 s by default), when it takes the lease back
// itself. A holder therefore gives the lease back soon after it is broken,
// and maps nothing more then.
//
// Takes a read lease on `fd` (open for reading only); false when none can be
// had (the file is open for writing elsewhere, belongs to another user, its
// file system has no leases).
bool TakeReadLease(int fd);
// Whether the read lease on `fd` is held and no other process waits for it.
bool ReadLeaseUnbroken(int fd);
// Gives the lease on `fd` back: a process waiting for it goes on.
void GiveBackLease(int fd);

}  // namespace pv
