// libFuzzer target for the host's reading of "manifest.json": any bytes in, a batch record or a
// failure out. An accepted record must read back unchanged from the extension's own encoding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/error.h"
#include "platform/json_file.h"
#include "store/batch_json.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillop::BatchRecord record;
  try {
    record = quillop::readManifest(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const quillop::Error&) {
    return 0;
  }
  std::string encoded;
  try {
    encoded = quillop::compactJson(record);
  } catch (const quillop::Error&) {
    return 0;  // not UTF-8: the extension never writes such a record
  }
  if (!(quillop::readManifest(encoded) == record)) std::abort();
  return 0;
}
