#include "support/fault_file_system.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>

#include "platform/error.h"
#include "support/temp_dir.h"

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
  const bool isNew = (flags & O_CREAT) && !exists(path);
  const int fd = call();
  locked([&] {
    if (fd < 0) return;
    paths_[fd] = path;
    if (isNew) unsynced_.emplace_back("", path);
    if (flags & (O_WRONLY | O_RDWR)) synced_.try_emplace(path, 0);
    if (const std::optional<std::uint64_t> length = shaped(kVirtual, path)) {
      virtuals_[fd] = {0, *length};
    }
  });
  return fd;
}

int FaultFileSystem::open(const std::string& path, int flags, mode_t mode) {
  return opened(path, flags, [&] { return ForwardingFileSystem::open(path, flags, mode); });
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

int FaultFileSystem::lstat(const std::string& path, struct stat& st) {
  return stated(path, st, [&] { return ForwardingFileSystem::lstat(path, st); });
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
  struct stat st {};
  ForwardingFileSystem::fstat(fd, st);
  locked([&] {
    if (S_ISDIR(st.st_mode)) {
      std::erase_if(unsynced_, [&](const auto& entry) {
        return entry.second.substr(0, entry.second.rfind('/')) == path;
      });
    } else if (auto it = synced_.find(path); it != synced_.end()) {
      it->second = static_cast<std::uint64_t>(st.st_size);
    }
  });
  return skipSyncs ? 0 : ForwardingFileSystem::sync(fd);
}

void FaultFileSystem::losePower(bool worstOrder) {
  std::lock_guard guard(mutex_);
  for (auto it = unsynced_.rbegin(); it != unsynced_.rend(); ++it) {
    const auto& [from, to] = *it;
    struct stat st {};
    if (from.empty()) {
      if (!worstOrder || ::lstat(to.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        removeTree(FileSystem::posix(), to);
      }
    } else if (!worstOrder && ::rename(to.c_str(), from.c_str()) == 0) {
      if (auto node = synced_.extract(to)) node.key() = from, synced_.insert(std::move(node));
    }
  }
  for (const auto& [path, length] : synced_) ::truncate(path.c_str(), static_cast<off_t>(length));
  unsynced_.clear();
  synced_.clear();
}

int FaultFileSystem::renamePath(const std::string& from, const std::string& to) {
  if (const std::optional<int> err = gate(Op::rename, to)) return -*err;
  const int result = ForwardingFileSystem::renamePath(from, to);
  if (result == 0) {
    locked([&] {
      unsynced_.emplace_back(from, to);
      if (auto node = synced_.extract(from)) node.key() = to, synced_.insert(std::move(node));
    });
  }
  return result;
}

int FaultFileSystem::freeBytes(const std::string& path, std::optional<std::uint64_t>& bytes) {
  if (const std::optional<int> err = gate(Op::freeSpace, path)) return -*err;
  const std::optional<std::uint64_t> shapedBytes = locked([&] { return shaped(kFree, path); });
  if (!shapedBytes) return ForwardingFileSystem::freeBytes(path, bytes);
  return bytes = shapedBytes, 0;
}

}  // namespace quillop::testing
