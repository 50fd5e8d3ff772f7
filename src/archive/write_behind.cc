#include "archive/write_behind.h"
#include "platform/path.h"

namespace quillop {

WriteBehind::WriteBehind(FileHandle& file) : file_(file), thread_([this] { work(); }) {}

WriteBehind::~WriteBehind() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_one();
  thread_.join();
}

void WriteBehind::written(std::uint64_t bytes) {
  if (bytes - announced_ < kStepBytes) return;
  announced_ = bytes;
  {
    const std::lock_guard lock(mutex_);
    upTo_ = bytes;
  }
  changed_.notify_one();
}

void WriteBehind::work() {
  std::uint64_t started = 0;
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || upTo_ > started; });
    if (stopping_) return;
    const std::uint64_t upTo = upTo_;
    lock.unlock();
    file_.startWriteBack(started, upTo - started);
    started = upTo;
    lock.lock();
  }
}

}  // namespace quillop
