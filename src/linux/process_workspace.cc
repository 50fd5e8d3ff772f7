#include "linux/process_workspace.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/path.h"

extern char** environ;

namespace quillop {
namespace {

bool isNumber(const std::string& name) {
  return !name.empty() && name.find_first_not_of("0123456789") == std::string::npos;
}

// Starts `executable` with no arguments in a new session. Returns the errno of a failure.
int spawnDetached(const std::string& executable) {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  for (int fd = 0; fd <= 2; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  char* argv[] = {const_cast<char*>(executable.c_str()), nullptr};
  const int result = posix_spawn(&pid, executable.c_str(), &actions, &attributes, argv, environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return result;
}

}  // namespace

ProcessWorkspace::ProcessWorkspace(FileSystem& fs) : fs_(fs), queue_("workspace") {}

std::string ProcessWorkspace::executableOf(const std::string& bundlePath) {
  std::string bundle = bundlePath;
  while (bundle.size() > 1 && bundle.back() == '/') bundle.pop_back();
  std::string name = lastComponent(bundle);
  if (name.size() > 4 && name.ends_with(".app")) name.resize(name.size() - 4);
  return bundle + "/Contents/MacOS/" + name;
}

std::vector<int> ProcessWorkspace::runningInstances(const std::string& path) {
  std::vector<int> found;
  std::string executable = path;
  try {
    executable = fs_.resolve(path);
  } catch (const Error&) {
  }
  std::vector<std::string> names;
  try {
    names = fs_.list("/proc");
  } catch (const Error&) {
    return found;
  }
  const uid_t user = getuid();
  for (const std::string& name : names) {
    if (!isNumber(name)) continue;
    try {
      // Processes vanish at any moment and others' links are unreadable: skip what fails.
      if (fs_.linkStatus("/proc/" + name).st_uid != user) continue;
      if (fs_.resolve("/proc/" + name + "/exe") == executable) found.push_back(std::stoi(name));
    } catch (const Error&) {
    }
  }
  return found;
}

void ProcessWorkspace::openApplication(const std::string& bundlePath,
                                       const OpenConfiguration& config, Completion completion) {
  queue_.async([this, bundlePath, config, completion = std::move(completion)] {
    completion(open(bundlePath, config));
  });
}

std::optional<Error> ProcessWorkspace::open(const std::string& bundlePath,
                                            const OpenConfiguration& config) {
  const std::string executable = executableOf(bundlePath);
  std::string resolved;
  try {
    resolved = fs_.resolve(executable);
  } catch (const Error& error) {
    return error;
  }
  if (access(resolved.c_str(), X_OK) != 0) return systemError(errno, executable);
  if (!config.createsNewApplicationInstance) {
    const std::vector<int> running = runningInstances(resolved);
    if (!running.empty()) {
      if (config.activates) {
        for (int pid : running) kill(pid, SIGCONT);
      }
      return std::nullopt;
    }
  }
  if (const int err = spawnDetached(resolved); err != 0) return systemError(err, executable);
  return std::nullopt;
}

}  // namespace quillop
