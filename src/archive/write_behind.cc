#include "archive/write_behind.h"

namespace quillop {

WriteBehind::WriteBehind(FileHandle& file) : file_(file), thread_([this] { work(); }) {}

WriteBehind::~WriteBehind() {
  {
    const MutexLock lock(mutex_);
    stopping_ = true;
  }
  changed_.notifyOne();
  thread_.join();
}

void WriteBehind::written(std::uint64_t bytes) {
  if (bytes - announced_ < kStepBytes) return;
  announced_ = bytes;
  {
    const MutexLock lock(mutex_);
    upTo_ = bytes;
  }
  changed_.notifyOne();
}

void WriteBehind::work() {
  std::uint64_t started = 0;
  const MutexLock lock(mutex_);
  for (;;) {
    while (!stopping_ && upTo_ <= started) changed_.wait(mutex_);
    if (stopping_) return;
    const std::uint64_t upTo = upTo_;
    mutex_.unlock();
    file_.startWriteBack(started, upTo - started);
    started = upTo;
    mutex_.lock();
  }
}

}  // namespace quillop
