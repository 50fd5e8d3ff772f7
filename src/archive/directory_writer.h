// Packs one shared folder into one archive file, and streams and hashes single files.
//
// Archive layout: the 14-byte magic "QUILLOP-DIR-1\n", the index length N as a big-endian
// unsigned 32-bit integer, the index (compact UTF-8 JSON of `Manifest`, every "/" written as
// "\/"), then the bytes of every regular-file member in index order. Members are sorted by the
// unsigned bytes of their UTF-8 paths.
//
// Every operation runs on the calling thread, except that `write` hashes files on worker
// threads and starts the archive's write-back on another (all joined before it returns), so its
// `cancelled` must be thread-safe. Failures are thrown as `Error`: the system's failure value
// with the messages named below, or the platform's error unchanged.
// `fs` is the file system every call goes through (tests pass a fault-injecting one).
//
// The records' JSON encoding and strict decoding are in archive/archive_index.h; the other side of
// the format, which verifies and extracts archives, is ArchiveReader (archive/archive_reader.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/copy_rules.h"
#include "platform/copy_progress.h"
#include "platform/error.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"

namespace quillop {

class DirectoryWriter {
 public:
  DirectoryWriter() = delete;

  struct Member {
    std::string path;  // relative, components joined by "/"
    bool directory = false;
    std::uint64_t size = 0;  // 0 for a directory
    std::string sha256;      // 64 lower-case hex digits; empty for a directory
    bool operator==(const Member&) const = default;
  };

  struct Manifest {
    std::int64_t version = 1;
    std::vector<Member> entries;
    bool operator==(const Manifest&) const = default;
  };

  struct StreamResult {
    std::uint64_t count = 0;
    std::string sha256;
  };

  // Opens `path` read-only without following a final symbolic link, accepting only a regular
  // file. Never blocks on a named pipe. Failures: "Sorgente non leggibile." (cannot open),
  // "File speciale non supportato." (not a regular file; the descriptor is closed first).
  static FileHandle open(const std::string& path, FileSystem& fs = FileSystem::posix());

  // Reads `path` to its end in 262,144-byte chunks, hashing every byte and appending each chunk
  // to `output` when given. Polls `cancelled` before the first read and after every chunk
  // ("Preparazione annullata."); more than 50,000,000,000 bytes fail with "Cartella oltre 50 GB."
  // and the crossing chunk is neither hashed nor written. Read and write errors pass unchanged.
  // The source is closed on every way out; `output` is only appended to.
  static StreamResult stream(const std::string& path, FileHandle* output,
                             const Cancelled& cancelled, FileSystem& fs = FileSystem::posix());

  // The system's failure value carrying `message`.
  static Error failure(std::string message);

  // Packs the folder `source` into a new archive at `target` (created exclusively, mode 0600,
  // flushed to storage) and returns its length. The folder is opened once; everything below it
  // is reached through descriptors and never through a link, and the copy pass takes only the
  // files and folders (device and inode) that the walk saw. Nothing is written before the walk,
  // the index, the size limit and the free-space check have passed; after creation a failure
  // leaves the partial archive in place. `progress`, when given, hears of the walk, of the
  // archive's length once the archive is created, and of every byte written into it.
  // `maxBytes` bounds the files' total and the archive's length (tests lower it).
  static std::uint64_t write(const std::string& source, const std::string& target,
                             const Cancelled& cancelled, FileSystem& fs = FileSystem::posix(),
                             CopyProgress* progress = nullptr, std::uint64_t maxBytes = kMaxBytes);
};

}  // namespace quillop
