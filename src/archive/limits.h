// Limits, the free-space rule and the cancellation predicate shared by the folder packaging and
// the file import.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/file_system.h"

namespace quillop {

// Largest regular file, file read while packing, and folder archive: 50 GB (decimal). A size
// fails only when strictly greater.
inline constexpr std::uint64_t kMaxBytes = 50'000'000'000ULL;
// Every file is read in chunks of this size.
inline constexpr std::size_t kChunkSize = 262'144;
// Writing starts only when the free space exceeds the bytes to write by more than this.
inline constexpr std::uint64_t kFreeSpaceMargin = 16'777'216;
// Longest single name, in UTF-8 bytes: of a shared item and of a member of a folder archive.
inline constexpr std::size_t kMaxNameBytes = 240;

// Throws the failure "Spazio insufficiente sul Mac." unless the file system holding `folder`
// reports more than `bytes` plus kFreeSpaceMargin free; passes on its error.
void requireFreeSpace(FileSystem& fs, const std::string& folder, std::uint64_t bytes);

// Returns true once the preparation has been cancelled. Called between chunks and directory
// entries, on the thread doing the work; must be safe to call there.
using Cancelled = std::function<bool()>;

// Throws `cancellation()` when `cancelled` says so.
void throwIfCancelled(const Cancelled& cancelled);

}  // namespace quillop
