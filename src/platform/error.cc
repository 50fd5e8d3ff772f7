#include "platform/error.h"

#include <locale.h>
#include <string.h>

namespace quillop {

Error failure(std::string message) {
  return Error(std::string(Error::kShareDomain), Error::kFailureCode, std::move(message));
}

Error cancellation() {
  Error error = failure("Preparazione annullata.");
  error.cancellation_ = true;
  return error;
}

std::string systemMessage(int err) {
  // One locale object for the process: created on first use, never freed (strerror_l's result
  // may point into it).
  static const locale_t userLocale = [] {
    locale_t loc = newlocale(LC_MESSAGES_MASK, "", static_cast<locale_t>(0));
    return loc != static_cast<locale_t>(0)
               ? loc
               : newlocale(LC_MESSAGES_MASK, "C", static_cast<locale_t>(0));
  }();
  return std::string(strerror_l(err, userLocale));
}

Error systemError(int err, std::string_view path) {
  std::string text =
      path.empty() ? systemMessage(err) : std::string(path) + ": " + systemMessage(err);
  return Error(std::string(Error::kPosixDomain), err, std::move(text));
}

}  // namespace quillop
