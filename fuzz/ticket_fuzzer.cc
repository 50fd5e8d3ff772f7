// libFuzzer target for the extension's reading of the host's "ready.json": any bytes in, a ticket
// or the empty string out, never an exception.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "share/ticket.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillop::ticketFromText(std::string_view(reinterpret_cast<const char*>(data), size), 1.7e9);
  return 0;
}
