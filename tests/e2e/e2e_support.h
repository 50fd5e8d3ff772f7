// Running the real executables from a test: a temporary copy of the bundle tree with the tests'
// own host, the environment of a terminal share, and the record that host keeps.
#pragma once

#include <string>
#include <vector>

#include "support/child_process.h"

namespace quillop::testing {

// Copies `from` to `to` (parents made) with mode 0755.
void installExecutable(const std::string& from, const std::string& to);

// Lays out "<root>/<hostName>/Contents/PlugIns/QuillopShare.appex/Contents/MacOS/quillop-share"
// and the tests' own host as "<root>/<hostName>/Contents/MacOS/<hostName without .app>".
// Returns the extension's path.
std::string installBundle(const std::string& root, const std::string& hostName = "Movarix.app");

// A private data folder, the C.UTF-8 locale and no display: the terminal front end runs.
EnvChanges shareEnvironment(const std::string& dataHome);
// The share inbox inside the data folder `dataHome`.
std::string inboxIn(const std::string& dataHome);

// The lines of the host's "host.log" in `folder` ("started <pid>", "activated <pid>"), after
// waiting up to `wait` seconds for at least `atLeast` of them.
std::vector<std::string> hostLog(const std::string& folder, size_t atLeast = 0, double wait = 0);

}  // namespace quillop::testing
