// Unicode checks on UTF-8 text, with ICU's character data. Pure functions; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillop {

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool isValidUtf8(std::string_view text);

// True when well-formed `text` holds a character that no portable file name may hold: one of
// / \ : < > " | ? * or a control character (Unicode general categories Cc and Cf).
// Ill-formed UTF-8 counts as holding one.
bool hasForbiddenNameCharacter(std::string_view text);

// `text` for a terminal: every control character (general category Cc: C0, DEL and the C1
// controls U+0080 to U+009F, which terminals obey too) and every byte of ill-formed UTF-8 is
// shown as "?", so that no name can move the cursor, recolour or retitle the terminal.
std::string printableText(std::string_view text);

// The rows `text` takes on a terminal `columns` wide, by the columns it gives each character
// (ICU's character data): 2 for East Asian Wide and Fullwidth (CJK, most emoji), 0 for
// combining marks, format characters and the Hangul vowel and final jamo that join a syllable,
// 1 otherwise, and 1 for each ill-formed sequence (one "?" once printable). A character wider
// than what is left of a row starts the next one, as terminals wrap a wide character whole.
int terminalRows(std::string_view text, int columns);

// Full Unicode lower-casing, independent of the user's locale (U+212A KELVIN SIGN becomes "k").
// nullopt when `text` is not well-formed UTF-8.
std::optional<std::string> lowercased(std::string_view text);

}  // namespace quillop
