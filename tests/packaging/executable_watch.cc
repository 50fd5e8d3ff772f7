#include "executable_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <stdexcept>

namespace quillop::testing {

ExecutableWatch::ExecutableWatch(const std::string& path) {
  fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  if (fd_ < 0) throw std::runtime_error("inotify_init1 failed");
  if (inotify_add_watch(fd_, path.c_str(), IN_OPEN | IN_CLOSE) < 0) {
    close(fd_);
    throw std::runtime_error("cannot watch " + path);
  }
}

ExecutableWatch::~ExecutableWatch() { close(fd_); }

bool ExecutableWatch::waitUntilStartedAndEnded(std::chrono::milliseconds limit, int& starts) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  alignas(inotify_event) char buffer[4096];
  while (opens_ == 0 || closes_ < opens_) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t count = read(fd_, buffer, sizeof buffer);
    for (ssize_t at = 0; at < count;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->mask & IN_OPEN) ++opens_;
      if (event->mask & IN_CLOSE) ++closes_;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  starts = opens_;
  return opens_ > 0 && closes_ >= opens_;
}

}  // namespace quillop::testing
