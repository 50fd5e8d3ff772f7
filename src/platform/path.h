// Names within a path, by text alone: nothing is looked up on disk. Any thread.
#pragma once

#include <string>
#include <string_view>

namespace quillop {

// The folder that holds `path`, as removing its last component does: trailing "/" are ignored,
// "/a/b/" and "/a/b" both give "/a", the root and "/a" give "/", a bare name gives ".".
std::string parentFolder(std::string_view path);

// The last component of `path` (trailing "/" ignored; the root stays "/").
std::string lastComponent(std::string_view path);

// The text after the last "." of the last component; empty for none, for ".name" and "name.".
std::string pathExtension(std::string_view path);

}  // namespace quillop
