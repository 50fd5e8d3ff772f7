// The advisory locks (flock) by which the host tells the batch folder of a running share from
// one that a share left behind when it died (SIGKILL, power loss).
//
// A share holds an exclusive lock on its own batch folder for as long as its store lives, and a
// shared lock on the inbox while it creates and locks that folder. The host recovers under the
// inbox's exclusive lock, so it never meets a folder that is made but not yet locked: an
// unpublished batch folder whose lock it can take belongs to no running share. The locks die
// with the process that holds them. On a file system without locks the share runs unlocked and
// the host removes nothing. Any thread.
#pragma once

#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/file_system.h"

namespace quillop {

// Opens the folder `path` and locks it with flock `operation` (LOCK_SH or LOCK_EX), waiting for
// a conflicting lock to go. The lock lasts until the handle is closed. Where the file system has
// no locks the handle comes back unlocked; any other error is thrown.
FileHandle holdFolderLock(FileSystem& fs, const std::string& path, int operation);

// The host's recovery: removes every unpublished batch folder of `inbox` (a 32-hex name, no
// "manifest.json") whose lock it can take, and returns their names, sorted. Never throws.
std::vector<std::string> removeAbandonedBatches(const std::string& inbox,
                                                FileSystem& fs = FileSystem::posix());

}  // namespace quillop
