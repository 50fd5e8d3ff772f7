// The lock-guarded state of one preparation: ready, copying, cancelled or published.
//
// Shared by the main thread ("Annulla"), the work queue and the item-loading threads; every
// operation is thread-safe. `publish` runs the store's publication under the lock, so a batch
// is either published or cancelled, never both. The store's `publish` must not call back into
// the preparation (the lock is not recursive).
#pragma once

#include <mutex>
#include <string>

namespace quillop {

class ShareStore;

class SharePreparation {
 public:
  enum class State { ready, copying, cancelled, published };

  SharePreparation() = default;
  SharePreparation(const SharePreparation&) = delete;
  SharePreparation& operator=(const SharePreparation&) = delete;

  // ready -> copying and true; otherwise false, nothing changes.
  bool begin();
  // True exactly in `cancelled`.
  bool isCancelled();
  // ready or copying -> cancelled and true; otherwise false.
  bool cancel();
  // In `copying`: publishes `store` under the lock, moves to `published` and returns the batch
  // id; the store's error passes unchanged and leaves `copying`. In any other state: the
  // failure "Preparazione annullata.", the store untouched.
  std::string publish(ShareStore& store);

  State state();

 private:
  State state_ = State::ready;
  std::mutex lock_;
};

}  // namespace quillop
