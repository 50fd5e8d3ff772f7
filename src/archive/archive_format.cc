#include "archive/archive_format.h"

#include <algorithm>

#include "platform/unicode.h"

namespace quillop {

std::string header(std::uint32_t indexLength) {
  std::string bytes(kMagic);
  for (int shift = 24; shift >= 0; shift -= 8) {
    bytes += static_cast<char>((indexLength >> shift) & 0xFF);
  }
  return bytes;
}

std::optional<std::uint32_t> indexLengthOf(std::string_view bytes) {
  if (bytes.size() != kHeaderBytes || bytes.substr(0, kMagic.size()) != kMagic) {
    return std::nullopt;
  }
  std::uint32_t length = 0;
  for (std::size_t i = kMagic.size(); i < kHeaderBytes; ++i) {
    length = (length << 8) | static_cast<unsigned char>(bytes[i]);
  }
  return length;
}

bool pathBefore(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  });
}

bool isAcceptableName(std::string_view name) {
  if (name.size() > kMaxNameBytes) return false;
  if (name.empty() || name == "." || name == "..") return false;
  if (name.back() == '.' || name.back() == ' ') return false;
  return !hasForbiddenNameCharacter(name);
}

bool isAcceptablePath(std::string_view path) {
  if (path.empty() || path.size() > kMaxPathBytes) return false;
  for (;;) {
    const std::size_t slash = path.find('/');
    if (!isAcceptableName(path.substr(0, slash))) return false;
    if (slash == std::string_view::npos) return true;
    path.remove_prefix(slash + 1);
  }
}

}  // namespace quillop
