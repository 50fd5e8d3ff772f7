// Starts the write-back of a file being written to storage, on a thread of its own, some MiB
// behind the writer: the disk works while the rest is copied, and the final sync() waits only
// for the tail. Starting write-back allocates blocks and queues the I/O, which would stall the
// writer if done inline. A hint only: sync() is what makes the file durable and what reports
// errors.
//
// `written` is called by the one thread that writes the file; the destructor stops the thread
// and joins it. The file handle must outlive this object.
#pragma once

#include <cstdint>
#include <thread>

#include "platform/file_handle.h"
#include "platform/mutex.h"

namespace quillop {

class WriteBehind {
 public:
  static constexpr std::uint64_t kStepBytes = 16 << 20;

  explicit WriteBehind(FileHandle& file);
  ~WriteBehind();
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;

  // The first `bytes` bytes of the file are written.
  void written(std::uint64_t bytes) EXCLUDES(mutex_);

 private:
  void work() EXCLUDES(mutex_);

  FileHandle& file_;
  std::uint64_t announced_ = 0;  // owner's thread only
  Mutex mutex_;
  CondVar changed_;
  std::uint64_t upTo_ GUARDED_BY(mutex_) = 0;
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::thread thread_;  // last: started once everything else exists
};

}  // namespace quillop
