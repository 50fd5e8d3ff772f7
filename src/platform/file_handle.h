// A move-only owner of one open descriptor, reached through a `FileSystem` so that every call on
// it can be faulted in tests. The destructor closes the descriptor and never throws; `close()`
// does the same earlier. Errors of the descriptor calls are thrown as `Error` naming the path
// the handle was opened with. One thread at a time, but for startWriteBack.
//
// A handle on a folder also reaches what lies beneath it, one entry name at a time and never
// through a link (the `...At` calls of FileSystem); handles opened that way carry the path
// "<folder path>/<name>" for their messages. The descriptor itself never leaves the handle and
// the file system.
//
// A handle may count what `writeAll` writes into a CopyProgress, for a progress display of the
// copy loops that write through it.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/copy_progress.h"
#include "platform/error.h"
#include "platform/file_system.h"

namespace quillop {

class FileHandle {
 public:
  FileHandle() = default;
  // Opens `path` through `fs`; throws its error, naming `path`.
  static FileHandle open(FileSystem& fs, const std::string& path, int flags, mode_t mode = 0);
  // Takes ownership of an already open descriptor.
  FileHandle(FileSystem& fs, int fd, std::string path)
      : fs_(&fs), fd_(fd), path_(std::move(path)) {}
  FileHandle(FileHandle&& other) noexcept;
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle() { close(); }

  bool isOpen() const { return fd_ >= 0; }
  int descriptor() const { return fd_; }
  const std::string& path() const { return path_; }
  FileSystem& fileSystem() const { return *fs_; }

  // Up to `count` bytes; 0 at the end of the file.
  size_t read(void* buffer, size_t count);
  // Writes all `count` bytes, repeating after short writes. A write that makes no progress
  // throws `stalled` when given, else ENOSPC's error (the system reports a full disk that way).
  void writeAll(const void* buffer, size_t count, const Error* stalled = nullptr);
  // From now on every byte that `writeAll` writes is added to `progress` (none: nothing is
  // counted). `progress` must outlive the handle's writes.
  void countWritesInto(CopyProgress* progress) { progress_ = progress; }
  // fsync(2).
  void sync();
  // Starts writing the range back to storage, so that a later sync() waits less. Errors are
  // ignored: sync() reports them. The one call that another thread may make while the owner
  // reads or writes.
  void startWriteBack(std::uint64_t offset, std::uint64_t count) noexcept;
  // Asks for storage for the first `length` bytes up front, the size unchanged, so that the file
  // is laid out at once. Errors are ignored: the writes report a full disk.
  void reserve(std::uint64_t length) noexcept;
  struct stat status();
  void setStatusFlags(int flags);
  // On a folder: opens `name` beneath it without following any link ("." is the folder itself).
  FileHandle openAt(const std::string& name, int flags, mode_t mode = 0) const;
  // On a folder: the status of its entry `name` itself, never following a link.
  struct stat statAt(const std::string& name) const;
  // On a folder: replaces `entries` with the next batch of its entries; false at the end.
  bool nextEntries(std::vector<DirectoryEntry>& entries);
  // On a folder: mkdirat(2) and unlinkat(2) of its entry `name`.
  void makeDirectoryAt(const std::string& name, mode_t mode) const;
  void removeAt(const std::string& name, bool isFolder) const;
  // The path of the entry `name` beneath this folder, for messages.
  std::string pathOf(const std::string& name) const;

  // Closes now; errors are ignored. Safe to call twice.
  void close() noexcept;

 private:
  [[noreturn]] void fail(long result) const;
  [[noreturn]] void failAt(long result, const std::string& name) const;

  FileSystem* fs_ = nullptr;
  int fd_ = -1;
  std::string path_;
  CopyProgress* progress_ = nullptr;
};

// The contents of the small regular file at `path`, opened read-only with O_NONBLOCK (a named pipe
// cannot hang the open), O_CLOEXEC and `flags`, read to its end; nullopt when it is not a regular
// file or holds more than `maxBytes`, also when it grows past that while being read. Errors of
// the calls are thrown.
std::optional<std::string> readSmallRegularFile(FileSystem& fs, const std::string& path,
                                                std::size_t maxBytes, int flags = 0);

}  // namespace quillop
