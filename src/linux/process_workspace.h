// Opens an application bundle on Linux: runs "<bundle>/Contents/MacOS/<bundle name without
// .app>" detached (a session of its own, standard streams on /dev/null, no other inherited
// descriptor). When a process of the same user already runs that executable, no second one is
// started: each such process receives SIGCONT, its request to come to the front (harmless to a
// program that ignores it).
//
// The work runs on a thread of the workspace, one opening at a time; the completion is called
// there with the error (the executable's own system error, or the launch error) or none.
// Destruction waits for the openings already asked for. `openApplication` is thread-safe.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "linux/worker_queue.h"
#include "platform/file_system.h"
#include "share/services/workspace.h"

namespace quillop {

class ProcessWorkspace final : public Workspace {
 public:
  explicit ProcessWorkspace(FileSystem& fs = FileSystem::posix());

  void openApplication(const std::string& bundlePath, const OpenConfiguration& config,
                       Completion completion) override;

  // The executable of a bundle: "/a/Movarix.app" gives "/a/Movarix.app/Contents/MacOS/Movarix".
  static std::string executableOf(const std::string& bundlePath);
  // The processes of this user running the executable at `path` (links resolved on both sides).
  std::vector<int> runningInstances(const std::string& path);

 private:
  std::optional<Error> open(const std::string& bundlePath, const OpenConfiguration& config);

  FileSystem& fs_;
  WorkerQueue queue_;  // last: destroyed (and joined) first
};

}  // namespace quillop
