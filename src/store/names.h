// The checks on the names and media types recorded for shared files. Pure; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillop {

// True when `name` can serve as a file name under the strictest common rules: 1 to 240 UTF-8
// bytes of well-formed UTF-8, no leading ".", no trailing "." or space, none of / \ : < > " | ? *
// nor any Cc/Cf character, and not a reserved device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9,
// alone or followed by "." and anything; any letter case).
bool isSafeName(std::string_view name);

// The media type in lower case (full, locale-independent lower-casing) when it has the plain
// shape type/subtype of RFC 6838 restricted-name characters and at most 127 UTF-8 bytes;
// nullopt otherwise, and for nullopt.
std::optional<std::string> acceptedMediaType(const std::optional<std::string>& value);

}  // namespace quillop
