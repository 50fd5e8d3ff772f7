// Tells whether a program file was started, and when every process started from it has ended,
// without touching the program: inotify reports each execution of the file as an open and each
// end of such a process as the matching close. The test itself must not open the file meanwhile.
// Owned by one thread.
#pragma once

#include <chrono>
#include <string>

namespace quillop::testing {

class ExecutableWatch {
 public:
  // Starts watching `path`. Throws std::runtime_error when it cannot be watched.
  explicit ExecutableWatch(const std::string& path);
  ~ExecutableWatch();
  ExecutableWatch(const ExecutableWatch&) = delete;
  ExecutableWatch& operator=(const ExecutableWatch&) = delete;

  // Waits up to `limit` until the file has been opened at least once and every open has been
  // closed again; false on timeout. Returns the number of opens seen so far through `starts`.
  bool waitUntilStartedAndEnded(std::chrono::milliseconds limit, int& starts);

 private:
  int fd_ = -1;
  int opens_ = 0;
  int closes_ = 0;
};

}  // namespace quillop::testing
