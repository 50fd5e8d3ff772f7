// Whether a window can open on the display the environment names, answered by connecting to the
// display server's socket: no toolkit is started, so a launch pays a connect(), not a second
// start-up of Qt. A socket that accepts is taken as a display that works; the rare server that
// accepts and then refuses the client (a wrong X cookie) is Qt's to report.
#pragma once

#include <optional>
#include <string>

namespace quillop {

// DISPLAY as X clients read it: "[host]:N[.S]" ("unix" or no host: the local socket, tried in
// the abstract namespace first, then as /tmp/.X11-unix/XN; any other host: TCP port 6000 + N)
// or an absolute socket path. False when nothing accepts.
bool x11Reachable(const std::string& display);
// WAYLAND_DISPLAY: an absolute socket path, or a name in `runtimeDir` (XDG_RUNTIME_DIR).
bool waylandReachable(const std::string& display, const std::string& runtimeDir);

// The Qt platform for the window: "xcb" or "wayland" when only that display answers (and, for
// Wayland, Qt's plugin is installed), "" when both do (Qt picks) or when none does (no window).
// `reachable` is false in the last case only. When QT_QPA_PLATFORM names "xcb" or "wayland…",
// only that display is tried and the platform stays Qt's. Nothing when it names another platform
// (offscreen, vnc, …): no socket answers for those.
struct DisplayChoice {
  bool reachable = false;
  std::string platform;
};
std::optional<DisplayChoice> probeDisplays();

}  // namespace quillop
