// Progress over many slices, for a person watching.
//
// While standard error is a terminal, a program working through many
// slices shows one line there,
//
//   "120 of 4000 slices, 35.2 slices/s"
//
// (the slices done, all the slices, and the slices a second since the
// start; "120 of 4000 slices checked, ..." while pvstack first opens every
// slice for its size), drawn first when the first slice is done and then redrawn in
// place at most four times a second. The line goes away (a carriage
// return, blanks over it, a carriage return) before any other line reaches
// the terminal: Warn and RunMain erase it before their lines, and the
// program's own work ends with it erased, when the last slice is done or
// when the work is left by a fault or an interrupt, so that the result line and anything
// after it start at the left edge. What the terminal shows at the end is
// therefore exactly what a run without progress shows.
//
// When standard error is not a terminal nothing of this happens: not one
// byte more, and no buffering changed.
//
// Everything here runs on the calling thread, where the programs print
// (work on other threads never prints); the one state shared with Warn, the
// length of the line on the screen, is atomic all the same.
#pragma once

#include <chrono>
#include <cstddef>

#include "common/messages.h"

namespace pv {

class Progress {
 public:
  // Progress over `total` slices, drawn in `form` (one of the progress
  // forms of common/messages.h); shows something only when standard error
  // is a terminal.
  explicit Progress(std::size_t total, const char* form = msg::kProgressDone);
  // Erases the line (the work is over, or left by a fault).
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // One more slice done: the line is redrawn when it is due, and erased
  // with the last slice.
  void Count();

 private:
  using Clock = std::chrono::steady_clock;
  const std::size_t total_;
  const char* const form_;
  const bool on_terminal_;
  std::size_t done_ = 0;
  Clock::time_point start_;
  Clock::time_point next_draw_;  // the earliest time of the next redraw
};

// Erases the progress line if one is on the screen, so that the next line
// written to the terminal starts at its left edge; nothing otherwise. A
// signal handler may call it.
void EraseProgressLine();

}  // namespace pv
