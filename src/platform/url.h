// A parsed URL: an RFC 3986 URI or relative reference (liburiparser), kept as its text.
// Value type; any thread.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillop {

class Url {
 public:
  // Parses `text` as a URI reference; nullopt when it is not one (spaces, non-ASCII bytes, ...).
  static std::optional<Url> parse(std::string_view text);
  // The file URL of an absolute path: "file://" and the path, percent-encoded byte by byte.
  static Url fromPath(std::string_view absolutePath);

  const std::string& text() const { return text_; }
  bool isFileUrl() const { return scheme_ == "file"; }
  // A file URL naming this machine: no host, or "localhost".
  bool isLocalFileUrl() const { return isFileUrl() && (host_.empty() || host_ == "localhost"); }
  // The percent-decoded path ("/" in front when the URL has an authority or an absolute path).
  const std::string& path() const { return path_; }
  // The decoded path's last component, and the text after its last "." (none for ".name").
  std::string lastPathComponent() const;
  std::string pathExtension() const;

  bool operator==(const Url& other) const { return text_ == other.text_; }

 private:
  std::string text_;
  std::string scheme_;
  std::string host_;
  std::string path_;
};

}  // namespace quillop
