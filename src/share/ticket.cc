#include "share/ticket.h"

#include <fcntl.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>

#include "platform/error.h"
#include "platform/file_handle.h"

namespace quillop {
namespace {

std::optional<std::string> readSmallRegularFile(FileSystem& fs, const std::string& path) {
  try {
    FileHandle file = FileHandle::open(fs, path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const struct stat st = file.status();
    if (!S_ISREG(st.st_mode) || st.st_size > kMaxTicketFileBytes) return std::nullopt;
    std::string bytes;
    char buffer[16384];
    for (;;) {
      const size_t count = file.read(buffer, sizeof buffer);
      if (count == 0) return bytes;
      bytes.append(buffer, count);
      if (bytes.size() > static_cast<size_t>(kMaxTicketFileBytes)) return std::nullopt;
    }
  } catch (const Error&) {
    return std::nullopt;
  }
}

}  // namespace

std::string readTicket(FileSystem& fs, const std::string& path, double now) {
  const std::optional<std::string> bytes = readSmallRegularFile(fs, path);
  if (!bytes) return {};
  const nlohmann::json object = nlohmann::json::parse(*bytes, nullptr, /*allow_exceptions=*/false);
  if (!object.is_object()) return {};  // a parse error is "discarded", not an object
  const auto time = object.find("time");
  if (time == object.end() || !time->is_number()) return {};
  if (!(std::fabs(now - time->get<double>()) < kTicketLifetime)) return {};  // NaN fails too
  const auto ticket = object.find("ticket");
  if (ticket == object.end() || !ticket->is_string()) return {};
  return ticket->get<std::string>();
}

}  // namespace quillop
