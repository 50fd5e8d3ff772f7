// Where the running program's bundle lies on disk. Thread-safe.
#pragma once

#include <string>

namespace quillop {

class Bundle {
 public:
  virtual ~Bundle() = default;
  // The absolute path of the main bundle's folder; empty when it cannot be found.
  virtual std::string mainBundlePath() = 0;
};

}  // namespace quillop
