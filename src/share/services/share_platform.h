// The platform services one ShareViewController works with. Every pointer must be set; the
// services must outlive every job of the controllers that use them.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "share/services/bundle.h"
#include "share/services/clock.h"
#include "share/services/media_types.h"
#include "share/services/queues.h"
#include "share/services/security_scope.h"
#include "share/services/workspace.h"

namespace quillop {

struct SharePlatform {
  std::shared_ptr<MainQueue> mainQueue;
  // Makes the controller's private serial queue with the given label.
  std::function<std::unique_ptr<SerialQueue>(const std::string& label)> makeSerialQueue;
  std::shared_ptr<MediaTypes> mediaTypes;
  std::shared_ptr<SecurityScope> securityScope;
  std::shared_ptr<Clock> clock;
  std::shared_ptr<Bundle> bundle;
  std::shared_ptr<Workspace> workspace;
  FileSystem* fileSystem = &FileSystem::posix();
};

}  // namespace quillop
