// Every operating-system call of the core goes through this interface, so that tests can inject
// faults (disk full, failed write, failed fsync, failed rename, a file swapped between two looks)
// without root. `FileSystem::posix()` is the one real implementation; `ForwardingFileSystem`
// forwards everything to another instance and is what tests derive from.
//
// Conventions:
// - Every call of the interface (the virtual functions) returns the system-call result: a
//   descriptor, a count or 0 on success, -errno on failure (EINTR already retried). Nothing
//   below this interface throws, so a fault is injected one way for every call.
// - Errors are thrown only above it: the path calls' throwing forms below (`linkStatus`, `list`,
//   ...) throw `Error` (domain "POSIX", the errno as code, the path in the message), and
//   `FileHandle` turns the descriptor calls' results into errors that name its path.
// - Paths are byte strings, as Linux names are; nothing here requires UTF-8.
// - Descriptor-relative calls (`...At`) take an open folder and one entry name in it: never
//   empty, never "..", never holding "/" (-EINVAL otherwise). They never follow a link, so a
//   tree walked through them cannot be left by swapping a folder for a link.
// All implementations must be safe to call from any thread.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"

namespace quillop {

// One entry of a folder listing: its name and its type as the listing reports it (a DT_* value
// of dirent.h; DT_UNKNOWN when the file system does not say, and the caller must ask statAt).
struct DirectoryEntry {
  std::string name;
  unsigned char type;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // The process-wide POSIX implementation. Never destroyed.
  static FileSystem& posix();

  // open(2): the descriptor.
  virtual int open(const std::string& path, int flags, mode_t mode) = 0;
  // close(2). Errors are returned, never thrown; most callers ignore them.
  virtual int close(int fd) noexcept = 0;
  virtual int fstat(int fd, struct stat& st) = 0;
  // fcntl(F_SETFL).
  virtual int setStatusFlags(int fd, int flags) = 0;
  // read(2): bytes read (0 at the end), or -errno.
  virtual long read(int fd, void* buffer, size_t count) = 0;
  // write(2): bytes written (possibly fewer than asked), or -errno.
  virtual long write(int fd, const void* buffer, size_t count) = 0;
  // copy_file_range(2) from the current offsets: bytes moved (0 at the end of `in`), or -errno.
  // -EXDEV, -EINVAL, -ENOSYS, -EOPNOTSUPP mean "not possible here"; no error says which file
  // failed. Callers fall back to read/write.
  virtual long copyRange(int in, int out, size_t count) = 0;
  // fsync(2).
  virtual int sync(int fd) = 0;
  // flock(2) with `operation` (LOCK_SH or LOCK_EX, LOCK_NB added for a try): 0, or -errno.
  virtual int lock(int fd, int operation) = 0;
  // sync_file_range(2) with SYNC_FILE_RANGE_WRITE: starts writing the range back to storage
  // without waiting for it. A hint: durability still needs `sync`.
  virtual int startWriteBack(int fd, std::uint64_t offset, std::uint64_t count) = 0;
  // fallocate(2) with FALLOC_FL_KEEP_SIZE: storage for the first `length` bytes, the size
  // unchanged. A hint: the file system lays the file out at once.
  virtual int reserve(int fd, std::uint64_t length) = 0;

  // Opens `name` beneath the open folder `folder` without following any link (openat2 with
  // RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS where the kernel has it and no sandbox refuses it
  // (ENOSYS or EPERM, remembered for the process), else openat with O_NOFOLLOW;
  // "." is the folder itself). Returns the descriptor or -errno. A link gives -ELOOP, or
  // -ENOTDIR with O_DIRECTORY.
  virtual int openAt(int folder, const std::string& name, int flags, mode_t mode) = 0;
  // fstatat(2) with AT_SYMLINK_NOFOLLOW: the entry itself.
  virtual int statAt(int folder, const std::string& name, struct stat& st) = 0;
  // The next entries of the open folder (getdents64) from its current position, without "."
  // and "..": replaces `entries` with at most one system buffer of them and returns their count,
  // 0 at the end, or -errno. Memory stays bounded whatever the folder holds.
  virtual long readEntries(int folder, std::vector<DirectoryEntry>& entries) = 0;
  // mkdirat(2).
  virtual int makeDirectoryAt(int folder, const std::string& name, mode_t mode) = 0;
  // unlinkat(2); a folder with `isFolder` (AT_REMOVEDIR). A link is removed, never followed.
  virtual int removeAt(int folder, const std::string& name, bool isFolder) = 0;

