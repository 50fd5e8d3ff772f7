// The host side of a batch: reads a batch folder of the shared inbox back and verifies it
// against its manifest. Used by the Movarix stand-in and by the tests.
//
// A batch is verified when "manifest.json" holds version 1, the folder's name as id and at least
// one entry; every entry has a 32-hex id, a data file "<id>.bin" that is a regular file of
// exactly the recorded size and, for a packed folder, an archive whose index and every member's
// size and SHA-256 digest check out and whose length is the recorded size; "context.json" holds
// a string "ticket" and one string "sources" per entry; and the folder holds nothing else.
// Nothing is ever written. One thread at a time per call; any thread.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "store/records.h"

namespace quillop {

struct CheckedFile {
  BatchEntry entry;
  std::optional<std::size_t> members;  // for a folder archive: its member count
};

struct CheckedBatch {
  std::string id;          // the folder's name
  bool published = false;  // "manifest.json" is there
  std::vector<CheckedFile> files;
  std::string ticket;
  std::vector<std::string> sources;
  std::optional<std::string> problem;  // the first thing found wrong; none when verified

  bool verified() const { return published && !problem; }
};

// Checks the batch folder `folder`. Never throws: what is wrong ends up in `problem`.
CheckedBatch checkBatch(const std::string& folder, FileSystem& fs = FileSystem::posix());

// Every batch folder of the inbox, in name order; an inbox that does not exist has none.
// Items of the inbox that are not folders are reported as problems.
std::vector<CheckedBatch> checkInbox(const std::string& inbox,
                                     FileSystem& fs = FileSystem::posix());

}  // namespace quillop
