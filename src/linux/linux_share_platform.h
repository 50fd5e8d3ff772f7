// The real services of a share on a Linux desktop: the given main queue, worker-thread serial
// queues, media types from the shared MIME database, access always granted, the system clock,
// the bundle found from /proc/self/exe and the process workspace. Call on the main thread, once
// the Qt application exists; callers may replace single services (tests do).
#pragma once

#include <memory>

#include "share/services/share_platform.h"

namespace quillop {

SharePlatform linuxSharePlatform(std::shared_ptr<MainQueue> mainQueue);

}  // namespace quillop
