// Whole transfers on a file descriptor: the system calls may move fewer
// bytes than asked, or be interrupted by a signal, and these go on until
// everything is moved or the file has no more to give or take.
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

}  // namespace pv
