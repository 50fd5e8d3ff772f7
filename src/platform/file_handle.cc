#include "platform/file_handle.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdint>
#include <utility>

#include "platform/error.h"

namespace quillop {

FileHandle FileHandle::open(FileSystem& fs, const std::string& path, int flags, mode_t mode) {
  const int fd = fs.open(path, flags, mode);
  if (fd < 0) throw systemError(-fd, path);
  return FileHandle(fs, fd, path);
}

FileHandle::FileHandle(FileHandle&& other) noexcept
    : fs_(other.fs_),
      fd_(std::exchange(other.fd_, -1)),
      path_(std::move(other.path_)),
      progress_(std::exchange(other.progress_, nullptr)) {}

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    close();
    fs_ = other.fs_;
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
    progress_ = std::exchange(other.progress_, nullptr);
  }
  return *this;
}

void FileHandle::fail(long result) const { throw systemError(static_cast<int>(-result), path_); }

size_t FileHandle::read(void* buffer, size_t count) {
  long n = fs_->read(fd_, buffer, count);
  if (n < 0) fail(n);
  return static_cast<size_t>(n);
}

void FileHandle::writeAll(const void* buffer, size_t count, const Error* stalled) {
  const char* bytes = static_cast<const char*>(buffer);
  const size_t whole = count;
  while (count > 0) {
    long n = fs_->write(fd_, bytes, count);
    if (n < 0) fail(n);
    if (n == 0 && stalled != nullptr) throw *stalled;
    if (n == 0) fail(-ENOSPC);
    bytes += n;
    count -= static_cast<size_t>(n);
  }
  if (progress_ != nullptr) progress_->advance(whole);
}

void FileHandle::sync() {
  int result = fs_->sync(fd_);
  if (result < 0) fail(result);
}

void FileHandle::startWriteBack(std::uint64_t offset, std::uint64_t count) noexcept {
  fs_->startWriteBack(fd_, offset, count);
}

void FileHandle::reserve(std::uint64_t length) noexcept { fs_->reserve(fd_, length); }

struct stat FileHandle::status() {
  struct stat st {};
  int result = fs_->fstat(fd_, st);
  if (result < 0) fail(result);
  return st;
}

void FileHandle::setStatusFlags(int flags) {
  int result = fs_->setStatusFlags(fd_, flags);
  if (result < 0) fail(result);
}

void FileHandle::failAt(long result, const std::string& name) const {
  throw systemError(static_cast<int>(-result), pathOf(name));
}

std::string FileHandle::pathOf(const std::string& name) const {
  return name == "." ? path_ : path_ + "/" + name;
}

FileHandle FileHandle::openAt(const std::string& name, int flags, mode_t mode) const {
  const int fd = fs_->openAt(fd_, name, flags, mode);
  if (fd < 0) failAt(fd, name);
  return FileHandle(*fs_, fd, pathOf(name));
}

struct stat FileHandle::statAt(const std::string& name) const {
  struct stat st {};
  const int result = fs_->statAt(fd_, name, st);
  if (result < 0) failAt(result, name);
  return st;
}

bool FileHandle::nextEntries(std::vector<DirectoryEntry>& entries) {
  const long result = fs_->readEntries(fd_, entries);
  if (result < 0) fail(result);
  return result > 0;
}

void FileHandle::makeDirectoryAt(const std::string& name, mode_t mode) const {
  const int result = fs_->makeDirectoryAt(fd_, name, mode);
  if (result < 0) failAt(result, name);
}

void FileHandle::removeAt(const std::string& name, bool isFolder) const {
  const int result = fs_->removeAt(fd_, name, isFolder);
  if (result < 0) failAt(result, name);
}

void FileHandle::close() noexcept {
  if (fd_ >= 0) {
    fs_->close(fd_);
    fd_ = -1;
  }
}

std::optional<std::string> readSmallRegularFile(FileSystem& fs, const std::string& path,
                                                std::size_t maxBytes, int flags) {
  FileHandle file = FileHandle::open(fs, path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | flags);
  const struct stat st = file.status();
  if (!S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > maxBytes)
    return std::nullopt;
  std::string bytes;
  char buffer[16384];
  for (;;) {
    const size_t count = file.read(buffer, sizeof buffer);
    if (count == 0) return bytes;
    bytes.append(buffer, count);
    if (bytes.size() > maxBytes) return std::nullopt;
  }
}

}  // namespace quillop
