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
  const std::string& line() const noexcept { return line_; }

 private:
  std::string line_;
};

// The lines about a file (or another subject) that the suite prints:
// "<subject> : <message>\n" for a fault, "<subject> : <message>
// (warning).\n" for a warning.
std::string ErrorLine(std::string_view subject, std::string_view message);
std::string WarningLine(std::string_view subject, std::string_view message);

// The front ends' reporter: the message and a newline. Never returns.
[[noreturn]] void Error(const std::string& message);

// Ends the run with a line already formatted by a module (newline included).
[[noreturn]] void Fail(std::string line);

// Prints one warning line (already formatted, newline included) on standard
// error at once; work goes on. While a WarningCapture is alive on the
// calling thread, the line goes to it instead.
void Warn(const std::string& line);

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
// exit status 1.
int RunMain(int (*body)(int argc, char** argv), int argc, char** argv);

}  // namespace pv
