#include "support/fault_file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace quillop::testing {
namespace {

const char* nameOf(Op op) {
  static const char* const names[] = {"any",   "open",   "stat",          "read",    "write",
                                      "copyRange", "sync", "lock",        "list",    "makeDirectory",
                                      "setMode", "rename", "remove",      "freeSpace", "resolve",
                                      "setAttribute", "writeBack"};
  return names[static_cast<int>(op)];
}

}  // namespace

bool FaultFileSystem::matches(const std::string& path, const std::string& suffix) {
  return path.size() >= suffix.size() &&
         path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::optional<int> FaultFileSystem::check(Op op, const std::string& path) {
  ++calls_;
  std::optional<int> err;
  for (Rule& rule : rules_) {
    const Fault& fault = rule.fault;
    if ((fault.op != Op::any && fault.op != op) || !matches(path, fault.suffix)) continue;
    ++rule.seen;
    if (!err && (rule.seen == fault.nth || (!fault.once && rule.seen > fault.nth))) {
      err = fault.err;
      fired_.push_back(std::string(nameOf(op)) + " " + path);
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
  std::string path;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    path = name.empty() ? pathOf(fd) : pathAt(fd, name);
  }
  return checked(op, path, logAs);
}

void FaultFileSystem::throwIfFaulted(Op op, const std::string& path, const char* logAs) {
  if (const std::optional<int> err = checked(op, path, logAs)) throw systemError(*err, path);
}

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

std::string FaultFileSystem::pathOf(int fd) const {
  auto it = paths_.find(fd);
  return it == paths_.end() ? std::string() : it->second;
}

std::string FaultFileSystem::pathAt(int folder, const std::string& name) const {
  return name == "." ? pathOf(folder) : pathOf(folder) + "/" + name;
}

std::vector<std::string> FaultFileSystem::log() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return log_;
}

void FaultFileSystem::clearLog() {
  std::lock_guard<std::mutex> guard(mutex_);
  log_.clear();
}

void FaultFileSystem::shortWrites(std::string suffix, size_t most) {
  std::lock_guard<std::mutex> guard(mutex_);
  shortWrites_.emplace_back(std::move(suffix), most);
}
void FaultFileSystem::setFreeSpace(std::optional<std::uint64_t> bytes) {
  std::lock_guard<std::mutex> guard(mutex_);
  freeSpace_ = bytes;
}
void FaultFileSystem::reportSize(std::string suffix, std::uint64_t size) {
  std::lock_guard<std::mutex> guard(mutex_);
  reportedSizes_.emplace_back(std::move(suffix), size);
}
void FaultFileSystem::virtualContent(std::string suffix, std::uint64_t length, bool zeroFill) {
  std::lock_guard<std::mutex> guard(mutex_);
  virtualFiles_.emplace_back(std::move(suffix), length, zeroFill);
}
void FaultFileSystem::discardWrites(std::string suffix) {
  std::lock_guard<std::mutex> guard(mutex_);
  discardedWrites_.push_back(std::move(suffix));
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

void FaultFileSystem::opened(int fd, const std::string& path) {
  std::lock_guard<std::mutex> guard(mutex_);
  paths_[fd] = path;
  for (const auto& [suffix, length, zeroFill] : virtualFiles_) {
    if (matches(path, suffix)) virtuals_[fd] = Virtual{length, zeroFill};
  }
  log_.push_back("open " + path);
}

void FaultFileSystem::sized(const std::string& path, struct stat& st) const {
  for (const auto& [suffix, size] : reportedSizes_) {
    if (matches(path, suffix)) st.st_size = static_cast<off_t>(size);
  }
}

int FaultFileSystem::open(const std::string& path, int flags, mode_t mode) {
  std::function<void(const std::string&, int)> hook;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    hook = openHook_;
    if (const std::optional<int> err = check(Op::open, path)) throw systemError(*err, path);
  }
  if (hook) hook(path, flags);
  const int fd = ForwardingFileSystem::open(path, flags, mode);
  opened(fd, path);
  return fd;
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
  const int fd = ForwardingFileSystem::openAt(folder, name, flags, mode);
  if (fd >= 0) opened(fd, path);
  return fd;
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

int FaultFileSystem::fstat(int fd, struct stat& st) {
  std::string path;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    path = pathOf(fd);
    if (const std::optional<int> err = check(Op::stat, path)) return -*err;
  }
  const int result = ForwardingFileSystem::fstat(fd, st);
  if (result != 0) return result;
  std::lock_guard<std::mutex> guard(mutex_);
  sized(path, st);
  if (auto it = virtuals_.find(fd); it != virtuals_.end()) {
    st.st_size = static_cast<off_t>(it->second.length);
  }
  return 0;
}

int FaultFileSystem::statAt(int folder, const std::string& name, struct stat& st) {
  std::string path;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    path = pathAt(folder, name);
    if (const std::optional<int> err = check(Op::stat, path)) return -*err;
  }
  const int result = ForwardingFileSystem::statAt(folder, name, st);
  std::lock_guard<std::mutex> guard(mutex_);
  if (result == 0) sized(path, st);
  return result;
}

