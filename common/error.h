// Fatal conditions of the whole suite.
//
// Every module reports a fatal condition by throwing FatalError with the exact
// line the user is to see on standard error (its newline included). Each
// program's main runs its body through RunMain, which prints that line and
// ends with exit status 1. Modules therefore never exit the process
// themselves, and stay testable and fuzzable in-process.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace pv {

class FatalError : public std::exception {
 public:
  explicit FatalError(std::string line) : line_(std::move(line)) {}
  // The whole line as printed, newline included.
  const char* what() const noexcept override { return line_.c_str(); }

 private:
  std::string line_;
};

// The one way to end the run: "<message>\n" (the front ends' own faults)
// or "<subject> : <message>\n" (a fault of a file or another subject).
// Messages are those of common/messages.h, each with its own final period.
[[noreturn]] void Error(std::string_view message);
[[noreturn]] void Error(std::string_view subject, std::string_view message);

// The one way to warn: "<subject> : <message> (warning).\n" on standard
// error at once; work goes on. While a WarningCapture is alive on the
// calling thread, the line goes to it instead.
void Warning(std::string_view subject, std::string_view message);

// Prints warning lines that a WarningCapture collected (already formatted,
// newlines included), as Warning would have printed them.
void Warn(const std::string& lines);

// Collects the warning lines of the calling thread while it is alive, for
// work done ahead of the moment its warnings are due (a slice read on a
// worker thread, or read early to check it): they are printed later, in
// their place, or dropped. Captures nest; the innermost one collects.
class WarningCapture {
 public:
  WarningCapture();
  ~WarningCapture();
  WarningCapture(const WarningCapture&) = delete;
  WarningCapture& operator=(const WarningCapture&) = delete;

  // The lines collected so far, in order; the capture starts afresh.
  std::string Take() { return std::move(lines_); }

 private:
  friend void Warn(const std::string& line);
  std::string lines_;
  WarningCapture* outer_;
};

// Runs a program body; a FatalError is printed on standard error and gives
// exit status 1. A run that an interrupt came to ends by its signal
// (common/interrupt.h).
int RunMain(int (*body)(int argc, char** argv), int argc, char** argv);

}  // namespace pv
