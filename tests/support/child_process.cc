#include "support/child_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "support/temp_dir.h"

extern char** environ;

namespace quillop::testing {
namespace {

std::vector<char*> pointers(const std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (const std::string& s : strings) result.push_back(const_cast<char*>(s.c_str()));
  result.push_back(nullptr);
  return result;
}

// Spawns argv with standard input on /dev/null, `actions` added, and `env` applied.
pid_t spawn(const std::vector<std::string>& argv, const EnvChanges& env,
            posix_spawn_file_actions_t& actions) {
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (!env.contains(text.substr(0, text.find('=')))) environment.push_back(text);
  }
  for (const auto& [name, value] : env)
    if (value) environment.push_back(name + "=" + *value);
  pid_t pid = 0;
  const int err = posix_spawnp(&pid, argv.at(0).c_str(), &actions, nullptr, pointers(argv).data(),
                               pointers(environment).data());
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(err));
  return pid;
}

}  // namespace

ChildResult runChild(const std::vector<std::string>& argv, const ChildOptions& options) {
  // Standard output goes to memory, read once the child is gone; standard error comes through a
  // pipe, line by line, as the child writes it.
  const int out = memfd_create("out", MFD_CLOEXEC);
  int err[2];
  if (out < 0 || pipe2(err, O_CLOEXEC) != 0) {
    if (out >= 0) close(out);
    throw std::runtime_error("pipe failed");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, options.mergeErr ? out : err[1], 2);
  if (!options.directory.empty())
    posix_spawn_file_actions_addchdir_np(&actions, options.directory.c_str());
  pid_t pid = 0;
  try {
    pid = spawn(argv, options.env, actions);
  } catch (...) {
    for (const int fd : {out, err[0], err[1]}) close(fd);
    throw;
  }
  close(err[1]);
  ChildResult result;
  FILE* errors = fdopen(err[0], "r");
  char* line = nullptr;
  size_t capacity = 0;
  for (ssize_t n; (n = getline(&line, &capacity, errors)) > 0;) {
    result.errLines.emplace_back(line, n - (line[n - 1] == '\n'));
    if (options.onErrLine) options.onErrLine(pid, result.errLines.back());
  }
  std::free(line);
  std::fclose(errors);
  result.status = waitChild(pid);
  result.out = readFile("/proc/self/fd/" + std::to_string(out));
  close(out);
  return result;
}

pid_t startChild(const std::vector<std::string>& argv, const EnvChanges& env) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  return spawn(argv, env, actions);
}

int waitChild(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace quillop::testing
