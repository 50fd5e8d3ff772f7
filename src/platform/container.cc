#include "platform/container.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/error.h"

namespace quillop {
namespace {

std::optional<std::string> homeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home);
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return std::string(found->pw_dir);
  }
  return std::nullopt;
}

std::optional<std::string> dataHome() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg);
  std::optional<std::string> home = homeFolder();
  if (!home) return std::nullopt;
  return *home + "/.local/share";
}

}  // namespace

std::optional<std::string> groupContainer(FileSystem& fs, const std::string& group) {
  std::optional<std::string> base = dataHome();
  if (!base) return std::nullopt;
  const std::string parent = *base + "/group-containers";
  const std::string container = parent + "/" + group;
  try {
    makeDirectories(fs, parent);
    try {
      fs.makeDirectory(container, 0700);
      syncDirectory(fs, parent);
    } catch (const Error& error) {
      if (!error.isPosix(EEXIST)) throw;
      if (!S_ISDIR(fs.linkStatus(fs.resolve(container)).st_mode)) return std::nullopt;
    }
  } catch (const Error&) {
    return std::nullopt;
  }
  return container;
}

}  // namespace quillop
