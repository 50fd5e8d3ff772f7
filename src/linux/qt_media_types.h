// Media types from the shared MIME database (shared-mime-info, through QMimeDatabase), by
// file-name glob only: the contents of files are never looked at. Thread-safe.
#pragma once

#include "share/services/media_types.h"

namespace quillop {

class QtMediaTypes final : public MediaTypes {
 public:
  // The first (preferred) type whose globs match "x.<extension>"; nullopt when none does.
  std::optional<std::string> preferredMediaType(const std::string& extension) override;
};

}  // namespace quillop
