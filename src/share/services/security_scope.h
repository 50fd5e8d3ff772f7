// Security-scoped access to a file URL the share request delivered. Thread-safe.
#pragma once

#include "platform/url.h"

namespace quillop {

class SecurityScope {
 public:
  virtual ~SecurityScope() = default;
  // Asks for access to `url`; false when the platform refuses it.
  virtual bool startAccessing(const Url& url) = 0;
  // Gives up an access that `startAccessing` granted.
  virtual void stopAccessing(const Url& url) = 0;
};

}  // namespace quillop
