#include "support/fault_file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace quillop::testing {
namespace {

bool matches(const std::string& path, const std::string& suffix) { return path.ends_with(suffix); }

}  // namespace

void FaultFileSystem::inject(Fault fault) {
  std::lock_guard<std::mutex> guard(mutex_);
  rules_.push_back(Rule{std::move(fault)});
}

int FaultFileSystem::calls() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return calls_;
}

std::vector<std::string> FaultFileSystem::fired() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return fired_;
}

std::vector<std::string> FaultFileSystem::log() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return log_;
}

void FaultFileSystem::shape(Shape kind, std::string suffix, std::uint64_t value) {
  std::lock_guard<std::mutex> guard(mutex_);
  shapes_.emplace_back(kind, std::move(suffix), value);
}

std::optional<std::uint64_t> FaultFileSystem::shaped(Shape kind, const std::string& path) const {
  std::optional<std::uint64_t> value;
  for (const auto& [shapeKind, suffix, shapeValue] : shapes_) {
    if (shapeKind == kind && matches(path, suffix)) value = shapeValue;
  }
  return value;
}

void FaultFileSystem::onOpen(std::function<void(const std::string&, int)> hook) {
  std::lock_guard<std::mutex> guard(mutex_);
  openHook_ = std::move(hook);
}

void FaultFileSystem::onRead(std::string suffix, std::function<void(const std::string&)> hook) {
  std::lock_guard<std::mutex> guard(mutex_);
  readHookSuffix_ = std::move(suffix);
  readHook_ = std::move(hook);
}

std::optional<int> FaultFileSystem::check(Op op, const std::string& path) {
  static const char* const names[] = {
      "any",  "open", "stat",          "read",   "write",  "copyRange", "sync",
      "lock", "list", "makeDirectory", "rename", "remove", "freeSpace", "setAttribute"};
  ++calls_;
  std::optional<int> err;
  for (Rule& rule : rules_) {
    const Fault& fault = rule.fault;
    if ((fault.op != Op::any && fault.op != op) || !matches(path, fault.suffix)) continue;
    ++rule.seen;
    if (!err && (rule.seen == fault.nth || (!fault.once && rule.seen > fault.nth))) {
      err = fault.err;
      fired_.push_back(std::string(names[static_cast<int>(op)]) + " " + path);
    }
  }
  return err;
}

std::optional<int> FaultFileSystem::checked(Op op, const std::string& path, const char* logAs) {
  std::lock_guard<std::mutex> guard(mutex_);
  const std::optional<int> err = check(op, path);
  if (!err && logAs != nullptr) log_.push_back(std::string(logAs) + " " + path);
  return err;
}

std::optional<int> FaultFileSystem::checkedAt(Op op, int fd, const std::string& name,
                                              const char* logAs) {
  return checked(op, pathNow(fd, name), logAs);
}

std::string FaultFileSystem::pathNow(int fd, const std::string& name) const {
  std::lock_guard<std::mutex> guard(mutex_);
  return name.empty() ? pathOf(fd) : pathAt(fd, name);
}

void FaultFileSystem::throwIfFaulted(Op op, const std::string& path, const char* logAs) {
  if (const std::optional<int> err = checked(op, path, logAs)) throw systemError(*err, path);
}

std::string FaultFileSystem::pathOf(int fd) const {
  auto it = paths_.find(fd);
  return it == paths_.end() ? std::string() : it->second;
}

std::string FaultFileSystem::pathAt(int folder, const std::string& name) const {
  return name == "." ? pathOf(folder) : pathOf(folder) + "/" + name;
}

int FaultFileSystem::opened(int fd, const std::string& path) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (fd < 0) return fd;
  paths_[fd] = path;
  const std::optional<std::uint64_t> length =
      shaped(kZeros, path) ? shaped(kZeros, path) : shaped(kAsIs, path);
  if (length) virtuals_[fd] = {0, *length};
  log_.push_back("open " + path);
  return fd;
}

int FaultFileSystem::open(const std::string& path, int flags, mode_t mode) {
  std::function<void(const std::string&, int)> hook;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    hook = openHook_;
    if (const std::optional<int> err = check(Op::open, path)) throw systemError(*err, path);
  }
  if (hook) hook(path, flags);
  return opened(ForwardingFileSystem::open(path, flags, mode), path);
}

int FaultFileSystem::openAt(int folder, const std::string& name, int flags, mode_t mode) {
  std::function<void(const std::string&, int)> hook;
  std::string path;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    path = pathAt(folder, name);
    hook = openHook_;
    if (const std::optional<int> err = check(Op::open, path)) return -*err;
  }
  if (hook) hook(path, flags);
  return opened(ForwardingFileSystem::openAt(folder, name, flags, mode), path);
}

int FaultFileSystem::close(int fd) noexcept {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    log_.push_back("close " + pathOf(fd));
    paths_.erase(fd);
    virtuals_.erase(fd);
  }
  return ForwardingFileSystem::close(fd);
}

template <typename Call>
int FaultFileSystem::stated(const std::string& path, struct stat& st, Call call) {
  if (const std::optional<int> err = checked(Op::stat, path)) return -*err;
  const int result = call();
  std::lock_guard<std::mutex> guard(mutex_);
  if (const std::optional<std::uint64_t> size = shaped(kSize, path); size && result == 0) {
    st.st_size = static_cast<off_t>(*size);
  }
  return result;
}

int FaultFileSystem::fstat(int fd, struct stat& st) {
  const int result = stated(pathNow(fd), st, [&] { return ForwardingFileSystem::fstat(fd, st); });
  std::lock_guard<std::mutex> guard(mutex_);
  if (auto it = virtuals_.find(fd); it != virtuals_.end() && result == 0) {
    st.st_size = static_cast<off_t>(it->second.second);
  }
  return result;
}

