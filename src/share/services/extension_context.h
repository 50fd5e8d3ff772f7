// The share request as the extension host hands it to the controller: input items whose
// attachments each may declare a file URL and deliver it asynchronously, and the two ways a
// request ends.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/error.h"
#include "platform/loaded_item.h"

namespace quillop {

// One attachment of an input item.
class ItemProvider {
 public:
  // Called once per load with what was delivered (any kind of item, or nothing) and an optional
  // error; the two are independent (an item may come with an error).
  using Completion = std::function<void(LoadedItem item, std::optional<Error> error)>;

  virtual ~ItemProvider() = default;
  // True when the attachment declares an item of the file-URL type. Any thread.
  virtual bool hasFileUrl() const = 0;
  // Starts loading the file-URL item and returns at once. `completion` is called exactly once,
  // on a thread that is not the main thread, and released right after it has run.
  virtual void loadFileUrl(Completion completion) = 0;
};

using Attachments = std::vector<std::shared_ptr<ItemProvider>>;

// An input item of the request. `extensionItem` false stands for an object of another kind,
// which makes the controller see no attachments at all.
struct InputItem {
  bool extensionItem = true;
  Attachments attachments;
};

// The controller's extension context. A request ends once: the first `cancelRequest` or
// `completeRequest` ends it, every later call is ignored. Implementations are thread-safe;
// the controller calls them on the main thread.
class ExtensionContext {
 public:
  virtual ~ExtensionContext() = default;
  virtual std::vector<InputItem> inputItems() const = 0;
  virtual void cancelRequest(const Error& error) = 0;
  // Completes the request returning no items.
  virtual void completeRequest() = 0;
};

}  // namespace quillop
