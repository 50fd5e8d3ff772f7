// The App Group container on Linux: $XDG_DATA_HOME/group-containers/<group>, where
// XDG_DATA_HOME falls back to ~/.local/share when unset, empty or not absolute (the XDG rule).
// The lookup creates the container (mode 0700) and its missing parents. Returns nullopt when no
// home folder can be found or the container cannot be created. Any thread.
#pragma once

#include <optional>
#include <string>

#include "platform/file_system.h"

namespace quillop {

std::optional<std::string> groupContainer(FileSystem& fs, const std::string& group);

}  // namespace quillop
