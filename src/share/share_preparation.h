// The lock-guarded state of one preparation: ready, copying, cancelled or published.
//
// Shared by the main thread ("Annulla"), the work queue and the item-loading threads; every
// operation is thread-safe. `publish` runs the store's publication under the lock, so a batch
// is either published or cancelled, never both. The store's `publish` must not call back into
// the preparation (the lock is not recursive).
#pragma once

#include <string>

#include "platform/mutex.h"

namespace quillop {

class ShareStore;

class SharePreparation {
 public:
  enum class State { ready, copying, cancelled, published };

  SharePreparation() = default;
  SharePreparation(const SharePreparation&) = delete;
  SharePreparation& operator=(const SharePreparation&) = delete;

  // ready -> copying and true; otherwise false, nothing changes.
  bool begin() EXCLUDES(lock_);
  // True exactly in `cancelled`.
  bool isCancelled() EXCLUDES(lock_);
  // ready or copying -> cancelled and true; otherwise false.
  bool cancel() EXCLUDES(lock_);
  // In `copying`: publishes `store` under the lock, moves to `published` and returns the batch
  // id; the store's error passes unchanged and leaves `copying`. In any other state: the
  // failure "Preparazione annullata.", the store untouched.
  std::string publish(ShareStore& store) EXCLUDES(lock_);

  State state() EXCLUDES(lock_);

 private:
  Mutex lock_;
  State state_ GUARDED_BY(lock_) = State::ready;
};

}  // namespace quillop
