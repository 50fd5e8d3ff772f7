// The stand-in's visible answer on a desktop: a notification through the freedesktop service
// (org.freedesktop.Notifications), so that a share started from a file manager visibly ends
// somewhere. The report on standard output stays the record.
#pragma once

#include <string>

namespace quillop {

// Shows `summary` and `body` (plain text) when a display and a session bus are known. Silent
// when neither is, or when no notification service answers within a few seconds.
void notifyDesktop(const std::string& summary, const std::string& body);

}  // namespace quillop
