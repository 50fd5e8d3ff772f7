// The fixed parts of the folder archive: its header, its limits, the member order and the rules
// every member name obeys. Shared by the writer and the reader so the two cannot drift apart.
// Pure functions and constants; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "archive/copy_rules.h"

namespace quillop {

// "QUILLOP-" "DIR-1" and a line feed: the first 14 bytes of every archive.
inline constexpr std::string_view kMagic{"QUILLOP-DIR-1\n", 14};
// Magic plus the 4-byte big-endian index length.
inline constexpr std::size_t kHeaderBytes = 18;
// The only index version.
inline constexpr std::int64_t kVersion = 1;

// The 18 header bytes for an index of `indexLength` bytes (at most kMaxIndexBytes).
std::string header(std::uint32_t indexLength);

// The index length stored in an 18-byte header, or nullopt when the magic is wrong.
std::optional<std::uint32_t> indexLengthOf(std::string_view header);

// Member order: the unsigned bytes of the UTF-8 paths, the first difference deciding and a proper
// prefix first. No normalisation, no locale; "/" is just the byte 0x2F.
bool pathBefore(std::string_view a, std::string_view b);

// True when `name` may be a member name: not empty, ".", ".."; at most kMaxNameBytes; not ending
// in "." or " "; well-formed UTF-8 without / \ : < > " | ? * or a Cc/Cf character.
bool isAcceptableName(std::string_view name);

// True when `path` is a relative member path: at most kMaxPathBytes, components joined by single
// "/", each an acceptable name (so no "", ".", "..", leading or trailing "/").
bool isAcceptablePath(std::string_view path);

}  // namespace quillop
