// Every limit of the system in one place: what a share may hold, what a folder archive may hold,
// and how much of the files that others write is ever read. A size or count fails only when it
// is strictly greater. Constants only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quillop {

// Items of one share (files and folders), and so files of one batch and sources of its context.
inline constexpr std::size_t kMaxItems = 100;
// Largest regular file, file read while packing, and folder archive: 50 GB (decimal).
inline constexpr std::uint64_t kMaxBytes = 50'000'000'000ULL;
// Writing starts only when the free space exceeds the bytes to write by more than this.
inline constexpr std::uint64_t kFreeSpaceMargin = 16'777'216;
// Longest single name, in UTF-8 bytes: of a shared item and of a member of a folder archive.
inline constexpr std::size_t kMaxNameBytes = 240;
// Longest media type of an entry, in bytes once lower-cased.
inline constexpr std::size_t kMaxMediaTypeBytes = 127;

// A folder archive: its longest index in bytes, its most members, its longest relative member
// path in UTF-8 bytes.
inline constexpr std::uint64_t kMaxIndexBytes = 4'194'304;
inline constexpr std::size_t kMaxMembers = 50'000;
inline constexpr std::size_t kMaxPathBytes = 2048;

// The host's "ready.json" that the extension reads, and the "manifest.json" and "context.json"
// that the host reads back: larger files are not read at all.
inline constexpr long kMaxTicketFileBytes = 1 << 20;
inline constexpr std::size_t kMaxBatchJsonBytes = 16 << 20;

}  // namespace quillop
