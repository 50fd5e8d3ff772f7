#include "share/ticket.h"

#include <cmath>
#include <optional>

#include "platform/error.h"
#include "platform/file_handle.h"
#include "platform/json_shape.h"

namespace quillop {

std::string ticketFromText(std::string_view text, double now) {
  enum { kTime = 1, kTicket };
  static const Shape shape = Shape::object({
      {"time", Shape::number(), kTime},
      {"ticket", Shape::string(kMaxTicketFileBytes), kTicket},
  });
  double time = 0;
  std::string ticket;
  const auto store = [&](int tag, ShapeValue&& value) {
    tag == kTime ? take(time, value) : take(ticket, value);
  };
  if (readShape(text, shape, {store, {}})) return {};
  if (!(std::fabs(now - time) < kTicketLifetime)) return {};  // NaN fails too
  return ticket;
}

std::string readTicket(FileSystem& fs, const std::string& path, double now) {
  std::optional<std::string> bytes;
  try {
    bytes = readSmallRegularFile(fs, path, kMaxTicketFileBytes);
  } catch (const Error&) {
  }
  return bytes ? ticketFromText(*bytes, now) : std::string();
}

}  // namespace quillop
