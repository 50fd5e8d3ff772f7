// One share request made by an extension host: fixed input items, and an end that happens once
// (completed with no items, or cancelled with an error); every end after the first is ignored.
// Thread-safe. The end observer is called on the thread that ended the request, outside the
// request's lock, exactly once.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

#include "share/platform/extension_context.h"

namespace quillop {

class ShareRequest final : public ExtensionContext {
 public:
  enum class Outcome { open, completed, cancelled };

  explicit ShareRequest(std::vector<InputItem> items) : items_(std::move(items)) {}

  std::vector<InputItem> inputItems() const override { return items_; }
  void cancelRequest(const Error& error) override;
  void completeRequest() override;

  Outcome outcome() const;
  // The error the request was cancelled with; none unless cancelled.
  std::optional<Error> error() const;
  void setEndObserver(std::function<void()> observer);

 private:
  void end(Outcome outcome, std::optional<Error> error);

  const std::vector<InputItem> items_;
  mutable std::mutex lock_;
  Outcome outcome_ = Outcome::open;
  std::optional<Error> error_;
  std::function<void()> observer_;
};

}  // namespace quillop
