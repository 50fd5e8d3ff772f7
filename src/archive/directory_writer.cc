// DirectoryWriter::write: walk, index, limits, free space, exclusive creation, copy pass, flush.
#include "archive/directory_writer.h"

#include <fcntl.h>

#include <algorithm>
#include <numeric>
#include <string_view>
#include <unordered_map>

#include "archive/archive_format.h"
#include "archive/archive_index.h"
#include "archive/folder_chain.h"
#include "archive/folder_walk.h"
#include "archive/trailing_hasher.h"
#include "archive/write_behind.h"
#include "platform/path.h"

namespace quillop {
namespace {

Error changed() {
  return DirectoryWriter::failure("Cartella cambiata durante la preparazione. Riprova.");
}

// The second pass: every regular file again, into `archive`, checked against the walk.
// Each file is reached from the shared folder's descriptor one folder at a time, each folder
// and the file checked to be the one the walk saw; the chain of open folders is kept from one
// member to the next, which in index order mostly share their folders. Files are read into the
// hasher's slots, written to the archive a slot at a time, and their digests checked a few
// chunks behind the copy. Whatever fails, the bytes read before it are written first and a file
// before it that changed is reported first, as if each file were written as it was read and
// checked before the next was opened. The archive's write-back to storage starts behind the
// copy too.
void copyMembers(WalkResult& walked, const DirectoryWriter::Manifest& manifest,
                 std::size_t headerBytes, FileHandle& archive, const Cancelled& cancelled) {
  const std::vector<DirectoryWriter::Member>& members = manifest.entries;
  std::unordered_map<std::string_view, Identity> folders;
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (members[i].directory) folders.emplace(members[i].path, walked.identities[i]);
  }
  FolderChain chain(walked.root);
  WriteBehind writeBehind(archive);
  std::uint64_t written = headerBytes;
  TrailingHasher hasher(members, [&](const unsigned char* bytes, std::size_t n) {
    archive.writeAll(bytes, n);
    writeBehind.written(written += n);
  });
  try {
    for (std::size_t i = 0; i < members.size(); ++i) {
      const DirectoryWriter::Member& member = members[i];
      if (member.directory) continue;
      const std::string_view path = member.path;
      // Leave the folders this member is not in, then enter the missing ones of its path.
      std::size_t level = 0, at = 0;
      for (std::size_t slash;
           level < chain.depth() && (slash = path.find('/', at)) != std::string_view::npos &&
           path.substr(at, slash - at) == chain.name(level);
           at = slash + 1) {
        ++level;
      }
      while (chain.depth() > level) chain.leave();
      for (std::size_t slash; (slash = path.find('/', at)) != std::string_view::npos;
           at = slash + 1) {
        chain.enter(std::string(path.substr(at, slash - at)), folders.at(path.substr(0, slash)));
      }
      OpenFile source = openMember(chain.current(), std::string(path.substr(at)));
      if (source.identity != walked.identities[i]) throw changed();
      const std::uint64_t count = readChunks(
          source.file, cancelled, kPackedFileLimit, 0, source.size, [&] { return hasher.room(); },
          [&](const unsigned char*, std::size_t n) { hasher.add(n); });
      hasher.endFile(i);
      if (count != member.size) throw changed();
    }
    if (hasher.finish()) throw changed();
  } catch (const Error&) {
    std::exception_ptr failure = std::current_exception();
    try {
      hasher.flush();
    } catch (const Error&) {
      failure = std::current_exception();  // the write of bytes read before the failure
    }
    if (hasher.finish()) throw changed();
    std::rethrow_exception(failure);
  }
}

}  // namespace

std::uint64_t DirectoryWriter::write(const std::string& source, const std::string& target,
                                     const Cancelled& cancelled, FileSystem& fs,
                                     CopyProgress* progress, std::uint64_t maxBytes) {
  if (progress != nullptr) progress->walking();
  WalkResult walked = walkFolder(source, cancelled, fs, maxBytes);
  std::vector<std::size_t> order(walked.members.size());
  std::iota(order.begin(), order.end(), 0);
  std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
    return pathBefore(walked.members[a].path, walked.members[b].path);
  });
  Manifest manifest{kVersion, {}};
  std::vector<Identity> identities;
  for (const std::size_t i : order) {
    manifest.entries.push_back(std::move(walked.members[i]));
    identities.push_back(walked.identities[i]);
  }
  walked.identities = std::move(identities);

  const std::string index = encodeIndex(manifest);
  if (index.size() > kMaxIndexBytes) throw failure("Indice cartella troppo grande.");
  const std::uint64_t length = kHeaderBytes + index.size() + walked.total;
  if (length > maxBytes) throw failure("Cartella oltre 50 GB.");

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
  archive.reserve(length);
  const std::string head = header(static_cast<std::uint32_t>(index.size()));
  archive.writeAll(head.data(), head.size());
  archive.writeAll(index.data(), index.size());
  copyMembers(walked, manifest, head.size() + index.size(), archive, cancelled);
  archive.sync();
  archive.close();
  return length;
}

}  // namespace quillop