  // lstat(2): never follows a final symbolic link.
  virtual int lstat(const std::string& path, struct stat& st) = 0;
  // mkdir(2) with `mode` (the umask applies, as it does for mkdir).
  virtual int mkdir(const std::string& path, mode_t mode) = 0;
  // chmod(2).
  virtual int chmod(const std::string& path, mode_t mode) = 0;
  // The names in a folder, hidden ones included, without "." and "..", in the system's order.
  virtual int readNames(const std::string& path, std::vector<std::string>& names) = 0;
  // rename(2).
  virtual int renamePath(const std::string& from, const std::string& to) = 0;
  // unlink(2), or rmdir(2) for a folder.
  virtual int unlink(const std::string& path) = 0;
  // Free bytes of the volume holding `path` for an unprivileged user (f_bavail * f_frsize);
  // nullopt when the system gives no usable value.
  virtual int freeBytes(const std::string& path, std::optional<std::uint64_t>& bytes) = 0;
  // realpath(3): every symbolic link resolved.
  virtual int realpath(const std::string& path, std::string& resolved) = 0;
  // lsetxattr(2): on the path itself.
  virtual int setxattr(const std::string& path, const std::string& name,
                       const std::string& value) = 0;

  // The throwing forms of the path calls, for callers that report errors as `Error`. Each names
  // `path` in its message (a rename, its destination). EEXIST from makeDirectory is thrown like
  // any error.
  struct stat linkStatus(const std::string& path);
  void makeDirectory(const std::string& path, mode_t mode);
  void setMode(const std::string& path, mode_t mode);
  std::vector<std::string> list(const std::string& path);
  void rename(const std::string& from, const std::string& to);
  void remove(const std::string& path);
  std::optional<std::uint64_t> freeSpace(const std::string& path);
  std::string resolve(const std::string& path);
  void setAttribute(const std::string& path, const std::string& name, const std::string& value);
};

// Forwards every call to `target`; override single calls to inject faults or observe order.
class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& target = FileSystem::posix()) : target_(target) {}

  int open(const std::string& p, int f, mode_t m) override { return target_.open(p, f, m); }
  int close(int fd) noexcept override { return target_.close(fd); }
  int fstat(int fd, struct stat& st) override { return target_.fstat(fd, st); }
  int setStatusFlags(int fd, int f) override { return target_.setStatusFlags(fd, f); }
  long read(int fd, void* b, size_t n) override { return target_.read(fd, b, n); }
  long write(int fd, const void* b, size_t n) override { return target_.write(fd, b, n); }
  long copyRange(int in, int out, size_t n) override { return target_.copyRange(in, out, n); }
  int sync(int fd) override { return target_.sync(fd); }
  int lock(int fd, int operation) override { return target_.lock(fd, operation); }
  int startWriteBack(int fd, std::uint64_t offset, std::uint64_t count) override {
    return target_.startWriteBack(fd, offset, count);
  }
  int reserve(int fd, std::uint64_t length) override { return target_.reserve(fd, length); }
  int openAt(int d, const std::string& n, int f, mode_t m) override {
    return target_.openAt(d, n, f, m);
  }
  int statAt(int d, const std::string& n, struct stat& st) override {
    return target_.statAt(d, n, st);
  }
  long readEntries(int d, std::vector<DirectoryEntry>& e) override {
    return target_.readEntries(d, e);
  }
  int makeDirectoryAt(int d, const std::string& n, mode_t m) override {
    return target_.makeDirectoryAt(d, n, m);
  }
  int removeAt(int d, const std::string& n, bool f) override { return target_.removeAt(d, n, f); }
  int lstat(const std::string& p, struct stat& st) override { return target_.lstat(p, st); }
  int mkdir(const std::string& p, mode_t m) override { return target_.mkdir(p, m); }
  int chmod(const std::string& p, mode_t m) override { return target_.chmod(p, m); }
  int readNames(const std::string& p, std::vector<std::string>& n) override {
    return target_.readNames(p, n);
  }
  int renamePath(const std::string& a, const std::string& b) override {
    return target_.renamePath(a, b);
  }
  int unlink(const std::string& p) override { return target_.unlink(p); }
  int freeBytes(const std::string& p, std::optional<std::uint64_t>& b) override {
    return target_.freeBytes(p, b);
  }
  int realpath(const std::string& p, std::string& r) override { return target_.realpath(p, r); }
  int setxattr(const std::string& p, const std::string& n, const std::string& v) override {
    return target_.setxattr(p, n, v);
  }

 protected:
  FileSystem& target() { return target_; }

 private:
  FileSystem& target_;
};

// Removes `path` and, for a folder, everything below it, without recursion. Only the folder
// holding `path` is looked up by path; everything below is reached through descriptors, and a
// link anywhere, `path` included, is removed itself, never followed. Goes on past what it cannot
// remove and returns the first error (none when `path` is gone, or was never there). Holds at
// most kMaxRemovalDepth + 1 descriptors: folders nested deeper stay, reported as EMFILE.
std::optional<Error> removeTree(FileSystem& fs, const std::string& path) noexcept;
inline constexpr std::size_t kMaxRemovalDepth = 256;

// Creates `path` and any missing parents (mode 0777 minus umask, like `mkdir -p`); an existing
// folder counts as success. Each folder made is synced into its parent, so that it survives a
// power cut. Throws the first error otherwise.
void makeDirectories(FileSystem& fs, const std::string& path);

// fsync of a folder, so that a rename or a creation inside it survives a power cut. Throws.
void syncDirectory(FileSystem& fs, const std::string& folder);

}  // namespace quillop
