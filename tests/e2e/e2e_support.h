// Running the real executables from a test: a temporary copy of the bundle tree, child
// processes with their output, and the record the tests' own host keeps.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "support/child_process.h"

namespace quillop::testing {

using Finished = ChildResult;

// Runs `argv` in `directory` with the environment changed by `env`, standard input on
// /dev/null. `onErrLine` sees every line of standard error as it comes (with the child's pid).
Finished runProcess(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                    const std::string& directory = "/",
                    const std::function<void(pid_t, const std::string&)>& onErrLine = {});

// Starts `argv` without waiting for it; returns its pid.
pid_t startProcess(const std::vector<std::string>& argv);
// Waits for `pid` and returns its exit status (128 + signal when killed).
int waitProcess(pid_t pid);

// Copies `from` to `to` (parents made) with mode 0755.
void installExecutable(const std::string& from, const std::string& to);

// Lays out "<root>/<hostName>/Contents/PlugIns/QuillopShare.appex/Contents/MacOS/quillop-share"
// and, unless `withHost` is false, the tests' own host at "<root>/<hostName>/Contents/MacOS/
// <hostName without .app>". Returns the extension's path.
std::string installBundle(const std::string& root, const std::string& hostName = "Movarix.app",
                          bool withHost = true);

// The lines of the host's "host.log" ("started <pid>", "activated <pid>"), after waiting up to
// `wait` seconds for at least `atLeast` of them.
std::vector<std::string> hostLog(const std::string& hostExecutableFolder, size_t atLeast = 0,
                                 double wait = 0);

}  // namespace quillop::testing
