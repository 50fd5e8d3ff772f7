#include "display_probe.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLibraryInfo>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace quillop {
namespace {

std::string env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// `abstractName`: the path is a name in the abstract namespace (no file behind it).
bool connectsUnix(const std::string& path, bool abstractName) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const size_t offset = abstractName ? 1 : 0;
  if (path.empty() || path.size() + offset >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path + offset, path.data(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + offset +
                                                  path.size() + (abstractName ? 0 : 1));
  const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
  close(fd);
  return ok;
}

bool connectsTcp(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool ok = false;
  for (addrinfo* a = found; a && !ok; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) continue;
    ok = connect(fd, a->ai_addr, a->ai_addrlen) == 0;
    close(fd);
  }
  freeaddrinfo(found);
  return ok;
}

bool waylandPluginInstalled() {
  const std::string platforms =
      QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() + "/platforms/";
  std::error_code error;
  return std::filesystem::exists(platforms + "libqwayland-generic.so", error) ||
         std::filesystem::exists(platforms + "libqwayland-egl.so", error);
}

}  // namespace

bool x11Reachable(const std::string& display) {
  if (display.starts_with('/')) {  // a socket path, optionally followed by ":S"
    const size_t colon = display.rfind(':');
    const std::string path = colon == std::string::npos ? display : display.substr(0, colon);
    return connectsUnix(path, false) || connectsUnix(display, false);
  }
  const size_t colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
  if (number.empty() || number.size() > 6 ||
      number.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  std::string host = display.substr(0, colon);
  if (host.ends_with(':')) return false;  // "host::N" is DECnet, long gone
  if (host.empty() || host == "unix") {
    const std::string path = "/tmp/.X11-unix/X" + number;
    return connectsUnix(path, true) || connectsUnix(path, false);
  }
  if (host.starts_with('[') && host.ends_with(']')) host = host.substr(1, host.size() - 2);
  return connectsTcp(host, 6000 + std::stoi(number));
}

bool waylandReachable(const std::string& display, const std::string& runtimeDir) {
  if (display.empty()) return false;
  if (display.starts_with('/')) return connectsUnix(display, false);
  return !runtimeDir.empty() && connectsUnix(runtimeDir + "/" + display, false);
}

std::optional<DisplayChoice> probeDisplays() {
  const std::string named = env("QT_QPA_PLATFORM");
  if (!named.empty() && named != "xcb" && !named.starts_with("wayland")) return std::nullopt;
  // Named, a platform is tried alone; unnamed, Wayland only where Qt has the plugin for it.
  const bool x11 =
      !named.starts_with("wayland") && !env("DISPLAY").empty() && x11Reachable(env("DISPLAY"));
  const bool wayland = named != "xcb" && (!named.empty() || waylandPluginInstalled()) &&
                       !env("WAYLAND_DISPLAY").empty() &&
                       waylandReachable(env("WAYLAND_DISPLAY"), env("XDG_RUNTIME_DIR"));
  if (!named.empty() || x11 == wayland) return DisplayChoice{x11 || wayland, ""};
  return DisplayChoice{true, x11 ? "xcb" : "wayland"};
}

}  // namespace quillop
