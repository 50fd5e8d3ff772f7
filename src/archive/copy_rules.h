// What the folder packaging and the file import share about copying: the chunk size and the
// free-space rule. The limits are in platform/limits.h, the cancellation predicate in
// platform/cancellation.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/cancellation.h"
#include "platform/file_system.h"
#include "platform/limits.h"

namespace quillop {

// Every file is read in chunks of this size.
inline constexpr std::size_t kChunkSize = 262'144;

// Throws the failure "Spazio insufficiente sul Mac." unless the file system holding `folder`
// reports more than `bytes` plus kFreeSpaceMargin free; passes on its error.
void requireFreeSpace(FileSystem& fs, const std::string& folder, std::uint64_t bytes);

}  // namespace quillop
