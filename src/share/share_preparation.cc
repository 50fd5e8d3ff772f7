#include "share/share_preparation.h"

#include "store/share_store.h"

namespace quillop {

bool SharePreparation::begin() {
  std::lock_guard<std::mutex> guard(lock_);
  if (state_ != State::ready) return false;
  state_ = State::copying;
  return true;
}

bool SharePreparation::isCancelled() {
  std::lock_guard<std::mutex> guard(lock_);
  return state_ == State::cancelled;
}

bool SharePreparation::cancel() {
  std::lock_guard<std::mutex> guard(lock_);
  if (state_ != State::ready && state_ != State::copying) return false;
  state_ = State::cancelled;
  return true;
}

std::string SharePreparation::publish(ShareStore& store) {
  std::lock_guard<std::mutex> guard(lock_);
  if (state_ != State::copying) throw cancellation();
  std::string id = store.publish();
  state_ = State::published;
  return id;
}

SharePreparation::State SharePreparation::state() {
  std::lock_guard<std::mutex> guard(lock_);
  return state_;
}

}  // namespace quillop
