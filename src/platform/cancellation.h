// The cancellation predicate of long work (a folder walk, a copy, a verification): polled
// between chunks and entries, on the thread doing the work. The failure it leads to is
// `cancellation()` (platform/error.h).
#pragma once

#include <functional>

#include "platform/error.h"

namespace quillop {

// Returns true once the work has been cancelled; must be safe to call on the working thread.
using Cancelled = std::function<bool()>;

// Throws `cancellation()` when `cancelled` says so.
inline void throwIfCancelled(const Cancelled& cancelled) {
  if (cancelled && cancelled()) throw cancellation();
}

}  // namespace quillop
