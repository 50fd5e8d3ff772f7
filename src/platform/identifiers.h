// Random identifiers for batches and entries: a random (version 4) UUID in canonical text with
// every "-" removed, lower-cased: 32 characters from 0-9 and a-f. Any thread.
#pragma once

#include <string>
#include <string_view>

namespace quillop {

std::string newIdentifier();
// True for text of that form.
bool isIdentifier(std::string_view text);

}  // namespace quillop
