#include "platform/path.h"

namespace quillop {
namespace {

std::string_view withoutTrailingSlashes(std::string_view path) {
  while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return path;
}

}  // namespace

std::string parentFolder(std::string_view path) {
  path = withoutTrailingSlashes(path);
  const std::string_view::size_type slash = path.find_last_of('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(path.substr(0, slash));
}

std::string lastComponent(std::string_view path) {
  path = withoutTrailingSlashes(path);
  const std::string_view::size_type slash = path.find_last_of('/');
  if (slash == std::string_view::npos || path.size() == 1) return std::string(path);
  return std::string(path.substr(slash + 1));
}

std::string pathExtension(std::string_view path) {
  const std::string name = lastComponent(path);
  const std::string::size_type dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) return {};
  return name.substr(dot + 1);
}

}  // namespace quillop
