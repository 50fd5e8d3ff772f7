// Compact JSON text and durable, atomic JSON files.
//
// `compactJson` dumps without indentation or trailing newline, writes non-ASCII as itself and
// every "/" inside a string as "\/" (outside strings compact JSON has no "/", so escaping the
// dumped text is exact). Text that is not valid UTF-8 throws `Error` (domain "JSON"); nothing is
// replaced silently.
//
// `writeFileAtomically` writes the bytes to a temporary file in the same folder, flushes it to
// storage and renames it over `folder/name`, so a reader sees the old file or the whole new one,
// and after a power cut the name holds one of the two. The new name itself lasts only once the
// caller syncs the folder (`syncDirectory`): a writer of several files syncs once, when their
// names must last. On failure the temporary file is removed and the error is thrown unchanged.
// Any thread; one writer per name.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "platform/file_system.h"

namespace quillop {

std::string compactJson(const nlohmann::ordered_json& value);

void writeFileAtomically(FileSystem& fs, const std::string& folder, const std::string& name,
                         const std::string& bytes);

}  // namespace quillop
