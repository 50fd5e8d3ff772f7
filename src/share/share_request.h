// One share request made by an extension host: fixed input items, and an end that happens once
// (completed with no items, or cancelled with an error); every end after the first is ignored.
// Thread-safe. The end observer is called on the thread that ended the request, outside the
// request's lock, exactly once.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "platform/mutex.h"
#include "share/services/extension_context.h"

namespace quillop {

class ShareRequest final : public ExtensionContext {
 public:
  enum class Outcome { open, completed, cancelled };

  explicit ShareRequest(std::vector<InputItem> items) : items_(std::move(items)) {}

  std::vector<InputItem> inputItems() const override { return items_; }
  void cancelRequest(const Error& error) override;
  void completeRequest() override;

  Outcome outcome() const EXCLUDES(lock_);
  // The error the request was cancelled with; none unless cancelled.
  std::optional<Error> error() const EXCLUDES(lock_);
  void setEndObserver(std::function<void()> observer) EXCLUDES(lock_);

 private:
  void end(Outcome outcome, std::optional<Error> error) EXCLUDES(lock_);

  const std::vector<InputItem> items_;
  mutable Mutex lock_;
  Outcome outcome_ GUARDED_BY(lock_) = Outcome::open;
  std::optional<Error> error_ GUARDED_BY(lock_);
  std::function<void()> observer_ GUARDED_BY(lock_);
};

}  // namespace quillop
