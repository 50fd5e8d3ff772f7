#include "archive/copy_rules.h"

#include "platform/error.h"

namespace quillop {

void requireFreeSpace(FileSystem& fs, const std::string& folder, std::uint64_t bytes) {
  const std::optional<std::uint64_t> free = fs.freeSpace(folder);
  if (!free || bytes + kFreeSpaceMargin >= *free) throw failure("Spazio insufficiente sul Mac.");
}

}  // namespace quillop
