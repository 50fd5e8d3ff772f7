#include "support/temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/file_system.h"

namespace quillop::testing {
namespace {

void apply(const std::string& name, const std::optional<std::string>& value) {
  value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
}

}  // namespace

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && base[0] == '/' ? base : "/tmp") + "/quillop-test-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  for (const auto& [name, value] : savedEnv_) apply(name, value);
  removeTree(FileSystem::posix(), path_);
}

void TempDir::setEnv(const std::string& name, const std::optional<std::string>& value) {
  const char* previous = std::getenv(name.c_str());
  savedEnv_.try_emplace(name, previous ? std::optional<std::string>(previous) : std::nullopt);
  apply(name, value);
}

void writeFile(const std::string& path, const std::string& contents) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

unsigned permissions(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

void makeFolder(const std::string& path) { makeDirectories(FileSystem::posix(), path); }

std::vector<std::string> listFolder(const std::string& path) try {
  std::vector<std::string> names = FileSystem::posix().list(path);
  std::sort(names.begin(), names.end());
  return names;
} catch (...) {
  return {};
}

}  // namespace quillop::testing
