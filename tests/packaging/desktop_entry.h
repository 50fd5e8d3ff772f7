// Desktop entries as launchers read them (freedesktop Desktop Entry rules): the key file, the
// quoting of Exec and the expansion of its field codes. Strict: whatever a conforming launcher
// could read differently is refused with std::runtime_error. Any thread.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace quillop::testing {

class KeyFile {
 public:
  // Parses the text of a key file; string escapes (\s \n \t \r \\) are decoded.
  static KeyFile parse(const std::string& text);
  // The value of `key` in `group`; throws when there is none.
  const std::string& value(const std::string& group, const std::string& key) const;
  bool has(const std::string& group, const std::string& key) const;

 private:
  std::map<std::string, std::map<std::string, std::string>> groups_;
};

// How a launcher spells a local file for %u / %U.
enum class UriStyle {
  kStrict,     // every byte but the unreserved ones and "/" percent-encoded
  kKeepMarks,  // also leaves RFC 3986 sub-delimiters, ":" and "@" as they are (GLib, KDE)
};

std::string fileUri(const std::string& path, UriStyle style);

// The argument vector of an Exec value (already decoded as a string) for the selection `paths`:
// %F as the paths, %U as their file URIs, %% as "%".
std::vector<std::string> expandExec(const std::string& exec, const std::vector<std::string>& paths,
                                    UriStyle style = UriStyle::kStrict);

}  // namespace quillop::testing
