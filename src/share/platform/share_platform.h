// The platform services one ShareViewController works with. Every pointer must be set; the
// services must outlive every job of the controllers that use them.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/file_system.h"
#include "share/platform/bundle.h"
#include "share/platform/clock.h"
#include "share/platform/media_types.h"
#include "share/platform/queues.h"
#include "share/platform/security_scope.h"
#include "share/platform/workspace.h"

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
