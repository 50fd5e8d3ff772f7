// The first pass of DirectoryWriter::write: visits every entry below a shared folder, enforces
// the entry rules and limits, and sizes and hashes every regular file (read once, no output).
// The shared folder is opened once and everything below it is reached through descriptors
// (FolderChain, FileHandle::openAt), never by path and never through a link. Lists and checks
// entries on the calling thread, where files are opened too, while worker threads (one per
// core) hash them; every worker is joined before walkFolder returns or throws. The result
// belongs to the caller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/directory_writer.h"
#include "archive/file_stream.h"

namespace quillop {

struct WalkResult {
  // In the order found, each folder before its contents.
  std::vector<DirectoryWriter::Member> members;
  // The identity of each member, as opened by the walk; parallel to `members`.
  std::vector<Identity> identities;
  // The sum of the members' sizes.
  std::uint64_t total = 0;
  // The shared folder as the walk opened it; not open when it is not a folder.
  FileHandle root;
};

// Walks `source` without following any symbolic link. Throws at the first entry that breaks a
// rule, with no further entry looked at: "Preparazione annullata.", "La cartella contiene
// collegamenti." (the shared folder itself included), "Nome non supportato nella cartella."
// (50,000 members, 2048-byte paths, the name rules), "File speciale non supportato.", "Cartella
// oltre 50 GB.", "Sorgente non leggibile." (a file that cannot be opened), or the platform's
// error of a status, open or listing call, unchanged. A `source` that is not a folder gives no
// members. Writes nothing. The failure thrown is always the one of the earliest failing entry in
// walk order, as if every file were hashed before the next entry is looked at. `cancelled` is
// also called from the workers and must be thread-safe.
//
// Memory: names are listed only as far as the walk can get; a folder listing that would take
// the names waiting to be visited past the member limit stops early, so a folder of a million
// entries fails as the 50,001st entry does, without a million names in memory.
//
// `maxBytes` is the folder total that fails with "Cartella oltre 50 GB." (tests lower it).
WalkResult walkFolder(const std::string& source, const Cancelled& cancelled, FileSystem& fs,
                      std::uint64_t maxBytes = kMaxBytes);

}  // namespace quillop
