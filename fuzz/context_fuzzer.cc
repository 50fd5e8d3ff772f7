// libFuzzer target for the host's reading of "context.json": any bytes in, the ticket and the
// sources or a failure out. The first byte picks the batch's file count (0 to 100).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/error.h"
#include "store/batch_json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t files = data[0] % 101;
  try {
    const quillop::BatchContext context = quillop::readContext(
        std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), files);
    if (context.sources.size() != files) __builtin_trap();
  } catch (const quillop::Error&) {
  }
  return 0;
}
