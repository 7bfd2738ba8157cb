#include "common/progress.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/file_io.h"

namespace pv {

namespace {

// Redraws at most this often: enough to see the count move, few enough
// writes to leave the terminal (often remote) alone.
constexpr auto kRedrawInterval = std::chrono::milliseconds(250);

// The longest progress line drawn: a longer one is cut there.
constexpr std::size_t kLongestLine = 95;

// The characters of the progress line now on the screen, 0 when none is.
std::atomic<std::size_t> shown_length{0};

// Straight to the file descriptor: standard error's stdio stream is
// unbuffered, so these bytes and its own keep their order.
// A progress line that cannot be written is no reason to fail a run.
void WriteToTerminal(const std::string& text) {
  (void)WriteFully(STDERR_FILENO, text.data(), text.size());
}

}  // namespace

void EraseProgressLine() {
  const std::size_t length = std::min(shown_length.exchange(0), kLongestLine);
  if (length == 0) return;
  // Blanks rather than an escape sequence: every terminal knows them. Made
  // on the stack, without the allocator, for a signal handler's sake.
  char blanks[kLongestLine + 2];
  std::memset(blanks, ' ', sizeof blanks);
  blanks[0] = blanks[length + 1] = '\r';
  (void)WriteFully(STDERR_FILENO, blanks, length + 2);
}

Progress::Progress(std::size_t total, const char* form)
    : total_(total), form_(form), on_terminal_(::isatty(STDERR_FILENO) == 1) {
  if (on_terminal_) start_ = next_draw_ = Clock::now();
}

Progress::~Progress() {
  if (on_terminal_) EraseProgressLine();
}

void Progress::Count() {
  if (!on_terminal_) return;
  ++done_;
  if (done_ >= total_) {
    EraseProgressLine();
    return;
  }
  const Clock::time_point now = Clock::now();
  if (now < next_draw_) return;
  next_draw_ = now + kRedrawInterval;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  char text[kLongestLine + 1];
  const int n = std::snprintf(text, sizeof text, form_, done_, total_,
                              seconds > 0 ? double(done_) / seconds : 0.0);
  if (n <= 0) return;
  const std::size_t length = std::min(std::size_t(n), sizeof text - 1);
  // A shorter line than the one it replaces is padded over the old one's end.
  const std::size_t old_length = shown_length.exchange(length);
  std::string line = "\r";
  line.append(text, length);
  if (old_length > length) line.append(old_length - length, ' ');
  WriteToTerminal(line);
}

}  // namespace pv
