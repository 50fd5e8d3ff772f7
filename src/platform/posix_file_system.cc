#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "platform/error.h"
#include "platform/file_system.h"

namespace quillop {
namespace {

template <typename Call>
long retryOnInterrupt(Call call) {
  for (;;) {
    long result = call();
    if (result >= 0) return result;
    if (errno != EINTR) return -errno;
  }
}

class PosixFileSystem final : public FileSystem {
 public:
  int open(const std::string& path, int flags, mode_t mode) override {
    int fd = static_cast<int>(
        retryOnInterrupt([&] { return ::open(path.c_str(), flags | O_CLOEXEC, mode); }));
    if (fd < 0) throw systemError(-fd, path);
    return fd;
  }
  int close(int fd) noexcept override { return ::close(fd) == 0 ? 0 : -errno; }
  int fstat(int fd, struct stat& st) override { return ::fstat(fd, &st) == 0 ? 0 : -errno; }
  int setStatusFlags(int fd, int flags) override {
    return ::fcntl(fd, F_SETFL, flags) == 0 ? 0 : -errno;
  }
  long read(int fd, void* buffer, size_t count) override {
    return retryOnInterrupt([&] { return ::read(fd, buffer, count); });
  }
  long write(int fd, const void* buffer, size_t count) override {
    return retryOnInterrupt([&] { return ::write(fd, buffer, count); });
  }
  long copyRange(int in, int out, size_t count) override {
    return retryOnInterrupt([&] { return ::copy_file_range(in, nullptr, out, nullptr, count, 0); });
  }
  int sync(int fd) override {
    return static_cast<int>(retryOnInterrupt([&] { return ::fsync(fd); }));
  }
  int lock(int fd, int operation) override {
    return static_cast<int>(retryOnInterrupt([&] { return ::flock(fd, operation); }));
  }

  struct stat linkStatus(const std::string& path) override {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) throw systemError(errno, path);
    return st;
  }
  void makeDirectory(const std::string& path, mode_t mode) override {
    if (::mkdir(path.c_str(), mode) != 0) throw systemError(errno, path);
  }
  void setMode(const std::string& path, mode_t mode) override {
    if (::chmod(path.c_str(), mode) != 0) throw systemError(errno, path);
  }
  std::vector<std::string> list(const std::string& path) override {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), &::closedir);
    if (!dir) throw systemError(errno, path);
    std::vector<std::string> names;
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir.get());
      if (entry == nullptr) {
        if (errno != 0) throw systemError(errno, path);
        return names;
      }
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(std::move(name));
    }
  }
  void rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) throw systemError(errno, to);
  }
  void remove(const std::string& path) override {
    if (::unlink(path.c_str()) == 0) return;
    int err = errno;
    if ((err == EISDIR || err == EPERM) && ::rmdir(path.c_str()) == 0) return;
    throw systemError(err, path);
  }
  std::optional<std::uint64_t> freeSpace(const std::string& path) override {
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0) throw systemError(errno, path);
    if (st.f_frsize == 0) return std::nullopt;
    return static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
  }
  std::string resolve(const std::string& path) override {
    std::unique_ptr<char, void (*)(void*)> resolved(::realpath(path.c_str(), nullptr), &::free);
    if (!resolved) throw systemError(errno, path);
    return resolved.get();
  }
  void setAttribute(const std::string& path, const std::string& name,
                    const std::string& value) override {
    if (::lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) != 0) {
      throw systemError(errno, path);
    }
  }
};

}  // namespace

FileSystem& FileSystem::posix() {
  static PosixFileSystem* instance = new PosixFileSystem();
  return *instance;
}

void removeTree(FileSystem& fs, const std::string& path) noexcept {
  try {
    struct stat st = fs.linkStatus(path);
    if (S_ISDIR(st.st_mode)) {
      std::vector<std::string> names;
      try {
        names = fs.list(path);
      } catch (const Error&) {
      }
      for (const std::string& name : names) removeTree(fs, path + "/" + name);
    }
    fs.remove(path);
  } catch (const Error&) {
  }
}

void makeDirectories(FileSystem& fs, const std::string& path) {
  if (path.empty() || path == "/") return;
  try {
    fs.makeDirectory(path, 0777);
    return;
  } catch (const Error& error) {
    if (error.isPosix(EEXIST)) {
      // A link to a folder counts as the folder, as it does for `mkdir -p`.
      if (S_ISDIR(fs.linkStatus(fs.resolve(path)).st_mode)) return;
      throw;
    }
    if (!error.isPosix(ENOENT)) throw;
  }
  std::string::size_type slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) throw systemError(ENOENT, path);
  makeDirectories(fs, path.substr(0, slash));
  try {
    fs.makeDirectory(path, 0777);
  } catch (const Error& error) {
    if (!error.isPosix(EEXIST)) throw;
  }
}

}  // namespace quillop
