#include "share/ticket.h"

#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>

#include "platform/error.h"
#include "platform/file_handle.h"

namespace quillop {

std::string readTicket(FileSystem& fs, const std::string& path, double now) {
  std::optional<std::string> bytes;
  try {
    bytes = readSmallRegularFile(fs, path, kMaxTicketFileBytes);
  } catch (const Error&) {
  }
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
