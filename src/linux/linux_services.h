// The platform services that Linux answers without a toolkit. Thread-safe.
#pragma once

#include <string>

#include "platform/file_system.h"
#include "share/services/bundle.h"
#include "share/services/clock.h"
#include "share/services/security_scope.h"

namespace quillop {

// The system's wall clock.
class SystemClock final : public Clock {
 public:
  double now() override;
};

// Linux has no security-scoped grants: access is always granted, and stopping does nothing.
class GrantingSecurityScope final : public SecurityScope {
 public:
  bool startAccessing(const Url&) override { return true; }
  void stopAccessing(const Url&) override {}
};

// The bundle of the running executable (/proc/self/exe, links resolved): the folder above
// "Contents/MacOS" when the executable lies in one, else the executable's own folder.
class ExecutableBundle final : public Bundle {
 public:
  explicit ExecutableBundle(FileSystem& fs = FileSystem::posix()) : fs_(fs) {}
  // Empty when /proc/self/exe cannot be resolved.
  std::string mainBundlePath() override;
  // The rule above, for the executable at `executable` (absolute, resolved).
  static std::string bundleOf(const std::string& executable);

 private:
  FileSystem& fs_;
};

}  // namespace quillop
