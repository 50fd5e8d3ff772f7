// DirectoryWriter's file-level part (open, stream, failure): one source file, read, counted and
// hashed, and copied into the archive when one is given. The folder-level part (write) is in
// directory_writer.cc.
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>

#include "archive/directory_writer.h"
#include "archive/sha256.h"

namespace quillop {
namespace {

// The chunk buffer, one per thread and reused: allocating 256 KiB per file would map and unmap
// fresh pages for every file of a folder.
unsigned char* chunkBuffer() {
  thread_local std::unique_ptr<unsigned char[]> buffer(new unsigned char[kChunkSize]);
  return buffer.get();
}

}  // namespace

Error DirectoryWriter::failure(std::string message) { return quillop::failure(std::move(message)); }

FileHandle DirectoryWriter::open(const std::string& path, FileSystem& fs) {
  int fd = -1;
  try {
    // O_NONBLOCK: a named pipe swapped in after the caller's checks must not hang the open.
    fd = fs.open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0);
  } catch (const Error&) {
    throw failure("Sorgente non leggibile.");
  }
  FileHandle handle(fs, fd, path);
  struct stat st {};
  if (fs.fstat(fd, st) != 0 || !S_ISREG(st.st_mode)) {
    handle.close();
    throw failure("File speciale non supportato.");
  }
  handle.setStatusFlags(0);  // back to blocking reads, now that it is known to be a regular file
  return handle;
}

DirectoryWriter::StreamResult DirectoryWriter::stream(const std::string& path, FileHandle* output,
                                                      const Cancelled& cancelled, FileSystem& fs) {
  FileHandle source = open(path, fs);
  Sha256 hasher;
  throwIfCancelled(cancelled);

  unsigned char* buffer = chunkBuffer();
  std::uint64_t total = 0;
  for (;;) {
    const size_t count = source.read(buffer, kChunkSize);
    if (count == 0) break;
    total += count;
    if (total > kMaxBytes) throw failure("Cartella oltre 50 GB.");
    hasher.update(buffer, count);
    if (output != nullptr) output->writeAll(buffer, count);
    throwIfCancelled(cancelled);
  }
  return StreamResult{total, hasher.hexDigest()};
}

}  // namespace quillop
