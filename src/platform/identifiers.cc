#include "platform/identifiers.h"

#include <uuid/uuid.h>

#include <algorithm>

namespace quillop {

std::string newIdentifier() {
  uuid_t uuid;
  uuid_generate_random(uuid);
  char text[37];
  uuid_unparse_lower(uuid, text);
  std::string id(text);
  id.erase(std::remove(id.begin(), id.end(), '-'), id.end());
  return id;
}

bool isIdentifier(std::string_view text) {
  return text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

}  // namespace quillop
