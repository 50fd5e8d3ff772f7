// A file system for tests: forwards to the real one, records the order of the calls that matter
// for durability, and injects faults on request. Faults match by path suffix, so tests can name
// "manifest.json" or ".bin" without knowing temporary names. A descriptor-relative call is
// matched, logged and hooked under "<path of the folder's descriptor>/<name>", so faults, hooks
// and the log see the same paths whether a file is reached by path or beneath a folder.
// Thread-safe.
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/file_system.h"

namespace quillop::testing {

class FaultFileSystem : public ForwardingFileSystem {
 public:
  // Operation log entries: "open <path>", "sync <path>", "rename <from> <to>",
  // "mkdir <path>", "remove <path>", "close <path>".
  std::vector<std::string> log() const;
  void clearLog();

  // Each fault fires for every call on a path ending with `suffix` (empty matches all).
  void failOpen(std::string suffix, int err);
  void failWrite(std::string suffix, int err);        // -err from write()
  void shortWrites(std::string suffix, size_t most);  // write at most `most` bytes a call
  void failSync(std::string suffix, int err);
  void failRead(std::string suffix, int err, int afterCalls = 0);
  void failRename(std::string suffix, int err);  // matched on the destination
  void failMakeDirectory(std::string suffix, int err);
  void failList(std::string suffix, int err);
  void failSetAttribute(int err);
  void failCopyRange(int err);  // e.g. EXDEV to force the fallback
  // Replaces the free space answer; nullopt in the optional means "no value".
  void setFreeSpace(std::optional<std::uint64_t> bytes);
  void failFreeSpace(int err);
  // Makes fstat and lstat report this size for paths ending with `suffix` (type kept).
  void reportSize(std::string suffix, std::uint64_t size);
  // Serves reads of a file ending with `suffix` from a virtual length (no disk). With
  // `zeroFill` false the buffer is left as it is, for copies whose bytes nobody looks at.
  void virtualContent(std::string suffix, std::uint64_t length, bool zeroFill = true);
  // Writes to paths ending with `suffix` succeed without storing anything.
  void discardWrites(std::string suffix);
  // Runs `hook(path, flags)` before every open, by path or beneath a folder.
  void onOpen(std::function<void(const std::string&, int)> hook);
  // Runs `hook(path)` after every successful read chunk from a file ending with `suffix`.
  void onRead(std::string suffix, std::function<void(const std::string&)> hook);

  int open(const std::string& path, int flags, mode_t mode) override;
  int close(int fd) noexcept override;
  int fstat(int fd, struct stat& st) override;
  long read(int fd, void* buffer, size_t count) override;
  long write(int fd, const void* buffer, size_t count) override;
  long copyRange(int in, int out, size_t count) override;
  int sync(int fd) override;
  int openAt(int folder, const std::string& name, int flags, mode_t mode) override;
  int statAt(int folder, const std::string& name, struct stat& st) override;
  long readEntries(int folder, std::vector<DirectoryEntry>& entries) override;
  int makeDirectoryAt(int folder, const std::string& name, mode_t mode) override;
  int removeAt(int folder, const std::string& name, bool isFolder) override;
  struct stat linkStatus(const std::string& path) override;
  void makeDirectory(const std::string& path, mode_t mode) override;
  std::vector<std::string> list(const std::string& path) override;
  void rename(const std::string& from, const std::string& to) override;
  void remove(const std::string& path) override;
  std::optional<std::uint64_t> freeSpace(const std::string& path) override;
  void setAttribute(const std::string& path, const std::string& name,
                    const std::string& value) override;

 private:
  struct Fault {
    std::string suffix;
    int err;
  };
  struct Virtual {
    std::uint64_t length;
    bool zeroFill;
    std::uint64_t offset = 0;
  };
  std::string pathOf(int fd) const;
  std::string pathAt(int folder, const std::string& name) const;
  // The hook and the open fault for `path`; records the descriptor's path once it is open.
  std::function<void(const std::string&, int)> beforeOpen(const std::string& path);
  void opened(int fd, const std::string& path);
  static bool matches(const std::string& path, const std::string& suffix);
  std::optional<int> faultFor(const std::vector<Fault>& faults, const std::string& path) const;
  void record(std::string line);

  mutable std::mutex mutex_;
  std::vector<std::string> log_;
  std::map<int, std::string> paths_;
  std::map<int, Virtual> virtuals_;
  std::vector<Fault> openFaults_, writeFaults_, syncFaults_, renameFaults_, mkdirFaults_,
      listFaults_;
  struct ReadFault {
    std::string suffix;
    int err;
    int after;
  };
  std::vector<ReadFault> readFaults_;
  std::vector<std::pair<std::string, size_t>> shortWrites_;
  std::vector<std::pair<std::string, std::uint64_t>> reportedSizes_;
  std::vector<std::tuple<std::string, std::uint64_t, bool>> virtualFiles_;
  std::vector<std::string> discardedWrites_;
  std::optional<int> attributeFault_, copyRangeFault_, freeSpaceFault_;
  std::optional<std::optional<std::uint64_t>> freeSpace_;
  std::function<void(const std::string&, int)> openHook_;
  std::string readHookSuffix_;
  std::function<void(const std::string&)> readHook_;
};

}  // namespace quillop::testing
