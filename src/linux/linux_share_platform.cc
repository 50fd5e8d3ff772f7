#include "linux/linux_share_platform.h"

#include "linux/linux_services.h"
#include "linux/process_workspace.h"
#include "linux/qt_media_types.h"
#include "linux/worker_queue.h"

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
