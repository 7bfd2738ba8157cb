// Runs a built program as a user would: arguments, standard input, a
// working directory; captures standard output, standard error and the exit
// status.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace pvtest {

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Bounds on a run (0: none): address space and bytes per written file,
// and wall time, after which the program is ended by SIGALRM.
struct Limits {
  std::size_t address_space = 0;
  std::size_t file_size = 0;
  unsigned seconds = 0;
};

// `program` is a path, or the bare name of one of the suite's programs
// (looked up in the build's tools directory).
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input = {}, const std::string& cwd = {},
                     const Limits& limits = {});

// Path of one of the suite's built programs.
std::string ToolPath(const std::string& name);

}  // namespace pvtest
