// The archive index: JSON encoding and strict decoding of `DirectoryWriter::Member` and
// `DirectoryWriter::Manifest`, and the parser that the reader uses on untrusted index bytes.
// Pure functions; any thread.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "archive/directory_writer.h"

namespace quillop {

// The records as JSON objects with the keys in field order: "path", "directory", "size",
// "sha256" and "version", "entries".
nlohmann::ordered_json toJson(const DirectoryWriter::Member& member);
nlohmann::ordered_json toJson(const DirectoryWriter::Manifest& manifest);

// The compact index text: identical to compactJson(toJson(manifest)) ("/" written as "\/",
// non-ASCII as itself), but built member by member so memory stays near the size of the text.
// Throws Error (domain "JSON") when a text is not valid UTF-8.
std::string encodeIndex(const DirectoryWriter::Manifest& manifest);

// Parses index bytes read from an archive and checks everything an archive promises: well-formed
// JSON of at most 4,194,304 bytes, the exact structure, version 1, at most 50,000 members with
// acceptable relative paths in strictly ascending byte order (so unique), every parent folder
// present as an earlier directory member, directories of size 0 with an empty digest, files
// with 64 lower-case hex digits, sizes adding up to at most 50,000,000,000. Never trusts the
// input: it is read event by event against the one shape an index has (see json_shape.h), so
// deep nesting, repeated keys and too many members are refused as they arrive, in time linear in
// the bytes. Throws a failure whose message starts with "Archivio non valido:" and names the
// damage.
DirectoryWriter::Manifest parseIndex(std::string_view bytes);

}  // namespace quillop
