// The parts of DirectoryWriter::open and ::stream that the folder walk and the copy pass share:
// opening a member beneath an open folder, the identity that the copy pass compares with the
// walk's, and the packing limit of a file read.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "archive/directory_writer.h"
#include "archive/read_chunks.h"
#include "platform/error.h"

namespace quillop {

// Device and inode: which file or folder an entry is, whatever its name.
struct Identity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const Identity&) const = default;
};

inline Identity identityOf(const struct stat& st) { return Identity{st.st_dev, st.st_ino}; }

// No file read while packing a folder may pass 50 GB.
inline constexpr ByteLimit kPackedFileLimit{kMaxBytes, "Cartella oltre 50 GB."};

// A regular file opened for reading, with its identity and its size at the open.
struct OpenFile {
  FileHandle file;
  Identity identity;
  std::uint64_t size = 0;
};

// Opens the entry `name` of `folder` as DirectoryWriter::open opens a path, with its failures,
// except that no link is followed anywhere.
OpenFile openMember(const FileHandle& folder, const std::string& name);

// DirectoryWriter::stream on a source already opened by `open` or `openMember`.
DirectoryWriter::StreamResult streamOpen(OpenFile source, FileHandle* output,
                                         const Cancelled& cancelled);

}  // namespace quillop
