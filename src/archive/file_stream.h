// The parts of DirectoryWriter::open and ::stream that the folder walk and the copy pass share:
// opening a member beneath an open folder, the identity that the copy pass compares with the
// walk's, and the chunk loop.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "archive/directory_writer.h"
#include "platform/error.h"

namespace quillop {

// Device and inode: which file or folder an entry is, whatever its name.
struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const Identity&) const = default;
};

inline Identity identityOf(const struct stat& st) { return Identity{st.st_dev, st.st_ino}; }

// Opens the entry `name` of `folder` as DirectoryWriter::open opens a path, with its failures,
// except that no link is followed anywhere. Stores the file's identity in `identity`.
FileHandle openMember(const FileHandle& folder, const std::string& name, Identity& identity);

// The loop of DirectoryWriter::stream. Polls `cancelled` before the first read and after every
// chunk; each chunk is read into `buffer()` (room for kChunkSize bytes) and handed to
// `chunk(bytes, count)` unless it takes the total past kMaxBytes ("Cartella oltre 50 GB.").
// Returns the byte count. Read errors pass unchanged.
template <typename Buffer, typename Chunk>
std::uint64_t readChunks(FileHandle& source, const Cancelled& cancelled, Buffer buffer,
                         Chunk chunk) {
  throwIfCancelled(cancelled);
  std::uint64_t total = 0;
  for (;;) {
    unsigned char* into = buffer();
    const std::size_t count = source.read(into, kChunkSize);
    if (count == 0) return total;
    total += count;
    if (total > kMaxBytes) throw failure("Cartella oltre 50 GB.");
    chunk(into, count);
    throwIfCancelled(cancelled);
  }
}

// DirectoryWriter::stream on a source already opened by `open` or `openMember`.
DirectoryWriter::StreamResult streamOpen(FileHandle source, FileHandle* output,
                                         const Cancelled& cancelled);

}  // namespace quillop
