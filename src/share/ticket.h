// The host application's hand-over ticket, read from its "ready.json".
#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "platform/limits.h"

namespace quillop {

// A ticket is fresh while its "time" is less than this many seconds away from now.
inline constexpr double kTicketLifetime = 8.0;

// The "ticket" string of the JSON object in the file at `path`, when the file is a regular file
// of at most 1 MiB holding exactly one object with the two keys "time", a number less than 8.0
// seconds away from `now` (in either direction), and "ticket", a string. Every other case (a key
// more, repeated or missing, a value of another type) gives the empty string, silently: no error
// escapes. The file is read event by event, never built as a document: linear time whatever it
// holds. Never blocks on a special file. Any thread.
std::string readTicket(FileSystem& fs, const std::string& path, double now);

// The ticket of the file's text, by the same rules. Pure; any thread.
std::string ticketFromText(std::string_view text, double now);

}  // namespace quillop
