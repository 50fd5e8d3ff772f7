#include "platform/unicode.h"

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>

namespace quillop {
namespace {

// Calls `visit` with every code point; returns false at the first ill-formed sequence.
template <typename Visit>
bool forEachCodePoint(std::string_view text, Visit visit) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const int32_t length = static_cast<int32_t>(text.size());
  if (text.size() > static_cast<size_t>(INT32_MAX)) return false;
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c < 0) return false;
    if (!visit(c)) return true;
  }
  return true;
}

// Calls `visit(c, sequence)` with every code point and the bytes that encode it, in order; an
// ill-formed sequence (as ICU delimits it) comes with c < 0.
template <typename Visit>
void forEachSequence(std::string_view text, Visit visit) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const int32_t length = static_cast<int32_t>(std::min<size_t>(text.size(), INT32_MAX));
  for (int32_t i = 0; i < length;) {
    const int32_t start = i;
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    visit(c, text.substr(static_cast<size_t>(start), static_cast<size_t>(i - start)));
  }
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  return forEachCodePoint(text, [](UChar32) { return true; });
}

bool hasForbiddenNameCharacter(std::string_view text) {
  bool found = false;
  bool wellFormed = forEachCodePoint(text, [&](UChar32 c) {
    switch (c) {
      case '/':
      case '\\':
      case ':':
      case '<':
      case '>':
      case '"':
      case '|':
      case '?':
      case '*':
        found = true;
        return false;
      default:
        break;
    }
    const int8_t category = u_charType(c);
    if (category == U_CONTROL_CHAR || category == U_FORMAT_CHAR) {
      found = true;
      return false;
    }
    return true;
  });
  return found || !wellFormed;
}

std::string printableText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  forEachSequence(text, [&](UChar32 c, std::string_view sequence) {
    if (c < 0 || u_charType(c) == U_CONTROL_CHAR) {
      out += '?';
    } else {
      out.append(sequence);
    }
  });
  return out;
}

int terminalRows(std::string_view text, int columns) {
  int rows = 1, used = 0;
  forEachSequence(text, [&](UChar32 c, std::string_view) {
    int width = 1;
    if (c >= 0) {
      const int8_t category = u_charType(c);
      const int32_t jamo = u_getIntPropertyValue(c, UCHAR_HANGUL_SYLLABLE_TYPE);
      const int32_t east = u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH);
      if (category == U_NON_SPACING_MARK || category == U_ENCLOSING_MARK ||
          category == U_FORMAT_CHAR || jamo == U_HST_VOWEL_JAMO || jamo == U_HST_TRAILING_JAMO) {
        width = 0;
      } else if (east == U_EA_WIDE || east == U_EA_FULLWIDTH) {
        width = 2;
      }
    }
    if (used > 0 && used + width > columns) ++rows, used = 0;
    used += width;
  });
  return rows;
}

std::optional<std::string> lowercased(std::string_view text) {
  if (!isValidUtf8(text)) return std::nullopt;
  icu::UnicodeString unicode = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  unicode.toLower(icu::Locale::getRoot());
  std::string result;
  unicode.toUTF8String(result);
  return result;
}

}  // namespace quillop
