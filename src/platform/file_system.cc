// The parts of the file-system interface above its virtual calls: the throwing forms of the path
// calls, and the tree operations built on descriptors (removal, mkdir -p, folder sync).
#include "platform/file_system.h"

#include <fcntl.h>

#include "platform/error.h"
#include "platform/file_handle.h"
#include "platform/path.h"

namespace quillop {

namespace {

// The result of an interface call, thrown when it is an error naming `path`.
int check(int result, const std::string& path) {
  if (result < 0) throw systemError(-result, path);
  return result;
}

}  // namespace

struct stat FileSystem::linkStatus(const std::string& path) {
  struct stat st {};
  check(lstat(path, st), path);
  return st;
}
void FileSystem::makeDirectory(const std::string& path, mode_t mode) {
  check(mkdir(path, mode), path);
}
void FileSystem::setMode(const std::string& path, mode_t mode) { check(chmod(path, mode), path); }
std::vector<std::string> FileSystem::list(const std::string& path) {
  std::vector<std::string> names;
  check(readNames(path, names), path);
  return names;
}
void FileSystem::rename(const std::string& from, const std::string& to) {
  check(renamePath(from, to), to);
}
void FileSystem::remove(const std::string& path) { check(unlink(path), path); }
std::optional<std::uint64_t> FileSystem::freeSpace(const std::string& path) {
  std::optional<std::uint64_t> bytes;
  check(freeBytes(path, bytes), path);
  return bytes;
}
std::string FileSystem::resolve(const std::string& path) {
  std::string resolved;
  check(realpath(path, resolved), path);
  return resolved;
}
void FileSystem::setAttribute(const std::string& path, const std::string& name,
                              const std::string& value) {
  check(setxattr(path, name, value), path);
}

namespace {

// One folder being emptied: its handle, the entries listed and not yet removed, and its name in
// the folder below it on the stack.
struct Emptying {
  Emptying(FileHandle handle, std::string entry)
      : folder(std::move(handle)), name(std::move(entry)) {}
  FileHandle folder;
  std::string name;
  std::vector<DirectoryEntry> entries;
  std::size_t next = 0;
};

// Unlinks `name` beneath `folder`; a folder answers EISDIR (or EPERM) and is left to the caller.
// Returns whether the entry is a folder still to empty; records any other error in `first`.
bool unlinkOrFolder(const FileHandle& folder, const std::string& name,
                    std::optional<Error>& first) {
  try {
    folder.removeAt(name, false);
    return false;
  } catch (const Error& error) {
    if (error.isPosix(EISDIR) || error.isPosix(EPERM)) return true;
    if (!error.isPosix(ENOENT) && !first) first = error;
    return false;
  }
}

}  // namespace

std::optional<Error> removeTree(FileSystem& fs, const std::string& path) noexcept {
  std::optional<Error> first;
  const auto note = [&](const Error& error) {
    if (!first) first = error;
  };
  try {
    const FileHandle holder = FileHandle::open(fs, parentFolder(path), O_RDONLY | O_DIRECTORY);
    if (!unlinkOrFolder(holder, lastComponent(path), first)) return first;
    std::vector<Emptying> stack;
    stack.push_back(
        {holder.openAt(lastComponent(path), O_RDONLY | O_DIRECTORY), lastComponent(path)});
    while (!stack.empty()) {
      Emptying& top = stack.back();
      if (top.next == top.entries.size()) {
        top.next = 0;
        // Entries are removed batch by batch while listing: those not yet listed still come.
        bool more = false;
        try {
          more = top.folder.nextEntries(top.entries);
        } catch (const Error& error) {
          note(error);
        }
        if (more) continue;
        const std::string name = std::move(top.name);
        stack.pop_back();
        try {
          (stack.empty() ? holder : stack.back().folder).removeAt(name, true);
        } catch (const Error& error) {
          note(error);
        }
        continue;
      }
      const std::string name = top.entries[top.next++].name;
      if (!unlinkOrFolder(top.folder, name, first)) continue;
      if (stack.size() == kMaxRemovalDepth) {
        note(systemError(EMFILE, path));
        continue;
      }
      try {
        // Opened beneath its folder: one swapped for a link meanwhile fails, never entered.
        FileHandle inner = top.folder.openAt(name, O_RDONLY | O_DIRECTORY);
        stack.emplace_back(std::move(inner), name);
      } catch (const Error& error) {
        note(error);
      }
    }
  } catch (const Error& error) {
    if (!error.isPosix(ENOENT)) note(error);
  } catch (const std::bad_alloc&) {
    note(systemError(ENOMEM, path));
  }
  return first;
}

void syncDirectory(FileSystem& fs, const std::string& folder) {
  FileHandle dir = FileHandle::open(fs, folder, O_RDONLY | O_DIRECTORY);
  dir.sync();
}

void makeDirectories(FileSystem& fs, const std::string& path) {
  if (path.empty() || path == "/") return;
  const std::string parent = parentFolder(path);
  try {
    fs.makeDirectory(path, 0777);
    syncDirectory(fs, parent);
    return;
  } catch (const Error& error) {
    if (error.isPosix(EEXIST)) {
      // A link to a folder counts as the folder, as it does for `mkdir -p`.
      if (S_ISDIR(fs.linkStatus(fs.resolve(path)).st_mode)) return;
      throw;
    }
    if (!error.isPosix(ENOENT)) throw;
  }
  if (parent == "/" || parent == ".") throw systemError(ENOENT, path);
  makeDirectories(fs, parent);
  try {
    fs.makeDirectory(path, 0777);
  } catch (const Error& error) {
    if (!error.isPosix(EEXIST)) throw;
    return;
  }
  syncDirectory(fs, parent);
}

}  // namespace quillop
