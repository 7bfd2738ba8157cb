#include "common/error.h"

#include <cstdio>
#include <new>

#include "common/progress.h"

namespace pv {

namespace {

// "<subject> : <message>" and the line's own ending.
std::string SubjectLine(std::string_view subject, std::string_view message, std::string_view end) {
  std::string line(subject);
  line += " : ";
  line += message;
  line += end;
  return line;
}

}  // namespace

std::string ErrorLine(std::string_view subject, std::string_view message) {
  return SubjectLine(subject, message, "\n");
}

std::string WarningLine(std::string_view subject, std::string_view message) {
  return SubjectLine(subject, message, " (warning).\n");
}

void Error(const std::string& message) { throw FatalError(message + "\n"); }

void Fail(std::string line) { throw FatalError(std::move(line)); }

namespace {
thread_local WarningCapture* capture = nullptr;
}  // namespace

WarningCapture::WarningCapture() : outer_(capture) { capture = this; }
WarningCapture::~WarningCapture() { capture = outer_; }

void Warn(const std::string& line) {
  if (capture != nullptr) {
    capture->lines_ += line;
    return;
  }
  if (!line.empty()) EraseProgressLine();
  std::fwrite(line.data(), 1, line.size(), stderr);
}

int RunMain(int (*body)(int argc, char** argv), int argc, char** argv) {
  try {
    return body(argc, argv);
  } catch (const FatalError& e) {
    EraseProgressLine();
    std::fflush(stdout);
    std::fputs(e.what(), stderr);
  } catch (const std::bad_alloc&) {
    // Modules turn the allocations a file can steer into their own messages;
    // this only catches what is left (the host itself running out).
    EraseProgressLine();
    std::fflush(stdout);
    std::fputs("memory allocation error.\n", stderr);
  }
  return 1;
}

}  // namespace pv
