// The one temporary environment of a test: a fresh folder under $TMPDIR (or /tmp) and changed
// environment variables, both undone on destruction. Plus small file helpers.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quillop::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Sets `name` to `value` (nullopt: removes it) until destruction. Not thread-safe.
  void setEnv(const std::string& name, const std::optional<std::string>& value);

 private:
  std::string path_;
  std::map<std::string, std::optional<std::string>> savedEnv_;
};

void writeFile(const std::string& path, const std::string& contents);
std::string readFile(const std::string& path);
bool exists(const std::string& path);           // lstat succeeds
unsigned permissions(const std::string& path);  // st_mode & 07777
void makeFolder(const std::string& path);       // with parents
// Names inside a folder, sorted; empty when it cannot be listed.
std::vector<std::string> listFolder(const std::string& path);

}  // namespace quillop::testing
