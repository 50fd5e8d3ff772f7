#include "e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/temp_dir.h"

extern char** environ;

namespace quillop::testing {
namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
  std::vector<char*> result;
  for (std::string& s : strings) result.push_back(s.data());
  result.push_back(nullptr);
  return result;
}

std::vector<std::string> environmentWith(const std::map<std::string, std::string>& changes) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (!changes.count(text.substr(0, text.find('=')))) result.push_back(text);
  }
  for (const auto& [name, value] : changes) result.push_back(name + "=" + value);
  return result;
}

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

Finished runProcess(const std::vector<std::string>& argv,
                    const std::map<std::string, std::string>& env, const std::string& directory,
                    const std::function<void(pid_t, const std::string&)>& onErrLine) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  std::vector<std::string> args = argv;
  std::vector<std::string> environment = environmentWith(env);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, args[0].c_str(), &actions, nullptr,
                                  pointers(args).data(), pointers(environment).data());
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (spawned != 0) {
    close(out[0]);
    close(err[0]);
    throw std::runtime_error("cannot start " + args[0]);
  }
  Finished finished;
  std::string errText;
  size_t errDone = 0;
  bool outOpen = true, errOpen = true;
  while (outOpen || errOpen) {
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) continue;
    if (outOpen && fds[0].revents) drain(out[0], finished.out, outOpen);
    if (errOpen && fds[1].revents) drain(err[0], errText, errOpen);
    for (size_t end; (end = errText.find('\n', errDone)) != std::string::npos; errDone = end + 1) {
      finished.errLines.push_back(errText.substr(errDone, end - errDone));
      if (onErrLine) onErrLine(pid, finished.errLines.back());
    }
  }
  if (errDone < errText.size()) finished.errLines.push_back(errText.substr(errDone));
  close(out[0]);
  close(err[0]);
  finished.status = waitProcess(pid);
  return finished;
}

pid_t startProcess(const std::vector<std::string>& argv) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  std::vector<std::string> args = argv;
  pid_t pid = 0;
  const int spawned =
      posix_spawn(&pid, args[0].c_str(), &actions, nullptr, pointers(args).data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + args[0]);
  return pid;
}

int waitProcess(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void installExecutable(const std::string& from, const std::string& to) {
  std::filesystem::create_directories(std::filesystem::path(to).parent_path());
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(to, std::filesystem::perms(0755));
}

std::string installBundle(const std::string& root, const std::string& hostName, bool withHost) {
  const std::string host = root + "/" + hostName;
  const std::string extension =
      host + "/Contents/PlugIns/QuillopShare.appex/Contents/MacOS/quillop-share";
  installExecutable(QUILLOP_SHARE_EXE, extension);
  if (withHost) {
    std::string name = hostName;
    if (name.ends_with(".app")) name.resize(name.size() - 4);
    installExecutable(QUILLOP_FAKE_HOST_EXE, host + "/Contents/MacOS/" + name);
  }
  return extension;
}

std::vector<std::string> hostLog(const std::string& folder, size_t atLeast, double wait) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(wait);
  for (;;) {
    std::vector<std::string> lines;
    if (exists(folder + "/host.log")) {
      std::istringstream text(readFile(folder + "/host.log"));
      for (std::string line; std::getline(text, line);) lines.push_back(line);
    }
    if (lines.size() >= atLeast || std::chrono::steady_clock::now() >= deadline) return lines;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace quillop::testing
