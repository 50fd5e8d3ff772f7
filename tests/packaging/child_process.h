// Running a program from a test and waiting for it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillop::testing {

struct ChildResult {
  int status = -1;     // exit status; 128 + signal number when killed by a signal
  std::string output;  // standard output and standard error, interleaved
};

// The current environment with `changes` applied: a value sets the variable, nullopt removes it.
std::vector<std::string> environmentWith(
    const std::map<std::string, std::optional<std::string>>& changes);

// Runs argv[0] (looked up in PATH when it holds no "/") with `environment` in `directory`
// (the current one when empty), standard input on /dev/null, and waits for it.
// Throws std::runtime_error when it cannot be started. Any thread.
ChildResult runChild(const std::vector<std::string>& argv,
                     const std::vector<std::string>& environment,
                     const std::string& directory = "");

}  // namespace quillop::testing
