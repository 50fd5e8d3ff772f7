#include "share/share_preparation.h"

#include "store/share_store.h"

namespace quillop {

bool SharePreparation::begin() {
  const MutexLock guard(lock_);
  if (state_ != State::ready) return false;
  state_ = State::copying;
  return true;
}

bool SharePreparation::isCancelled() {
  const MutexLock guard(lock_);
  return state_ == State::cancelled;
}

bool SharePreparation::cancel() {
  const MutexLock guard(lock_);
  if (state_ != State::ready && state_ != State::copying) return false;
  state_ = State::cancelled;
  return true;
}

std::string SharePreparation::publish(ShareStore& store) {
  const MutexLock guard(lock_);
  if (state_ != State::copying) throw cancellation();
  std::string id = store.publish();
  state_ = State::published;
  return id;
}

SharePreparation::State SharePreparation::state() {
  const MutexLock guard(lock_);
  return state_;
}

}  // namespace quillop
