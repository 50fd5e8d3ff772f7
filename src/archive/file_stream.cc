// DirectoryWriter's file-level part (open, stream, failure) and the helpers of
// archive/file_stream.h: one source file, opened, read, counted and hashed, and copied into the
// archive when one is given. The folder-level part (write) is in directory_writer.cc.
#include "archive/file_stream.h"

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

// Keeps an entry opened with O_NONBLOCK only when it is a regular file. The flag stays: it has
// no effect on reads of a regular file, and clearing it would cost a call per file.
OpenFile acceptRegular(FileHandle handle) {
  struct stat st {};
  try {
    st = handle.status();
  } catch (const Error&) {
    st.st_mode = 0;  // a failed fstat refuses the file like any other non-regular one
  }
  if (!S_ISREG(st.st_mode)) {
    handle.close();
    throw failure("File speciale non supportato.");
  }
  return OpenFile{std::move(handle), identityOf(st), static_cast<std::uint64_t>(st.st_size)};
}

// O_NONBLOCK: a named pipe swapped in after the caller's checks must not hang the open.
constexpr int kSourceFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK;

// The file that `open()` opens, accepted as a regular file; a failure to open it is "Sorgente
// non leggibile.".
template <typename Open>
OpenFile openRegular(Open open) {
  FileHandle handle;
  try {
    handle = open();
  } catch (const Error&) {
    throw failure("Sorgente non leggibile.");
  }
  return acceptRegular(std::move(handle));
}

OpenFile openPath(FileSystem& fs, const std::string& path) {
  return openRegular([&] { return FileHandle::open(fs, path, kSourceFlags); });
}

}  // namespace

Error DirectoryWriter::failure(std::string message) { return quillop::failure(std::move(message)); }

FileHandle DirectoryWriter::open(const std::string& path, FileSystem& fs) {
  return openPath(fs, path).file;
}

DirectoryWriter::StreamResult DirectoryWriter::stream(const std::string& path, FileHandle* output,
                                                      const Cancelled& cancelled, FileSystem& fs) {
  return streamOpen(openPath(fs, path), output, cancelled);
}

OpenFile openMember(const FileHandle& folder, const std::string& name) {
  return openRegular([&] { return folder.openAt(name, kSourceFlags); });
}

DirectoryWriter::StreamResult streamOpen(OpenFile source, FileHandle* output,
                                         const Cancelled& cancelled) {
  Sha256 hasher;
  const std::uint64_t total =
      readChunks(source.file, cancelled, kPackedFileLimit, 0, source.size, chunkBuffer,
                 [&](const unsigned char* bytes, std::size_t count) {
                   hasher.update(bytes, count);
                   if (output != nullptr) output->writeAll(bytes, count);
                 });
  return DirectoryWriter::StreamResult{total, hasher.hexDigest()};
}

}  // namespace quillop
