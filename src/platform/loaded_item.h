// What an attachment delivers when asked for its file URL: nothing, a URL, the bytes of a URL,
// the text of a URL, or something else (here: a number).
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/url.h"

namespace quillop {

using Bytes = std::vector<std::uint8_t>;
using LoadedItem = std::variant<std::monostate, Url, Bytes, std::string, double>;

}  // namespace quillop
