#include "support/fault_file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/error.h"

namespace quillop::testing {

bool FaultFileSystem::matches(const std::string& path, const std::string& suffix) {
  return path.size() >= suffix.size() &&
         path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::optional<int> FaultFileSystem::faultFor(const std::vector<Fault>& faults,
                                             const std::string& path) const {
  for (const Fault& fault : faults) {
    if (matches(path, fault.suffix)) return fault.err;
  }
  return std::nullopt;
}

std::string FaultFileSystem::pathOf(int fd) const {
  auto it = paths_.find(fd);
  return it == paths_.end() ? std::string() : it->second;
}

void FaultFileSystem::record(std::string line) { log_.push_back(std::move(line)); }

std::vector<std::string> FaultFileSystem::log() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return log_;
}

void FaultFileSystem::clearLog() {
  std::lock_guard<std::mutex> guard(mutex_);
  log_.clear();
}

#define QUILLOP_SETTER(name, list)                          \
  void FaultFileSystem::name(std::string suffix, int err) { \
    std::lock_guard<std::mutex> guard(mutex_);              \
    list.push_back({std::move(suffix), err});               \
  }
QUILLOP_SETTER(failOpen, openFaults_)
QUILLOP_SETTER(failWrite, writeFaults_)
QUILLOP_SETTER(failSync, syncFaults_)
QUILLOP_SETTER(failRename, renameFaults_)
QUILLOP_SETTER(failMakeDirectory, mkdirFaults_)
QUILLOP_SETTER(failList, listFaults_)
#undef QUILLOP_SETTER

void FaultFileSystem::failRead(std::string suffix, int err, int afterCalls) {
  std::lock_guard<std::mutex> guard(mutex_);
  readFaults_.push_back({std::move(suffix), err, afterCalls});
}
void FaultFileSystem::shortWrites(std::string suffix, size_t most) {
  std::lock_guard<std::mutex> guard(mutex_);
  shortWrites_.emplace_back(std::move(suffix), most);
}
void FaultFileSystem::failSetAttribute(int err) {
  std::lock_guard<std::mutex> guard(mutex_);
  attributeFault_ = err;
}
void FaultFileSystem::failCopyRange(int err) {
  std::lock_guard<std::mutex> guard(mutex_);
  copyRangeFault_ = err;
}
void FaultFileSystem::setFreeSpace(std::optional<std::uint64_t> bytes) {
  std::lock_guard<std::mutex> guard(mutex_);
  freeSpace_ = bytes;
}
void FaultFileSystem::failFreeSpace(int err) {
  std::lock_guard<std::mutex> guard(mutex_);
  freeSpaceFault_ = err;
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

std::string FaultFileSystem::pathAt(int folder, const std::string& name) const {
  return name == "." ? pathOf(folder) : pathOf(folder) + "/" + name;
}

void FaultFileSystem::opened(int fd, const std::string& path) {
  std::lock_guard<std::mutex> guard(mutex_);
  paths_[fd] = path;
  for (const auto& [suffix, length, zeroFill] : virtualFiles_) {
    if (matches(path, suffix)) virtuals_[fd] = Virtual{length, zeroFill};
  }
  record("open " + path);
}

int FaultFileSystem::open(const std::string& path, int flags, mode_t mode) {
  std::function<void(const std::string&, int)> hook;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    hook = openHook_;
    if (std::optional<int> err = faultFor(openFaults_, path)) throw systemError(*err, path);
  }
  if (hook) hook(path, flags);
  int fd = ForwardingFileSystem::open(path, flags, mode);
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
    if (std::optional<int> err = faultFor(openFaults_, path)) return -*err;
  }
  if (hook) hook(path, flags);
  const int fd = ForwardingFileSystem::openAt(folder, name, flags, mode);
  if (fd >= 0) opened(fd, path);
  return fd;
}

int FaultFileSystem::statAt(int folder, const std::string& name, struct stat& st) {
  const int result = ForwardingFileSystem::statAt(folder, name, st);
  std::lock_guard<std::mutex> guard(mutex_);
  const std::string path = pathAt(folder, name);
  for (const auto& [suffix, size] : reportedSizes_) {
    if (result == 0 && matches(path, suffix)) st.st_size = static_cast<off_t>(size);
  }
  return result;
}

long FaultFileSystem::readEntries(int folder, std::vector<DirectoryEntry>& entries) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (std::optional<int> err = faultFor(listFaults_, pathOf(folder))) return -*err;
  }
  return ForwardingFileSystem::readEntries(folder, entries);
}

int FaultFileSystem::makeDirectoryAt(int folder, const std::string& name, mode_t mode) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string path = pathAt(folder, name);
    if (std::optional<int> err = faultFor(mkdirFaults_, path)) return -*err;
    record("mkdir " + path);
  }
  return ForwardingFileSystem::makeDirectoryAt(folder, name, mode);
}

