// DirectoryWriter::write: walk, index, limits, free space, exclusive creation, copy pass, flush.
#include "archive/directory_writer.h"

#include <fcntl.h>

#include <algorithm>

#include "archive/archive_format.h"
#include "archive/archive_index.h"
#include "archive/folder_walk.h"
#include "platform/path.h"

namespace quillop {
namespace {

// `path` with every symbolic link resolved, followed by "/". A path that no longer resolves
// (its folder was removed since the walk) cannot be read either.
std::string resolvedPrefix(FileSystem& fs, const std::string& path) {
  try {
    return fs.resolve(path) + "/";
  } catch (const Error&) {
    throw DirectoryWriter::failure("Sorgente non leggibile.");
  }
}

// The second pass: every regular file again, straight into `archive`, checked against the walk.
void copyMembers(const std::string& source, const DirectoryWriter::Manifest& manifest,
                 FileHandle& archive, const Cancelled& cancelled, FileSystem& fs) {
  const std::string root = resolvedPrefix(fs, source);
  for (const DirectoryWriter::Member& member : manifest.entries) {
    if (member.directory) continue;
    const std::string location = source + "/" + member.path;
    // A folder on the way swapped for a link since the walk would lead out of the shared folder.
    if (!resolvedPrefix(fs, parentFolder(location)).starts_with(root)) {
      throw DirectoryWriter::failure("Sorgente spostata fuori dalla cartella.");
    }
    const DirectoryWriter::StreamResult copied =
        DirectoryWriter::stream(location, &archive, cancelled, fs);
    if (copied.count != member.size || copied.sha256 != member.sha256) {
      throw DirectoryWriter::failure("Cartella cambiata durante la preparazione. Riprova.");
    }
  }
}

}  // namespace

std::uint64_t DirectoryWriter::write(const std::string& source, const std::string& target,
                                     const Cancelled& cancelled, FileSystem& fs,
                                     CopyProgress* progress) {
  if (progress != nullptr) progress->walking();
  WalkResult walked = walkFolder(source, cancelled, fs);
  std::sort(walked.members.begin(), walked.members.end(),
            [](const Member& a, const Member& b) { return pathBefore(a.path, b.path); });
  const Manifest manifest{kVersion, std::move(walked.members)};

  const std::string index = encodeIndex(manifest);
  if (index.size() > kMaxIndexBytes) throw failure("Indice cartella troppo grande.");
  const std::uint64_t length = kHeaderBytes + index.size() + walked.total;
  if (length > kMaxBytes) throw failure("Cartella oltre 50 GB.");

  requireFreeSpace(fs, parentFolder(target), length);

  FileHandle archive;
  try {
    archive = FileHandle::open(fs, target, O_WRONLY | O_CREAT | O_EXCL, 0600);
  } catch (const Error&) {
    throw failure("Impossibile preparare la cartella.");
  }
  // From here on a failure leaves the partial archive; its folder's owner removes it.
  if (progress != nullptr) {
    progress->expect(length);
    archive.countWritesInto(progress);
  }
  const std::string head = header(static_cast<std::uint32_t>(index.size()));
  archive.writeAll(head.data(), head.size());
  archive.writeAll(index.data(), index.size());
  copyMembers(source, manifest, archive, cancelled, fs);
  archive.sync();
  archive.close();
  return length;
}

}  // namespace quillop
