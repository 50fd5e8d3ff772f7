#include "share/share_request.h"

namespace quillop {

void ShareRequest::cancelRequest(const Error& error) { end(Outcome::cancelled, error); }

void ShareRequest::completeRequest() { end(Outcome::completed, std::nullopt); }

void ShareRequest::end(Outcome outcome, std::optional<Error> error) {
  std::function<void()> observer;
  {
    const MutexLock guard(lock_);
    if (outcome_ != Outcome::open) return;
    outcome_ = outcome;
    error_ = std::move(error);
    observer = std::move(observer_);
  }
  if (observer) observer();
}

ShareRequest::Outcome ShareRequest::outcome() const {
  const MutexLock guard(lock_);
  return outcome_;
}

std::optional<Error> ShareRequest::error() const {
  const MutexLock guard(lock_);
  return error_;
}

void ShareRequest::setEndObserver(std::function<void()> observer) {
  const MutexLock guard(lock_);
  observer_ = std::move(observer);
}

}  // namespace quillop
