#include "common/error.h"

#include <cstdio>
#include <new>

#include "common/interrupt.h"
#include "common/messages.h"
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

void Error(std::string_view message) {
  std::string line(message);
  line += '\n';
  throw FatalError(std::move(line));
}

void Error(std::string_view subject, std::string_view message) {
  throw FatalError(SubjectLine(subject, message, "\n"));
}

namespace {
thread_local WarningCapture* capture = nullptr;
}  // namespace

WarningCapture::WarningCapture() : outer_(capture) { capture = this; }
WarningCapture::~WarningCapture() { capture = outer_; }

void Warn(const std::string& lines) {
  if (lines.empty()) return;
  if (capture != nullptr) {
    capture->lines_ += lines;
    return;
  }
  EraseProgressLine();
  std::fwrite(lines.data(), 1, lines.size(), stderr);
}

void Warning(std::string_view subject, std::string_view message) {
  Warn(SubjectLine(subject, message, " (warning).\n"));
}

int RunMain(int (*body)(int argc, char** argv), int argc, char** argv) {
  int status = 1;
  try {
    status = body(argc, argv);
  } catch (const FatalError& e) {
    EraseProgressLine();
    std::fflush(stdout);
    std::fputs(e.what(), stderr);
  } catch (const std::bad_alloc&) {
    // Modules turn the allocations a file can steer into their own messages;
    // this only catches what is left (the host itself running out).
    EraseProgressLine();
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", msg::kMemoryAllocation);
  }
  // An interrupted run ends by its signal, whatever else ended its work.
  if (Interrupted() != 0) EndByInterrupt();
  return status;
}

}  // namespace pv
