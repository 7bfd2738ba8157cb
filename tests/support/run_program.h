// Runs a built program as a user would: arguments, standard input, a
// working directory; captures standard output, standard error and the exit
// status.
#pragma once

#include <string>
#include <vector>

namespace pvtest {

struct RunResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// `program` is a path, or the bare name of one of the suite's programs
// (looked up in the build's tools directory).
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& input = {}, const std::string& cwd = {});

// Path of one of the suite's built programs.
std::string ToolPath(const std::string& name);

}  // namespace pvtest
