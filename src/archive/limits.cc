#include "archive/limits.h"

#include "platform/error.h"

namespace quillop {

void throwIfCancelled(const Cancelled& cancelled) {
  if (cancelled && cancelled()) throw failure("Preparazione annullata.");
}

}  // namespace quillop
