#include "archive/hash_queue.h"

#include <algorithm>

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
    const MutexLock lock(mutex_);
    closing_ = true;
  }
  stopAfter(-1);
  workReady_.notifyAll();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
}

void HashQueue::stopAfter(std::int64_t last) {
  std::int64_t current = lastWanted_.load();
  while (last < current && !lastWanted_.compare_exchange_weak(current, last)) {
  }
}

void HashQueue::submit(OpenFile file) {
  bool wake = false;
  {
    const MutexLock lock(mutex_);
    unstartedBytes_ += file.size;
    jobs_.emplace_back().file = std::move(file);
    wake = sleeping_ > 0 && (unstarted() >= kWakeFiles || unstartedBytes_ >= kWakeBytes);
  }
  if (wake) workReady_.notifyOne();
}

std::size_t HashQueue::pending() const {
  const MutexLock lock(mutex_);
  return jobs_.size();
}

bool HashQueue::frontReady() const {
  const MutexLock lock(mutex_);
  return !jobs_.empty() && jobs_.front().done;
}

bool HashQueue::anyFailed() const { return failed_.load(); }

DirectoryWriter::StreamResult HashQueue::next() {
  mutex_.lock();
  if (!jobs_.front().done && unstarted() > 0 && sleeping_ > 0) workReady_.notifyAll();
  ownerWaiting_ = true;
  while (!jobs_.front().done) frontDone_.wait(mutex_);
  ownerWaiting_ = false;
  Job job = std::move(jobs_.front());
  jobs_.pop_front();
  ++head_;
  mutex_.unlock();
  if (job.error) std::rethrow_exception(job.error);
  return std::move(job.result);
}

void HashQueue::work() {
  const MutexLock lock(mutex_);
  for (;;) {
    while (!closing_ && unstarted() == 0) {
      ++sleeping_;
      workReady_.wait(mutex_);
      --sleeping_;
    }
    if (closing_) return;
    const std::int64_t number = nextToStart_++;
    Job* job = &jobs_[static_cast<std::size_t>(number - head_)];
    unstartedBytes_ -= job->file.size;
    OpenFile file = std::move(job->file);
    DirectoryWriter::StreamResult result;
    std::exception_ptr error;
    if (number <= lastWanted_.load()) {
      mutex_.unlock();
      try {
        // Files after a failed one are never reported; reading them would only delay the failure.
        const Cancelled stopped = [this, number] {
          return number > lastWanted_.load() || (cancelled_ && cancelled_());
        };
        result = streamOpen(std::move(file), nullptr, stopped);
      } catch (...) {
        error = std::current_exception();
      }
      mutex_.lock();
    }  // else never reported: an earlier file's failure comes out of next() first
    // Still pending: next() pops a file only once it is done, and nobody else pops.
    job = &jobs_[static_cast<std::size_t>(number - head_)];
    job->done = true;
    job->result = std::move(result);
    job->error = error;
    if (error) {
      failed_ = true;
      stopAfter(number);
    }
    if (ownerWaiting_ && number == head_) frontDone_.notifyOne();
  }
}

}  // namespace quillop
