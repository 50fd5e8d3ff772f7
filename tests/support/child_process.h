// The one way tests run a program: spawned with standard input on /dev/null, its output
// captured, its exit waited for.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillop::testing {

// Environment changes: a value sets the variable, nullopt removes it.
using EnvChanges = std::map<std::string, std::optional<std::string>>;

struct ChildOptions {
  EnvChanges env = {};
  std::string directory = {};  // empty: the current one
  bool mergeErr = false;       // standard error into `out`, interleaved
  // Sees every line of standard error as it comes, with the child's pid.
  std::function<void(pid_t, const std::string&)> onErrLine = {};
};

struct ChildResult {
  int status = -1;  // exit status; 128 + signal number when killed by a signal
  std::string out;
  std::vector<std::string> errLines;
};

// Runs argv (argv[0] looked up in PATH when it holds no "/") and waits for it. Throws
// std::runtime_error when it cannot be started. Any thread.
ChildResult runChild(const std::vector<std::string>& argv, const ChildOptions& options = {});

// Starts argv with the test's own output and `env` applied; `waitChild` returns its status.
pid_t startChild(const std::vector<std::string>& argv, const EnvChanges& env = {});
int waitChild(pid_t pid);

}  // namespace quillop::testing
