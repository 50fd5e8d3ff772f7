// Reads a folder archive back: the other side of DirectoryWriter, for the tests and the host.
//
// `open` checks the header and the whole index (see parseIndex) and that the file is exactly as
// long as the index says; `verify` and `extract` then stream the member data, each reopening the
// archive and refusing it if its header or index changed since `open`. Every damage is thrown as
// a failure that says what is wrong, starting with "Archivio non valido:" when the file is not an
// archive as the writer makes one (not a regular file, its header or index), and "Archivio
// danneggiato:" when its data is not what its index promises (length, a member's bytes or digest,
// a change since `open`). Errors of the system calls pass unchanged (naming the archive or the
// member).
//
// A value type holding the path, the raw index and the parsed members; no descriptor stays open
// between calls. One thread at a time per instance. Memory: the index plus one 256 KiB chunk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/copy_rules.h"
#include "archive/directory_writer.h"
#include "platform/file_system.h"

namespace quillop {

class ArchiveReader {
 public:
  // Opens the archive at `path` (a final symbolic link is refused, so is anything but a regular
  // file) and validates its header and index.
  static ArchiveReader open(const std::string& path, FileSystem& fs = FileSystem::posix());

  const std::vector<DirectoryWriter::Member>& members() const { return manifest_.entries; }
  // 18 + N + S: the archive's length in bytes.
  std::uint64_t length() const { return length_; }

  // Reads every member's bytes and checks them against its size and SHA-256 digest. Polls
  // `cancelled` before each member and after each chunk ("Preparazione annullata.").
  void verify(const Cancelled& cancelled = {}) const;

  // Recreates the members inside `folder`, which must be an existing, empty folder reached
  // without a final symbolic link, on a volume whose free space exceeds the members' bytes by
  // more than 16 MiB ("Spazio insufficiente sul Mac." otherwise). Nothing is ever created outside
  // it: every member is created relative to descriptors of folders opened without following links,
  // with exclusive creation, so a link or file that appears meanwhile is refused, never followed or
  // overwritten. Each file is checked against its digest while it is written. Files get mode 0666
  // and folders 0777, less the umask. On failure what was extracted so far stays; the caller
  // removes it.
  void extract(const std::string& folder, const Cancelled& cancelled = {}) const;

 private:
  ArchiveReader(FileSystem& fs, std::string path) : fs_(&fs), path_(std::move(path)) {}

  class DataReader;
  FileSystem* fs_;
  std::string path_;
  std::string prefix_;  // header and index bytes exactly as read by `open`
  DirectoryWriter::Manifest manifest_;
  std::uint64_t length_ = 0;
};

}  // namespace quillop
