#include "support/fault_file_system.h"

#include <algorithm>

#include "platform/error.h"

namespace quillop::testing {

std::optional<std::uint64_t> FaultFileSystem::shaped(Shape kind, const std::string& path) const {
  std::optional<std::uint64_t> value;
  for (const auto& [shapeKind, suffix, shapeValue] : shapes_) {
    if (shapeKind == kind && path.ends_with(suffix)) value = shapeValue;
  }
  return value;
}

std::optional<int> FaultFileSystem::gate(Op op, const std::string& path) {
  static const char* const names[] = {
      "any",  "open", "stat",          "read",   "write",  "copyRange", "sync",
      "lock", "list", "makeDirectory", "rename", "remove", "freeSpace", "setAttribute"};
  std::lock_guard guard(mutex_);
  ++calls_;
  std::optional<int> err;
  for (auto& [fault, seen] : rules_) {
    if ((fault.op != Op::any && fault.op != op) || !path.ends_with(fault.suffix)) continue;
    if (++seen >= fault.nth && (seen == fault.nth || !fault.once) && !err) {
      err = fault.err;
      fired_.push_back(std::string(names[static_cast<int>(op)]) + " " + path);
    }
  }
  return err;
}

void FaultFileSystem::throwIfFaulted(Op op, const std::string& path) {
  if (const std::optional<int> err = gate(op, path)) throw systemError(*err, path);
}

std::string FaultFileSystem::pathOf(int fd, const std::string& name) const {
  return locked([&] {
    auto it = paths_.find(fd);
    const std::string path = it == paths_.end() ? std::string() : it->second;
    return name.empty() || name == "." ? path : path + "/" + name;
  });
}

template <typename Call>
int FaultFileSystem::opened(const std::string& path, int flags, Call call) {
  if (const std::optional<int> err = gate(Op::open, path)) return -*err;
  if (const auto hook = locked([&] { return openHook_; })) hook(path, flags);
  const int fd = call();
  locked([&] {
    if (fd < 0) return;
    paths_[fd] = path;
    if (const std::optional<std::uint64_t> length = shaped(kVirtual, path)) {
      virtuals_[fd] = {0, *length};
    }
    log_.push_back("open " + path);
  });
  return fd;
}

int FaultFileSystem::open(const std::string& path, int flags, mode_t mode) {
  const int fd = opened(path, flags, [&] { return ForwardingFileSystem::open(path, flags, mode); });
  if (fd < 0) throw systemError(-fd, path);
  return fd;
}

int FaultFileSystem::openAt(int folder, const std::string& name, int flags, mode_t mode) {
  return opened(pathOf(folder, name), flags,
                [&] { return ForwardingFileSystem::openAt(folder, name, flags, mode); });
}

int FaultFileSystem::close(int fd) noexcept {
  locked([&] { paths_.erase(fd), virtuals_.erase(fd); });
  return ForwardingFileSystem::close(fd);
}

template <typename Call>
int FaultFileSystem::stated(const std::string& path, struct stat& st, Call call) {
  if (const std::optional<int> err = gate(Op::stat, path)) return -*err;
  const int result = call();
  locked([&] {
    if (const std::optional<std::uint64_t> size = shaped(kSize, path); size && result == 0) {
      st.st_size = static_cast<off_t>(*size);
    }
  });
  return result;
}

int FaultFileSystem::fstat(int fd, struct stat& st) {
  return stated(pathOf(fd), st, [&] { return ForwardingFileSystem::fstat(fd, st); });
}

int FaultFileSystem::statAt(int folder, const std::string& name, struct stat& st) {
  return stated(pathOf(folder, name), st,
                [&] { return ForwardingFileSystem::statAt(folder, name, st); });
}

struct stat FaultFileSystem::linkStatus(const std::string& path) {
  struct stat st {};
  const int result =
      stated(path, st, [&] { return st = ForwardingFileSystem::linkStatus(path), 0; });
  if (result < 0) throw systemError(-result, path);
  return st;
}

long FaultFileSystem::read(int fd, void* buffer, size_t count) {
  const std::string path = pathOf(fd);
  if (const std::optional<int> err = gate(Op::read, path)) return -*err;
  const auto [virtualRead, hook] = locked([&] {
    std::optional<long> n;
    if (auto it = virtuals_.find(fd); it != virtuals_.end()) {
      auto& [offset, length] = it->second;
      n = static_cast<long>(std::min<std::uint64_t>(length - offset, count));
      offset += static_cast<std::uint64_t>(*n);
    }
    return std::pair(n, path.ends_with(readHook_.first) ? readHook_.second : Hook());
  });
  const long result = virtualRead ? *virtualRead : ForwardingFileSystem::read(fd, buffer, count);
  if (result > 0 && hook) hook(path);
  return result;
}

long FaultFileSystem::write(int fd, const void* buffer, size_t count) {
  const std::string path = pathOf(fd);
  if (const std::optional<int> err = gate(Op::write, path)) return -*err;
  const bool discard = locked([&] {
    count = std::min<size_t>(count, shaped(kShort, path).value_or(count));
    return shaped(kDiscard, path).has_value();
  });
  return discard ? static_cast<long>(count) : ForwardingFileSystem::write(fd, buffer, count);
}

long FaultFileSystem::copyRange(int in, int out, size_t count) {
  const std::string from = pathOf(in), to = pathOf(out);
  // Reads and writes that a test shapes, hooks or fails must go through read and write.
  const bool byHand = locked([&] {
    return virtuals_.contains(in) || (readHook_.second && from.ends_with(readHook_.first)) ||
           shaped(kShort, to) || shaped(kDiscard, to) ||
           std::ranges::any_of(rules_, [&](const auto& rule) {
             const auto& [op, suffix, err, nth, once] = rule.first;
             return (op == Op::read && from.ends_with(suffix)) ||
                    (op == Op::write && to.ends_with(suffix));
           });
  });
  if (byHand) return -EXDEV;
  if (const std::optional<int> err = gate(Op::copyRange, to)) return -*err;
  return ForwardingFileSystem::copyRange(in, out, count);
}

int FaultFileSystem::sync(int fd) {
  const std::string path = pathOf(fd);
  if (const std::optional<int> err = gate(Op::sync, path)) return -*err;
  locked([&] { log_.push_back("sync " + path); });
  return skipSyncs ? 0 : ForwardingFileSystem::sync(fd);
}

int FaultFileSystem::lock(int fd, int operation) {
  const std::optional<int> err = gate(Op::lock, pathOf(fd));
  return err ? -*err : ForwardingFileSystem::lock(fd, operation);
}

long FaultFileSystem::readEntries(int folder, std::vector<DirectoryEntry>& entries) {
  const std::optional<int> err = gate(Op::list, pathOf(folder));
  return err ? -*err : ForwardingFileSystem::readEntries(folder, entries);
}

int FaultFileSystem::makeDirectoryAt(int folder, const std::string& name, mode_t mode) {
  const std::optional<int> err = gate(Op::makeDirectory, pathOf(folder, name));
  return err ? -*err : ForwardingFileSystem::makeDirectoryAt(folder, name, mode);
}

int FaultFileSystem::removeAt(int folder, const std::string& name, bool isFolder) {
  const std::optional<int> err = gate(Op::remove, pathOf(folder, name));
  return err ? -*err : ForwardingFileSystem::removeAt(folder, name, isFolder);
}

std::vector<std::string> FaultFileSystem::list(const std::string& path) {
  throwIfFaulted(Op::list, path);
  return ForwardingFileSystem::list(path);
}

void FaultFileSystem::makeDirectory(const std::string& path, mode_t mode) {
  throwIfFaulted(Op::makeDirectory, path);
  ForwardingFileSystem::makeDirectory(path, mode);
}

void FaultFileSystem::remove(const std::string& path) {
  throwIfFaulted(Op::remove, path);
  ForwardingFileSystem::remove(path);
}

void FaultFileSystem::rename(const std::string& from, const std::string& to) {
  throwIfFaulted(Op::rename, to);
  locked([&] { log_.push_back("rename " + from + " " + to); });
  ForwardingFileSystem::rename(from, to);
}

std::optional<std::uint64_t> FaultFileSystem::freeSpace(const std::string& path) {
  throwIfFaulted(Op::freeSpace, path);
  const std::optional<std::uint64_t> bytes = locked([&] { return shaped(kFree, path); });
  if (!bytes) return ForwardingFileSystem::freeSpace(path);
  return *bytes == kNoValue ? std::nullopt : bytes;
}

void FaultFileSystem::setAttribute(const std::string& path, const std::string& name,
                                   const std::string& value) {
  throwIfFaulted(Op::setAttribute, path);
  ForwardingFileSystem::setAttribute(path, name, value);
}

}  // namespace quillop::testing