int FaultFileSystem::removeAt(int folder, const std::string& name, bool isFolder) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    record("remove " + pathAt(folder, name));
  }
  return ForwardingFileSystem::removeAt(folder, name, isFolder);
}

int FaultFileSystem::close(int fd) noexcept {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    record("close " + pathOf(fd));
    paths_.erase(fd);
    virtuals_.erase(fd);
  }
  return ForwardingFileSystem::close(fd);
}

int FaultFileSystem::fstat(int fd, struct stat& st) {
  int result = ForwardingFileSystem::fstat(fd, st);
  if (result != 0) return result;
  std::lock_guard<std::mutex> guard(mutex_);
  const std::string path = pathOf(fd);
  for (const auto& [suffix, size] : reportedSizes_) {
    if (matches(path, suffix)) st.st_size = static_cast<off_t>(size);
  }
  if (auto it = virtuals_.find(fd); it != virtuals_.end()) {
    st.st_size = static_cast<off_t>(it->second.length);
  }
  return 0;
}

long FaultFileSystem::read(int fd, void* buffer, size_t count) {
  std::function<void(const std::string&)> hook;
  std::string path;
  long result = 0;
  bool handled = false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    path = pathOf(fd);
    for (ReadFault& fault : readFaults_) {
      if (matches(path, fault.suffix)) {
        if (fault.after <= 0) return -fault.err;
        --fault.after;
      }
    }
    if (auto it = virtuals_.find(fd); it != virtuals_.end()) {
      Virtual& file = it->second;
      const std::uint64_t left = file.length - file.offset;
      const size_t n = static_cast<size_t>(std::min<std::uint64_t>(left, count));
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
    if (std::optional<int> err = faultFor(writeFaults_, path)) return -*err;
    for (const auto& [suffix, most] : shortWrites_) {
      if (matches(path, suffix)) count = std::min(count, most);
    }
    for (const std::string& suffix : discardedWrites_) {
      if (matches(path, suffix)) return static_cast<long>(count);
    }
  }
  return ForwardingFileSystem::write(fd, buffer, count);
}

long FaultFileSystem::copyRange(int in, int out, size_t count) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (copyRangeFault_) return -*copyRangeFault_;
    // Faulted or virtual files must go through read/write so that the faults apply.
    const std::string from = pathOf(in), to = pathOf(out);
    if (virtuals_.count(in) || faultFor(writeFaults_, to)) return -EXDEV;
    for (const auto& fault : readFaults_) {
      if (matches(from, fault.suffix)) return -EXDEV;
    }
    for (const auto& [suffix, most] : shortWrites_) {
      if (matches(to, suffix)) return -EXDEV;
    }
    if (readHook_ && matches(from, readHookSuffix_)) return -EXDEV;
    for (const std::string& suffix : discardedWrites_) {
      if (matches(to, suffix)) return -EXDEV;
    }
  }
  return ForwardingFileSystem::copyRange(in, out, count);
}

int FaultFileSystem::sync(int fd) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const std::string path = pathOf(fd);
    if (std::optional<int> err = faultFor(syncFaults_, path)) return -*err;
    record("sync " + path);
  }
  return ForwardingFileSystem::sync(fd);
}

struct stat FaultFileSystem::linkStatus(const std::string& path) {
  struct stat st = ForwardingFileSystem::linkStatus(path);
  std::lock_guard<std::mutex> guard(mutex_);
  for (const auto& [suffix, size] : reportedSizes_) {
    if (matches(path, suffix)) st.st_size = static_cast<off_t>(size);
  }
  return st;
}

void FaultFileSystem::makeDirectory(const std::string& path, mode_t mode) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (std::optional<int> err = faultFor(mkdirFaults_, path)) throw systemError(*err, path);
    record("mkdir " + path);
  }
  ForwardingFileSystem::makeDirectory(path, mode);
}

std::vector<std::string> FaultFileSystem::list(const std::string& path) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (std::optional<int> err = faultFor(listFaults_, path)) throw systemError(*err, path);
  }
  return ForwardingFileSystem::list(path);
}

void FaultFileSystem::rename(const std::string& from, const std::string& to) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (std::optional<int> err = faultFor(renameFaults_, to)) throw systemError(*err, to);
    record("rename " + from + " " + to);
  }
  ForwardingFileSystem::rename(from, to);
}

void FaultFileSystem::remove(const std::string& path) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    record("remove " + path);
  }
  ForwardingFileSystem::remove(path);
}

std::optional<std::uint64_t> FaultFileSystem::freeSpace(const std::string& path) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (freeSpaceFault_) throw systemError(*freeSpaceFault_, path);
    if (freeSpace_) return *freeSpace_;
  }
  return ForwardingFileSystem::freeSpace(path);
}

void FaultFileSystem::setAttribute(const std::string& path, const std::string& name,
                                   const std::string& value) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (attributeFault_) throw systemError(*attributeFault_, path);
  }
  ForwardingFileSystem::setAttribute(path, name, value);
}

}  // namespace quillop::testing
