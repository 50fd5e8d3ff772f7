#include "store/batch_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <algorithm>
#include <cerrno>

#include "platform/error.h"
#include "platform/identifiers.h"

namespace quillop {
namespace {

bool noLocksHere(int result) { return result == -ENOLCK || result == -EOPNOTSUPP; }

}  // namespace

FileHandle holdFolderLock(FileSystem& fs, const std::string& path, int operation) {
  FileHandle folder = FileHandle::open(fs, path, O_RDONLY | O_DIRECTORY);
  const int result = fs.lock(folder.descriptor(), operation);
  if (result != 0 && !noLocksHere(result)) throw systemError(-result, path);
  return folder;
}

std::vector<std::string> removeAbandonedBatches(const std::string& inbox, FileSystem& fs) {
  std::vector<std::string> removed;
  try {
    FileHandle inboxLock = FileHandle::open(fs, inbox, O_RDONLY | O_DIRECTORY);
    if (fs.lock(inboxLock.descriptor(), LOCK_EX) != 0) return removed;
    for (const std::string& name : fs.list(inbox)) {
      if (!isIdentifier(name)) continue;
      const std::string path = inbox + "/" + name;
      try {
        FileHandle folder = FileHandle::open(fs, path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (fs.lock(folder.descriptor(), LOCK_EX | LOCK_NB) != 0) continue;  // its share runs
        try {
          fs.linkStatus(path + "/manifest.json");
          continue;  // published: the host's to send
        } catch (const Error& error) {
          if (!error.isPosix(ENOENT)) continue;
        }
        removeTree(fs, path);
        removed.push_back(name);
      } catch (const Error&) {
        // Not a folder, or gone meanwhile: not ours to recover.
      }
    }
  } catch (const Error&) {
    // No inbox, or one that cannot be read: nothing to recover.
  }
  std::sort(removed.begin(), removed.end());
  return removed;
}

}  // namespace quillop
