// Opens an application bundle, or brings it to the front when it already runs.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/error.h"

namespace quillop {

struct OpenConfiguration {
  bool activates = true;                       // bring the application to the front
  bool createsNewApplicationInstance = false;  // reuse a running instance
};

class Workspace {
 public:
  using Completion = std::function<void(std::optional<Error> error)>;

  virtual ~Workspace() = default;
  // Opens the application bundle at `bundlePath` and returns at once. `completion` is called
  // exactly once, on a thread of the implementation's choosing, with the error that prevented
  // the opening or with none. Main thread.
  virtual void openApplication(const std::string& bundlePath, const OpenConfiguration& config,
                               Completion completion) = 0;
};

}  // namespace quillop