int FaultFileSystem::statAt(int folder, const std::string& name, struct stat& st) {
  return stated(pathNow(folder, name), st,
                [&] { return ForwardingFileSystem::statAt(folder, name, st); });
}

struct stat FaultFileSystem::linkStatus(const std::string& path) {
  struct stat st {};
  const int result = stated(path, st, [&] {
    st = ForwardingFileSystem::linkStatus(path);
    return 0;
  });
  if (result < 0) throw systemError(-result, path);
  return st;
}

long FaultFileSystem::read(int fd, void* buffer, size_t count) {
  std::function<void(const std::string&)> hook;
  std::string path;
  std::optional<long> result;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    path = pathOf(fd);
    if (const std::optional<int> err = check(Op::read, path)) return -*err;
    if (auto it = virtuals_.find(fd); it != virtuals_.end()) {
      auto& [offset, length] = it->second;
      const size_t n = static_cast<size_t>(std::min<std::uint64_t>(length - offset, count));
      if (shaped(kZeros, path)) std::memset(buffer, 0, n);
      offset += n;
      result = static_cast<long>(n);
    }
    if (matches(path, readHookSuffix_)) hook = readHook_;
  }
  if (!result) result = ForwardingFileSystem::read(fd, buffer, count);
  if (*result > 0 && hook) hook(path);
  return *result;
}

long FaultFileSystem::write(int fd, const void* buffer, size_t count) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string path = pathOf(fd);
    if (const std::optional<int> err = check(Op::write, path)) return -*err;
    if (const std::optional<std::uint64_t> most = shaped(kShort, path)) {
      count = std::min<size_t>(count, *most);
    }
    if (shaped(kDiscard, path)) return static_cast<long>(count);
  }
  return ForwardingFileSystem::write(fd, buffer, count);
}

long FaultFileSystem::copyRange(int in, int out, size_t count) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string from = pathOf(in), to = pathOf(out);
    // Reads and writes that a test shapes or fails must go through read and write.
    const bool shapedRead = virtuals_.contains(in) || (readHook_ && matches(from, readHookSuffix_));
    const bool shapedWrite = shaped(kShort, to) || shaped(kDiscard, to);
    const bool faulted = std::any_of(rules_.begin(), rules_.end(), [&](const Rule& rule) {
      return (rule.fault.op == Op::read && matches(from, rule.fault.suffix)) ||
             (rule.fault.op == Op::write && matches(to, rule.fault.suffix));
    });
    if (shapedRead || shapedWrite || faulted) return -EXDEV;
    if (const std::optional<int> err = check(Op::copyRange, to)) return -*err;
  }
  return ForwardingFileSystem::copyRange(in, out, count);
}

int FaultFileSystem::sync(int fd) {
  if (const std::optional<int> err = checkedAt(Op::sync, fd, {}, "sync")) return -*err;
  return skipSyncs ? 0 : ForwardingFileSystem::sync(fd);
}

int FaultFileSystem::lock(int fd, int operation) {
  if (const std::optional<int> err = checkedAt(Op::lock, fd)) return -*err;
  return ForwardingFileSystem::lock(fd, operation);
}

long FaultFileSystem::readEntries(int folder, std::vector<DirectoryEntry>& entries) {
  if (const std::optional<int> err = checkedAt(Op::list, folder)) return -*err;
  return ForwardingFileSystem::readEntries(folder, entries);
}

std::vector<std::string> FaultFileSystem::list(const std::string& path) {
  throwIfFaulted(Op::list, path);
  return ForwardingFileSystem::list(path);
}

int FaultFileSystem::makeDirectoryAt(int folder, const std::string& name, mode_t mode) {
  if (const std::optional<int> err = checkedAt(Op::makeDirectory, folder, name, "mkdir")) {
    return -*err;
  }
  return ForwardingFileSystem::makeDirectoryAt(folder, name, mode);
}

void FaultFileSystem::makeDirectory(const std::string& path, mode_t mode) {
  throwIfFaulted(Op::makeDirectory, path, "mkdir");
  ForwardingFileSystem::makeDirectory(path, mode);
}

int FaultFileSystem::removeAt(int folder, const std::string& name, bool isFolder) {
  if (const std::optional<int> err = checkedAt(Op::remove, folder, name, "remove")) return -*err;
  return ForwardingFileSystem::removeAt(folder, name, isFolder);
}

void FaultFileSystem::remove(const std::string& path) {
  throwIfFaulted(Op::remove, path, "remove");
  ForwardingFileSystem::remove(path);
}

void FaultFileSystem::rename(const std::string& from, const std::string& to) {
  if (const std::optional<int> err = checked(Op::rename, to)) throw systemError(*err, to);
  {
    std::lock_guard<std::mutex> guard(mutex_);
    log_.push_back("rename " + from + " " + to);
  }
  ForwardingFileSystem::rename(from, to);
}

std::optional<std::uint64_t> FaultFileSystem::freeSpace(const std::string& path) {
  throwIfFaulted(Op::freeSpace, path);
  std::unique_lock<std::mutex> guard(mutex_);
  const std::optional<std::uint64_t> bytes = shaped(kFree, path);
  guard.unlock();
  if (!bytes) return ForwardingFileSystem::freeSpace(path);
  return *bytes == kNoValue ? std::nullopt : bytes;
}

void FaultFileSystem::setAttribute(const std::string& path, const std::string& name,
                                   const std::string& value) {
  throwIfFaulted(Op::setAttribute, path);
  ForwardingFileSystem::setAttribute(path, name, value);
}

}  // namespace quillop::testing
