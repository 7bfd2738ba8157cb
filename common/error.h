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

// The front ends' reporter: the message and a newline. Never returns.
[[noreturn]] void Error(const std::string& message);

// Ends the run with a line already formatted by a module (newline included).
[[noreturn]] void Fail(std::string line);

// Prints one warning line (already formatted, newline included) on standard
// error at once; work goes on.
void Warn(const std::string& line);

// Runs a program body; a FatalError is printed on standard error and gives
// exit status 1.
int RunMain(int (*body)(int argc, char** argv), int argc, char** argv);

}  // namespace pv
