#include "platform/qt/linux_share_platform.h"

#include "platform/qt/process_workspace.h"
#include "platform/qt/qt_media_types.h"
#include "share/linux_services.h"
#include "share/worker_queue.h"

namespace quillop {

SharePlatform linuxSharePlatform(std::shared_ptr<MainQueue> mainQueue) {
  SharePlatform platform;
  platform.mainQueue = std::move(mainQueue);
  platform.makeSerialQueue = [](const std::string& label) {
    return std::make_unique<WorkerQueue>(label);
  };
  platform.mediaTypes = std::make_shared<QtMediaTypes>();
  platform.securityScope = std::make_shared<GrantingSecurityScope>();
  platform.clock = std::make_shared<SystemClock>();
  platform.bundle = std::make_shared<ExecutableBundle>();
  platform.workspace = std::make_shared<ProcessWorkspace>();
  return platform;
}

}  // namespace quillop
