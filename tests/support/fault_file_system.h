// A file system for tests: forwards to the real one, fails calls by one rule (operation, path
// suffix, errno, which matching call), and can lose power. Paths are matched by suffix, so tests
// can name "manifest.json" or ".bin" without knowing temporary names; a call beneath an open folder
// is seen as "<that folder's path>/<name>". Thread-safe.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "platform/file_system.h"

namespace quillop::testing {

// What a fault can fail; `any` is every one of them.
// clang-format off
enum class Op { any, open, stat, read, write, copyRange, sync, lock, list, makeDirectory, rename,
                remove, freeSpace, setAttribute };
// clang-format on

// Fails the calls of `op` on paths ending with `suffix` (empty: all) with `err`: the `nth`
// matching call and, unless `once`, every later one. A rename matches on its destination.
struct Fault {
  Op op;
  std::string suffix;
  int err;
  int nth = 1;
  bool once = false;
};

class FaultFileSystem : public ForwardingFileSystem {
 public:
  void inject(Fault fault) {
    locked([&] { rules_.emplace_back(std::move(fault), 0); });
  }
  // Calls that a Fault{Op::any} could have failed so far: the range of a sweep.
  int calls() const { return copy(&FaultFileSystem::calls_); }
  // "<op> <path>" of each fault that fired.
  std::vector<std::string> fired() const { return copy(&FaultFileSystem::fired_); }

  // Not faults but odd files and devices, for paths ending with `suffix`:
  void shortWrites(std::string suffix, size_t most) { shape(kShort, std::move(suffix), most); }
  // Sizes that fstat and lstat report, the type kept.
  void reportSize(std::string suffix, std::uint64_t size) { shape(kSize, std::move(suffix), size); }
  // Reads come from a virtual length `n` and leave the buffer as it is (for copies nobody reads).
  void virtualContent(std::string suffix, std::uint64_t n) {
    shape(kVirtual, std::move(suffix), n);
  }
  void discardWrites(std::string suffix) { shape(kDiscard, std::move(suffix), 0); }
  // Free space of every volume.
  void setFreeSpace(std::uint64_t n) { shape(kFree, "", n); }
  // Syncs are counted and faulted as usual but never reach the disk: for tests that run
  // hundreds of shares and do not test durability.
  std::atomic<bool> skipSyncs = false;
  // Drops what a power cut would: every entry made or renamed in a folder since that folder's
  // last sync is taken back, newest first, and every file written through this file system is
  // cut to the length it had at its last sync (0 if none). With `worstOrder`, the folders made and
  // the renames stay while the files made go: the worst order a file system may keep, a folder or
  // a rename on storage before the files made before it. Syncs count whether or not `skipSyncs`
  // keeps them from the disk.
  void losePower(bool worstOrder);
  // Runs `hook(path, flags)` before every open, by path or beneath a folder.
  void onOpen(std::function<void(const std::string&, int)> hook) {
    locked([&] { openHook_ = std::move(hook); });
  }
  // Runs `hook(path)` after every successful read chunk from a file ending with `suffix`.
  void onRead(std::string suffix, std::function<void(const std::string&)> hook) {
    locked([&] { readHook_ = {std::move(suffix), std::move(hook)}; });
  }

