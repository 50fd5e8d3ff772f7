#include "linux/linux_services.h"

#include <chrono>
#include <string_view>

#include "platform/error.h"
#include "platform/path.h"

namespace quillop {

double SystemClock::now() {
  const auto since1970 = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration<double>(since1970).count();
}

std::string ExecutableBundle::mainBundlePath() {
  try {
    return bundleOf(fs_.resolve("/proc/self/exe"));
  } catch (const Error&) {
    return {};
  }
}

std::string ExecutableBundle::bundleOf(const std::string& executable) {
  std::string folder = parentFolder(executable);
  constexpr std::string_view kInside = "/Contents/MacOS";
  if (folder.size() > kInside.size() && folder.ends_with(kInside)) {
    folder.resize(folder.size() - kInside.size());
  }
  return folder;
}

}  // namespace quillop
