// The preferred media type for a file-name extension. Thread-safe.
#pragma once

#include <optional>
#include <string>

namespace quillop {

class MediaTypes {
 public:
  virtual ~MediaTypes() = default;
  // The preferred media type of files named "*.<extension>", or nullopt when none is known
  // (an empty extension included). Decided by the name alone, never by file contents.
  virtual std::optional<std::string> preferredMediaType(const std::string& extension) = 0;
};

}  // namespace quillop
