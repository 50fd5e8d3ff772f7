#include "platform/url.h"

#include <uriparser/Uri.h>

#include <algorithm>
#include <cctype>

#include "platform/path.h"

namespace quillop {
namespace {

std::string rangeText(const UriTextRangeA& range) {
  if (range.first == nullptr || range.afterLast == nullptr) return {};
  return std::string(range.first, range.afterLast);
}

std::string percentDecode(std::string text) {
  if (text.empty()) return text;
  const char* end = uriUnescapeInPlaceExA(text.data(), URI_FALSE, URI_BR_DONT_TOUCH);
  text.resize(static_cast<size_t>(end - text.data()));
  return text;
}

std::string asciiLowercased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
  std::string copy(text);
  UriUriA uri;
  const char* errorPos = nullptr;
  if (uriParseSingleUriExA(&uri, copy.data(), copy.data() + copy.size(), &errorPos) !=
      URI_SUCCESS) {
    return std::nullopt;
  }
  Url url;
  url.text_ = copy;
  url.scheme_ = asciiLowercased(rangeText(uri.scheme));
  url.host_ = asciiLowercased(percentDecode(rangeText(uri.hostText)));
  std::string path;
  for (const UriPathSegmentA* segment = uri.pathHead; segment != nullptr; segment = segment->next) {
    if (segment != uri.pathHead) path += '/';
    path += rangeText(segment->text);
  }
  const bool rooted = uri.absolutePath == URI_TRUE || uri.hostText.first != nullptr;
  if (rooted && (uri.pathHead != nullptr || uri.absolutePath == URI_TRUE))
    path = std::string("/") + path;
  uriFreeUriMembersA(&uri);
  url.path_ = percentDecode(std::move(path));
  return url;
}

Url Url::fromPath(std::string_view absolutePath) {
  static const char* hex = "0123456789ABCDEF";
  std::string text = "file://";
  for (unsigned char c : absolutePath) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      text += static_cast<char>(c);
    } else {
      text += '%';
      text += hex[c >> 4];
      text += hex[c & 15];
    }
  }
  return *parse(text);
}

std::string Url::lastPathComponent() const { return lastComponent(path_); }

std::string Url::pathExtension() const { return quillop::pathExtension(path_); }

}  // namespace quillop
