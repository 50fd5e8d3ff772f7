#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

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

// One entry name: never empty, never "..", never holding "/" ("." only where `dot` allows).
bool isEntryName(const std::string& name, bool dot) {
  return !name.empty() && name != ".." && (dot || name != ".") &&
         name.find('/') == std::string::npos;
}

// Cleared once the kernel answers ENOSYS, or a sandbox refuses the call (seccomp profiles of
// container runtimes answer EPERM for calls they do not know): openat with O_NOFOLLOW from then
// on, equally safe for one component.
std::atomic<bool> haveOpenat2{true};

class PosixFileSystem final : public FileSystem {
 public:
  int open(const std::string& path, int flags, mode_t mode) override {
    return static_cast<int>(
        retryOnInterrupt([&] { return ::open(path.c_str(), flags | O_CLOEXEC, mode); }));
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

  int startWriteBack(int fd, std::uint64_t offset, std::uint64_t count) override {
    return ::sync_file_range(fd, static_cast<off64_t>(offset), static_cast<off64_t>(count),
                             SYNC_FILE_RANGE_WRITE) == 0
               ? 0
               : -errno;
  }

  int reserve(int fd, std::uint64_t length) override {
    return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(length)) == 0 ? 0 : -errno;
  }

  int openAt(int folder, const std::string& name, int flags, mode_t mode) override {
    if (!isEntryName(name, true)) return -EINVAL;
    flags |= O_NOFOLLOW | O_CLOEXEC;
    if (haveOpenat2.load(std::memory_order_relaxed)) {
      open_how how{};
      how.flags = static_cast<std::uint64_t>(flags);
      how.mode = (flags & (O_CREAT | O_TMPFILE)) != 0 ? mode : 0;
      how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
      const long fd = retryOnInterrupt(
          [&] { return ::syscall(SYS_openat2, folder, name.c_str(), &how, sizeof how); });
      if (fd != -ENOSYS && fd != -EPERM) return static_cast<int>(fd);
      const long plain =
          retryOnInterrupt([&] { return ::openat(folder, name.c_str(), flags, mode); });
      // EPERM from both calls is the file's own answer; from openat2 alone, the sandbox's.
      if (fd == -ENOSYS || plain != -EPERM) haveOpenat2.store(false, std::memory_order_relaxed);
      return static_cast<int>(plain);
    }
    return static_cast<int>(
        retryOnInterrupt([&] { return ::openat(folder, name.c_str(), flags, mode); }));
  }
  int statAt(int folder, const std::string& name, struct stat& st) override {
    if (!isEntryName(name, true)) return -EINVAL;
    return ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -errno;
  }
  long readEntries(int folder, std::vector<DirectoryEntry>& entries) override {
    entries.clear();
    alignas(dirent64) std::array<char, 32768> buffer;
    for (;;) {
      const long n =
          retryOnInterrupt([&] { return ::getdents64(folder, buffer.data(), buffer.size()); });
      if (n <= 0) return n;
      for (long at = 0; at < n;) {
        const auto* entry = reinterpret_cast<const dirent64*>(buffer.data() + at);
        at += entry->d_reclen;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        entries.push_back(DirectoryEntry{entry->d_name, entry->d_type});
      }
      // A buffer of only "." and ".." is not the end of the folder.
      if (!entries.empty()) return static_cast<long>(entries.size());
    }
  }
  int makeDirectoryAt(int folder, const std::string& name, mode_t mode) override {
    if (!isEntryName(name, false)) return -EINVAL;
    return ::mkdirat(folder, name.c_str(), mode) == 0 ? 0 : -errno;
  }
  int removeAt(int folder, const std::string& name, bool isFolder) override {
    if (!isEntryName(name, false)) return -EINVAL;
    return ::unlinkat(folder, name.c_str(), isFolder ? AT_REMOVEDIR : 0) == 0 ? 0 : -errno;
  }

  int lstat(const std::string& path, struct stat& st) override {
    return ::lstat(path.c_str(), &st) == 0 ? 0 : -errno;
  }
  int mkdir(const std::string& path, mode_t mode) override {
    return ::mkdir(path.c_str(), mode) == 0 ? 0 : -errno;
  }
  int chmod(const std::string& path, mode_t mode) override {
    return ::chmod(path.c_str(), mode) == 0 ? 0 : -errno;
  }
  int readNames(const std::string& path, std::vector<std::string>& names) override {
    names.clear();
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(path.c_str()), &::closedir);
    if (!dir) return -errno;
    for (;;) {
      errno = 0;
      const dirent* entry = ::readdir(dir.get());
      if (entry == nullptr) return -errno;
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(std::move(name));
    }
  }
  int renamePath(const std::string& from, const std::string& to) override {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : -errno;
  }
  int unlink(const std::string& path) override {
    if (::unlink(path.c_str()) == 0) return 0;
    const int err = errno;
    if ((err == EISDIR || err == EPERM) && ::rmdir(path.c_str()) == 0) return 0;
    return -err;
  }
  int freeBytes(const std::string& path, std::optional<std::uint64_t>& bytes) override {
    struct statvfs st {};
    if (::statvfs(path.c_str(), &st) != 0) return -errno;
    bytes.reset();
    if (st.f_frsize != 0) bytes = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
    return 0;
  }
  int realpath(const std::string& path, std::string& resolved) override {
    std::unique_ptr<char, void (*)(void*)> full(::realpath(path.c_str(), nullptr), &::free);
    if (!full) return -errno;
    resolved = full.get();
    return 0;
  }
  int setxattr(const std::string& path, const std::string& name,
               const std::string& value) override {
    return ::lsetxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0) == 0 ? 0 : -errno;
  }
};

}  // namespace

FileSystem& FileSystem::posix() {
  static PosixFileSystem* instance = new PosixFileSystem();
  return *instance;
}

}  // namespace quillop
