#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace quillop::testing {
namespace {

std::vector<char*> pointers(const std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (const std::string& s : strings) result.push_back(const_cast<char*>(s.c_str()));
  result.push_back(nullptr);
  return result;
}

std::vector<std::string> environmentWith(const EnvChanges& changes) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (!changes.contains(text.substr(0, text.find('=')))) result.push_back(text);
  }
  for (const auto& [name, value] : changes) {
    if (value) result.push_back(name + "=" + *value);
  }
  return result;
}

pid_t spawn(const std::vector<std::string>& argv, const EnvChanges& env,
            posix_spawn_file_actions_t& actions) {
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::vector<std::string> environment = environmentWith(env);
  pid_t pid = 0;
  const int err = posix_spawnp(&pid, argv.at(0).c_str(), &actions, nullptr,
                               pointers(argv).data(), pointers(environment).data());
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(err));
  return pid;
}

// Appends what `fd` has to `into`; clears `open` at its end.
void drain(int fd, std::string& into, bool& open) {
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    into.append(buffer, static_cast<size_t>(n));
  } else if (n == 0 || errno != EINTR) {
    open = false;
  }
}

}  // namespace

ChildResult runChild(const std::vector<std::string>& argv, const ChildOptions& options) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, options.mergeErr ? out[1] : err[1], 2);
  if (!options.directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.directory.c_str());
  }
  pid_t pid = 0;
  try {
    pid = spawn(argv, options.env, actions);
  } catch (...) {
    for (int fd : {out[0], out[1], err[0], err[1]}) close(fd);
    throw;
  }
  close(out[1]);
  close(err[1]);
  ChildResult result;
  std::string errText;
  size_t errDone = 0;
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (outOpen && fds[0].revents) drain(out[0], result.out, outOpen);
    if (errOpen && fds[1].revents) drain(err[0], errText, errOpen);
    for (size_t end; (end = errText.find('\n', errDone)) != std::string::npos; errDone = end + 1) {
      result.errLines.push_back(errText.substr(errDone, end - errDone));
      if (options.onErrLine) options.onErrLine(pid, result.errLines.back());
    }
  }
  if (errDone < errText.size()) result.errLines.push_back(errText.substr(errDone));
  close(out[0]);
  close(err[0]);
  result.status = waitChild(pid);
  return result;
}

pid_t startChild(const std::vector<std::string>& argv, const EnvChanges& env) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  return spawn(argv, env, actions);
}

int waitChild(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace quillop::testing
