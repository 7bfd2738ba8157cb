// Calls that may end the run, as the tests and the fuzzers see them: the
// line a FatalError would print, or the call's value. Any other exception
// passes through.
#pragma once

#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "common/error.h"

namespace pvtest {

// The line printed when `f` ends the run; empty when it returns.
template <class F>
std::string FatalLine(F&& f) {
  try {
    std::forward<F>(f)();
  } catch (const pv::FatalError& e) {
    return e.what();
  }
  return {};
}

// The value of `f`, or nothing and the line printed when it ends the run.
template <class F>
auto Outcome(F&& f) -> std::pair<std::optional<std::invoke_result_t<F>>, std::string> {
  std::optional<std::invoke_result_t<F>> value;
  std::string line = FatalLine([&] { value.emplace(std::forward<F>(f)()); });
  return {std::move(value), std::move(line)};
}

}  // namespace pvtest
