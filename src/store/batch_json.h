// Reading a batch's JSON files back, for the host: "manifest.json" and "context.json", each read
// event by event against the one shape it may have (see platform/json_shape.h). A text that
// breaks the shape is refused at its first wrong event, so time is linear in the text and memory
// bounded by the records it describes. Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "store/records.h"

namespace quillop {

// The batch record of a manifest text: exactly "version" (an integer), "id" (32 bytes at most)
// and "files", at most 100 objects of exactly "id" (32 bytes at most), "name" (240), "size" (a
// non-negative integer) and optionally "mime" (127). Says nothing about the values themselves.
// Throws a failure starting with "manifest.json:" that names the damage.
BatchRecord readManifest(std::string_view text);

struct BatchContext {
  std::string ticket;
  std::vector<std::string> sources;
};

// The context text of a batch of `files` entries: exactly "ticket" (a string of at most 1 MiB)
// and "sources", exactly `files` strings of at most PATH_MAX bytes. Throws a failure starting with
// "context.json:" that names the damage.
BatchContext readContext(std::string_view text, std::size_t files);

}  // namespace quillop