  int open(const std::string& path, int flags, mode_t mode) override;
  int close(int fd) noexcept override;
  int fstat(int fd, struct stat& st) override;
  long read(int fd, void* buffer, size_t count) override;
  long write(int fd, const void* buffer, size_t count) override;
  long copyRange(int in, int out, size_t count) override;
  int sync(int fd) override;
  int lock(int fd, int op) override {
    return gated(Op::lock, pathOf(fd), &FileSystem::lock, fd, op);
  }
  int openAt(int folder, const std::string& name, int flags, mode_t mode) override;
  int statAt(int folder, const std::string& name, struct stat& st) override;
  long readEntries(int d, std::vector<DirectoryEntry>& e) override {
    return gated(Op::list, pathOf(d), &FileSystem::readEntries, d, e);
  }
  int makeDirectoryAt(int d, const std::string& n, mode_t m) override {
    return folderMade(pathOf(d, n), &FileSystem::makeDirectoryAt, d, n, m);
  }
  int removeAt(int d, const std::string& n, bool f) override {
    return gated(Op::remove, pathOf(d, n), &FileSystem::removeAt, d, n, f);
  }
  int lstat(const std::string& path, struct stat& st) override;
  int mkdir(const std::string& p, mode_t m) override {
    return folderMade(p, &FileSystem::mkdir, p, m);
  }
  int readNames(const std::string& p, std::vector<std::string>& n) override {
    return gated(Op::list, p, &FileSystem::readNames, p, n);
  }
  int renamePath(const std::string& from, const std::string& to) override;
  int unlink(const std::string& p) override { return gated(Op::remove, p, &FileSystem::unlink, p); }
  int freeBytes(const std::string& path, std::optional<std::uint64_t>& bytes) override;
  int setxattr(const std::string& p, const std::string& n, const std::string& v) override {
    return gated(Op::setAttribute, p, &FileSystem::setxattr, p, n, v);
  }

 private:
  enum Shape { kShort, kSize, kVirtual, kDiscard, kFree };
  // A copy of `member`, taken under the lock.
  template <typename T>
  T copy(T FaultFileSystem::*member) const {
    std::lock_guard guard(mutex_);
    return this->*member;
  }
  // Runs `action` under the lock.
  template <typename Action>
  auto locked(Action action) const -> decltype(action()) {
    std::lock_guard guard(mutex_);
    return action();
  }
  void shape(Shape kind, std::string suffix, std::uint64_t value) {
    locked([&] { shapes_.emplace_back(kind, std::move(suffix), value); });
  }
  // The value of the last `kind` shape for `path`. Caller holds mutex_.
  std::optional<std::uint64_t> shaped(Shape kind, const std::string& path) const;
  // Counts the call; returns the errno to fail it with, if any.
  std::optional<int> gate(Op op, const std::string& path);
  // `call` on the target once no fault fails it.
  template <typename R, typename... Params, typename... Args>
  R gated(Op op, const std::string& path, R (FileSystem::*call)(Params...), Args&... args) {
    if (const std::optional<int> err = gate(op, path)) return -*err;
    return (target().*call)(args...);
  }
  // The path of the open `fd`, or of the entry `name` beneath it.
  std::string pathOf(int fd, const std::string& name = {}) const;
  // The open done by `call` once no fault fails it; records the descriptor's path.
  template <typename Call>
  int opened(const std::string& path, int flags, Call call);
  // The status call done by `call`, its size reshaped, once no fault fails it.
  template <typename Call>
  int stated(const std::string& path, struct stat& st, Call call);

  mutable std::mutex mutex_;
  std::vector<std::pair<Fault, int>> rules_;  // and the matching calls seen
  std::vector<std::tuple<Shape, std::string, std::uint64_t>> shapes_;
  int calls_ = 0;
  std::vector<std::string> fired_;
  std::map<int, std::string> paths_;
  std::map<int, std::pair<std::uint64_t, std::uint64_t>> virtuals_;  // fd: read offset, length
  std::function<void(const std::string&, int)> openHook_;
  // What a power cut would lose: folder entries made ({"", path}) or renamed ({from, to}) since
  // their folder's last sync, oldest first; the synced length of every file written.
  std::vector<std::pair<std::string, std::string>> unsynced_;
  std::map<std::string, std::uint64_t> synced_;
  // The folder `path` made by `call`, if no fault fails it, recorded as made.
  template <typename Call, typename... Args>
  int folderMade(const std::string& path, Call call, Args&... args) {
    const int result = gated(Op::makeDirectory, path, call, args...);
    if (result == 0) locked([&] { unsynced_.emplace_back("", path); });
    return result;
  }
  using Hook = std::function<void(const std::string&)>;
  std::pair<std::string, Hook> readHook_;
};

}  // namespace quillop::testing
