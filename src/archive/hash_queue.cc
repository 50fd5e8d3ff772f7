#include "archive/hash_queue.h"

#include <algorithm>

#include "archive/file_stream.h"

namespace quillop {

HashQueue::HashQueue(const Cancelled& cancelled, unsigned workers) : cancelled_(cancelled) {
  try {
    for (unsigned i = 0; i < std::max(workers, 1u); ++i) threads_.emplace_back([this] { work(); });
  } catch (...) {
    close();
    throw;
  }
}

HashQueue::~HashQueue() { close(); }

void HashQueue::close() noexcept {
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
  }
  stopAfter(-1);
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

void HashQueue::stopAfter(std::int64_t last) {
  std::int64_t current = lastWanted_.load();
  while (last < current && !lastWanted_.compare_exchange_weak(current, last)) {
  }
  changed_.notify_all();
}

void HashQueue::submit(FileHandle file) {
  {
    const std::lock_guard lock(mutex_);
    jobs_.emplace_back().file = std::move(file);
  }
  changed_.notify_all();
}

std::size_t HashQueue::pending() const {
  const std::lock_guard lock(mutex_);
  return jobs_.size();
}

bool HashQueue::frontReady() const {
  const std::lock_guard lock(mutex_);
  return !jobs_.empty() && jobs_.front().done;
}

bool HashQueue::anyFailed() const {
  const std::lock_guard lock(mutex_);
  return failed_;
}

DirectoryWriter::StreamResult HashQueue::next() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return jobs_.front().done; });
  Job job = std::move(jobs_.front());
  jobs_.pop_front();
  ++head_;
  lock.unlock();
  if (job.error) std::rethrow_exception(job.error);
  return std::move(job.result);
}

void HashQueue::work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] {
      return closing_ || nextToStart_ < head_ + static_cast<std::int64_t>(jobs_.size());
    });
    if (closing_) return;
    const std::int64_t number = nextToStart_++;
    Job* job = &jobs_[static_cast<std::size_t>(number - head_)];
    FileHandle file = std::move(job->file);
    if (number > lastWanted_.load()) {
      job->done = true;  // never reported: an earlier file's failure comes out of next() first
      continue;
    }
    lock.unlock();
    DirectoryWriter::StreamResult result;
    std::exception_ptr error;
    try {
      // Files after a failed one are never reported; reading them would only delay the failure.
      const Cancelled stopped = [this, number] {
        return number > lastWanted_.load() || (cancelled_ && cancelled_());
      };
      result = streamOpen(std::move(file), nullptr, stopped);
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    // Still pending: next() pops a file only once it is done, and nobody else pops.
    job = &jobs_[static_cast<std::size_t>(number - head_)];
    job->done = true;
    job->result = std::move(result);
    job->error = error;
    if (error) {
      failed_ = true;
      lock.unlock();
      stopAfter(number);
      lock.lock();
    } else {
      changed_.notify_all();
    }
  }
}

}  // namespace quillop
