// libFuzzer target for the archive reader's index parser: any bytes in, a validated manifest or a
// failure out, never a crash or an out-of-bounds access. An accepted index must survive a round
// trip through the writer's encoder unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "archive/archive_index.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  quillop::DirectoryWriter::Manifest manifest;
  try {
    manifest = quillop::parseIndex(bytes);
  } catch (const quillop::Error&) {
    return 0;
  }
  const std::string encoded = quillop::encodeIndex(manifest);
  if (!(quillop::parseIndex(encoded) == manifest)) std::abort();
  return 0;
}
