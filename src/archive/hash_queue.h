// Sizes and hashes open regular files (DirectoryWriter::stream, no output) on a few worker threads
// and hands the results back strictly in submission order, so that a caller walking a folder
// sees the same first failure as if it had hashed every file itself, one after the other.
//
// Once a file has failed, files submitted after it are not started, and those already being
// read stop at their next chunk: their results can never be reported. The destructor stops
// every file the same way and joins all workers, so no thread outlives the queue.
//
// One file:   submitted -- a worker takes it --> reading -- end or error --> done -- next() -->
//             (gone);  submitted or reading -- an earlier file failed, or closing --> stopped
// The queue:  running -- a file fails --> failed (later files stopped) -- destroyed --> closed
//
// Wake-ups are few: a sleeping worker is woken only once enough files or bytes wait for it, or
// when the owner waits for a file not yet started; the owner is woken only for the oldest file,
// and only while it waits for it. A worker that is awake takes files until none wait.
//
// `cancelled` is polled by the workers (before the first read of a file and after every chunk)
// and must be safe to call from any thread. Every member function except the destructor's
// workers runs on the one thread that owns the queue.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <thread>
#include <vector>

#include "archive/directory_writer.h"
#include "archive/file_stream.h"
#include "platform/mutex.h"

namespace quillop {

class HashQueue {
 public:
  // Starts `workers` threads (at least one). Throws std::system_error when a thread cannot be
  // started; those already started are joined first.
  HashQueue(const Cancelled& cancelled, unsigned workers);
  ~HashQueue();
  HashQueue(const HashQueue&) = delete;
  HashQueue& operator=(const HashQueue&) = delete;

  // Queues `file` (opened by openMember) behind every file submitted before it; the queue closes
  // it.
  void submit(OpenFile file) EXCLUDES(mutex_);
  // Files submitted and not yet taken by next().
  std::size_t pending() const EXCLUDES(mutex_);
  // True when the oldest pending file is finished, so next() returns without waiting.
  bool frontReady() const EXCLUDES(mutex_);
  // True once some pending file has failed; next() reports the first failure in order.
  bool anyFailed() const;
  // Waits for the oldest pending file and returns its count and digest, or rethrows exactly
  // what stream threw for it. Requires pending() > 0.
  DirectoryWriter::StreamResult next() EXCLUDES(mutex_);

 private:
  // A sleeping worker is woken once this many files, or bytes, wait unstarted.
  static constexpr std::int64_t kWakeFiles = 8;
  static constexpr std::uint64_t kWakeBytes = 2 * kChunkSize;

  struct Job {
    OpenFile file;
    bool done = false;
    DirectoryWriter::StreamResult result;
    std::exception_ptr error;
  };

  void work() EXCLUDES(mutex_);
  // Stops every file and joins the workers.
  void close() noexcept EXCLUDES(mutex_);
  // Stops files numbered above `last`: they are skipped, or stop at their next chunk.
  void stopAfter(std::int64_t last);
  // Files submitted and not yet taken by a worker.
  std::int64_t unstarted() const REQUIRES(mutex_) {
    return head_ + static_cast<std::int64_t>(jobs_.size()) - nextToStart_;
  }

  const Cancelled& cancelled_;
  mutable Mutex mutex_;
  CondVar workReady_;                                    // workers wait here for a file
  CondVar frontDone_;                                    // the owner waits here for the oldest file
  std::deque<Job> jobs_ GUARDED_BY(mutex_);              // pending files, oldest first
  std::int64_t head_ GUARDED_BY(mutex_) = 0;             // number of jobs_.front()
  std::int64_t nextToStart_ GUARDED_BY(mutex_) = 0;      // number of the next file a worker takes
  std::uint64_t unstartedBytes_ GUARDED_BY(mutex_) = 0;  // sizes of files no worker took yet
  unsigned sleeping_ GUARDED_BY(mutex_) = 0;             // workers waiting in workReady_
  bool ownerWaiting_ GUARDED_BY(mutex_) = false;
  std::atomic<bool> failed_{false};
  bool closing_ GUARDED_BY(mutex_) = false;
  std::atomic<std::int64_t> lastWanted_{INT64_MAX};
  std::vector<std::thread> threads_;
};

}  // namespace quillop
