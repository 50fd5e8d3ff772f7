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

#include "platform/error.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/path.h"

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

namespace {

// One folder being emptied: its handle, the entries listed and not yet removed, and its name in
// the folder below it on the stack.
struct Emptying {
  Emptying(FileHandle handle, std::string entry)
      : folder(std::move(handle)), name(std::move(entry)) {}
  FileHandle folder;
  std::string name;
  std::vector<DirectoryEntry> entries;
  std::size_t next = 0;
};

// Unlinks `name` beneath `folder`; a folder answers EISDIR (or EPERM) and is left to the caller.
// Returns whether the entry is a folder still to empty; records any other error in `first`.
bool unlinkOrFolder(const FileHandle& folder, const std::string& name,
                    std::optional<Error>& first) {
  try {
    folder.removeAt(name, false);
    return false;
  } catch (const Error& error) {
    if (error.isPosix(EISDIR) || error.isPosix(EPERM)) return true;
    if (!error.isPosix(ENOENT) && !first) first = error;
    return false;
  }
}

}  // namespace

std::optional<Error> removeTree(FileSystem& fs, const std::string& path) noexcept {
  std::optional<Error> first;
  const auto note = [&](const Error& error) {
    if (!first) first = error;
  };
  try {
    const FileHandle holder = FileHandle::open(fs, parentFolder(path), O_RDONLY | O_DIRECTORY);
    if (!unlinkOrFolder(holder, lastComponent(path), first)) return first;
    std::vector<Emptying> stack;
    stack.push_back(
        {holder.openAt(lastComponent(path), O_RDONLY | O_DIRECTORY), lastComponent(path)});
    while (!stack.empty()) {
      Emptying& top = stack.back();
      if (top.next == top.entries.size()) {
        top.next = 0;
        // Entries are removed batch by batch while listing: those not yet listed still come.
        bool more = false;
        try {
          more = top.folder.nextEntries(top.entries);
        } catch (const Error& error) {
          note(error);
        }
        if (more) continue;
        const std::string name = std::move(top.name);
        stack.pop_back();
        try {
          (stack.empty() ? holder : stack.back().folder).removeAt(name, true);
        } catch (const Error& error) {
          note(error);
        }
        continue;
      }
      const std::string name = top.entries[top.next++].name;
      if (!unlinkOrFolder(top.folder, name, first)) continue;
      if (stack.size() == kMaxRemovalDepth) {
        note(systemError(EMFILE, path));
        continue;
      }
      try {
        // Opened beneath its folder: one swapped for a link meanwhile fails, never entered.
        FileHandle inner = top.folder.openAt(name, O_RDONLY | O_DIRECTORY);
        stack.emplace_back(std::move(inner), name);
      } catch (const Error& error) {
        note(error);
      }
    }
  } catch (const Error& error) {
    if (!error.isPosix(ENOENT)) note(error);
  } catch (const std::bad_alloc&) {
    note(systemError(ENOMEM, path));
  }
  return first;
}

void syncDirectory(FileSystem& fs, const std::string& folder) {
  FileHandle dir = FileHandle::open(fs, folder, O_RDONLY | O_DIRECTORY);
  dir.sync();
}

void makeDirectories(FileSystem& fs, const std::string& path) {
  if (path.empty() || path == "/") return;
  std::string::size_type slash = path.find_last_of('/');
  const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
  try {
    fs.makeDirectory(path, 0777);
    syncDirectory(fs, parent);
    return;
  } catch (const Error& error) {
    if (error.isPosix(EEXIST)) {
      // A link to a folder counts as the folder, as it does for `mkdir -p`.
      if (S_ISDIR(fs.linkStatus(fs.resolve(path)).st_mode)) return;
      throw;
    }
    if (!error.isPosix(ENOENT)) throw;
  }
  if (slash == std::string::npos || slash == 0) throw systemError(ENOENT, path);
  makeDirectories(fs, parent);
  try {
    fs.makeDirectory(path, 0777);
  } catch (const Error& error) {
    if (!error.isPosix(EEXIST)) throw;
    return;
  }
  syncDirectory(fs, parent);
}

}  // namespace quillop