struct stat FaultFileSystem::linkStatus(const std::string& path) {
  throwIfFaulted(Op::stat, path);
  struct stat st = ForwardingFileSystem::linkStatus(path);
  std::lock_guard<std::mutex> guard(mutex_);
  sized(path, st);
  return st;
}

long FaultFileSystem::read(int fd, void* buffer, size_t count) {
  std::function<void(const std::string&)> hook;
  std::string path;
  long result = 0;
  bool handled = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    path = pathOf(fd);
    if (const std::optional<int> err = check(Op::read, path)) return -*err;
    if (auto it = virtuals_.find(fd); it != virtuals_.end()) {
      Virtual& file = it->second;
      const size_t n = static_cast<size_t>(std::min<std::uint64_t>(file.length - file.offset, count));
      if (file.zeroFill) std::memset(buffer, 0, n);
      file.offset += n;
      result = static_cast<long>(n);
      handled = true;
    }
    if (matches(path, readHookSuffix_)) hook = readHook_;
  }
  if (!handled) result = ForwardingFileSystem::read(fd, buffer, count);
  if (result > 0 && hook) hook(path);
  return result;
}

long FaultFileSystem::write(int fd, const void* buffer, size_t count) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string path = pathOf(fd);
    if (const std::optional<int> err = check(Op::write, path)) return -*err;
    for (const auto& [suffix, most] : shortWrites_) {
      if (matches(path, suffix)) count = std::min(count, most);
    }
    for (const std::string& suffix : discardedWrites_) {
      if (matches(path, suffix)) return static_cast<long>(count);
    }
  }
  return ForwardingFileSystem::write(fd, buffer, count);
}

bool FaultFileSystem::special(const std::string& path, int in) const {
  // Reads and writes that a test shapes must go through read and write to be shaped.
  if (in >= 0) {
    if (virtuals_.count(in) || (readHook_ && matches(path, readHookSuffix_))) return true;
  } else {
    for (const auto& [suffix, most] : shortWrites_) {
      if (matches(path, suffix)) return true;
    }
    for (const std::string& suffix : discardedWrites_) {
      if (matches(path, suffix)) return true;
    }
  }
  const Op op = in >= 0 ? Op::read : Op::write;
  return std::any_of(rules_.begin(), rules_.end(), [&](const Rule& rule) {
    return rule.fault.op == op && matches(path, rule.fault.suffix);
  });
}

long FaultFileSystem::copyRange(int in, int out, size_t count) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string from = pathOf(in), to = pathOf(out);
    if (special(from, in) || special(to, -1)) return -EXDEV;
    if (const std::optional<int> err = check(Op::copyRange, to)) return -*err;
  }
  return ForwardingFileSystem::copyRange(in, out, count);
}

int FaultFileSystem::sync(int fd) {
  if (const std::optional<int> err = checkedAt(Op::sync, fd, {}, "sync")) return -*err;
  if (skipSyncs) return 0;
  return ForwardingFileSystem::sync(fd);
}

int FaultFileSystem::lock(int fd, int operation) {
  if (const std::optional<int> err = checkedAt(Op::lock, fd)) return -*err;
  return ForwardingFileSystem::lock(fd, operation);
}

int FaultFileSystem::startWriteBack(int fd, std::uint64_t offset, std::uint64_t count) {
  if (const std::optional<int> err = checkedAt(Op::writeBack, fd)) return -*err;
  return ForwardingFileSystem::startWriteBack(fd, offset, count);
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

void FaultFileSystem::setMode(const std::string& path, mode_t mode) {
  throwIfFaulted(Op::setMode, path);
  ForwardingFileSystem::setMode(path, mode);
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
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (const std::optional<int> err = check(Op::freeSpace, path)) throw systemError(*err, path);
    if (freeSpace_) return *freeSpace_;
  }
  return ForwardingFileSystem::freeSpace(path);
}

std::string FaultFileSystem::resolve(const std::string& path) {
  throwIfFaulted(Op::resolve, path);
  return ForwardingFileSystem::resolve(path);
}

void FaultFileSystem::setAttribute(const std::string& path, const std::string& name,
                                   const std::string& value) {
  throwIfFaulted(Op::setAttribute, path);
  ForwardingFileSystem::setAttribute(path, name, value);
}

}  // namespace quillop::testing
