#include "store/names.h"

#include <unicode/regex.h>

#include <memory>

#include "platform/limits.h"
#include "platform/unicode.h"

namespace quillop {
namespace {

bool isReservedDeviceName(std::string_view name) {
  // A search, not a whole-input match: "$" also matches before a final line terminator, so
  // "CON" followed by U+2028 or U+2029 is reserved too. "." stops at line separators.
  static const std::unique_ptr<icu::RegexPattern> pattern = [] {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexPattern> compiled(icu::RegexPattern::compile(
        icu::UnicodeString::fromUTF8("^(CON|PRN|AUX|NUL|COM[1-9]|LPT[1-9])(\\..*)?$"),
        UREGEX_CASE_INSENSITIVE, status));
    return U_SUCCESS(status) ? std::move(compiled) : nullptr;
  }();
  if (!pattern) return true;  // cannot happen with a constant pattern; refuse rather than admit
  UErrorCode status = U_ZERO_ERROR;
  icu::UnicodeString text = icu::UnicodeString::fromUTF8(
      icu::StringPiece(name.data(), static_cast<int32_t>(name.size())));
  std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(text, status));
  if (U_FAILURE(status)) return true;
  const bool matched = matcher->find(status);
  return U_FAILURE(status) || matched;
}

bool isRestrictedNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '!' || c == '#' || c == '$' ||
         c == '&' || c == '^' || c == '_' || c == '.' || c == '+' || c == '-';
}

}  // namespace

bool isSafeName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameBytes) return false;
  if (!isValidUtf8(name)) return false;
  if (name.front() == '.' || name.back() == '.' || name.back() == ' ') return false;
  if (hasForbiddenNameCharacter(name)) return false;
  return !isReservedDeviceName(name);
}

std::optional<std::string> acceptedMediaType(const std::optional<std::string>& value) {
  if (!value) return std::nullopt;
  std::optional<std::string> lower = lowercased(*value);
  if (!lower || lower->size() > kMaxMediaTypeBytes) return std::nullopt;
  const std::string::size_type slash = lower->find('/');
  if (slash == std::string::npos || slash == 0 || slash + 1 == lower->size()) return std::nullopt;
  for (std::string::size_type i = 0; i < lower->size(); ++i) {
    if (i != slash && !isRestrictedNameCharacter((*lower)[i])) return std::nullopt;
  }
  return lower;
}

}  // namespace quillop
