// The chunk size, the free-space rule and the cancellation predicate shared by the folder
// packaging and the file import. The limits themselves are in platform/limits.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/file_system.h"
#include "platform/limits.h"

namespace quillop {

// Every file is read in chunks of this size.
inline constexpr std::size_t kChunkSize = 262'144;

// Throws the failure "Spazio insufficiente sul Mac." unless the file system holding `folder`
// reports more than `bytes` plus kFreeSpaceMargin free; passes on its error.
void requireFreeSpace(FileSystem& fs, const std::string& folder, std::uint64_t bytes);

// Returns true once the preparation has been cancelled. Called between chunks and directory
// entries, on the thread doing the work; must be safe to call there.
using Cancelled = std::function<bool()>;

// Throws `cancellation()` when `cancelled` says so.
void throwIfCancelled(const Cancelled& cancelled);

}  // namespace quillop
