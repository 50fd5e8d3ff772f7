#include "archive/archive_reader.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "archive/archive_format.h"
#include "archive/archive_index.h"
#include "archive/sha256.h"
#include "platform/error.h"
#include "platform/file_handle.h"

namespace quillop {
namespace {

using Member = DirectoryWriter::Member;
using Sink = std::function<void(const unsigned char*, std::size_t)>;

Error invalid(const std::string& detail) { return failure("Archivio non valido: " + detail); }
Error damaged(const std::string& detail) { return failure("Archivio danneggiato: " + detail); }

// Opens the archive read-only without following a final link and without blocking on a pipe.
FileHandle openArchive(FileSystem& fs, const std::string& path, std::uint64_t& size) {
  FileHandle file = FileHandle::open(fs, path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
  const struct stat st = file.status();
  if (!S_ISREG(st.st_mode)) throw invalid("non è un file regolare.");
  file.setStatusFlags(0);
  size = static_cast<std::uint64_t>(st.st_size);
  return file;
}

// Up to `count` bytes; fewer only at the end of the file.
std::string readUpTo(FileHandle& file, std::size_t count) {
  std::string bytes(count, '\0');
  std::size_t done = 0;
  while (done < count) {
    const std::size_t n = file.read(bytes.data() + done, count - done);
    if (n == 0) break;
    done += n;
  }
  bytes.resize(done);
  return bytes;
}

}  // namespace

// The member data region of a fresh descriptor on the archive, read member by member.
class ArchiveReader::DataReader {
 public:
  explicit DataReader(const ArchiveReader& archive) {
    std::uint64_t size = 0;
    file_ = openArchive(*archive.fs_, archive.path_, size);
    if (size != archive.length_ || readUpTo(file_, archive.prefix_.size()) != archive.prefix_) {
      throw damaged("il file è cambiato dopo l'apertura.");
    }
    buffer_ = std::make_unique<unsigned char[]>(kChunkSize);
  }

  // Reads the next `member`'s bytes, handing each chunk to `sink`, and checks its digest.
  void read(const Member& member, const Cancelled& cancelled, const Sink& sink) {
    Sha256 hasher;
    std::uint64_t left = member.size;
    while (left > 0) {
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunkSize));
      const std::size_t n = file_.read(buffer_.get(), want);
      if (n == 0) throw damaged("il file finisce prima dei dati di " + member.path);
      hasher.update(buffer_.get(), n);
      if (sink) sink(buffer_.get(), n);
      left -= n;
      throwIfCancelled(cancelled);
    }
    if (hasher.hexDigest() != member.sha256) {
      throw damaged("il contenuto di " + member.path +
                    " non corrisponde alla sua impronta SHA-256.");
    }
  }

  void finish() {
    unsigned char extra = 0;
    if (file_.read(&extra, 1) != 0) throw damaged("dati oltre l'ultimo membro.");
  }

 private:
  FileHandle file_;
  std::unique_ptr<unsigned char[]> buffer_;
};

ArchiveReader ArchiveReader::open(const std::string& path, FileSystem& fs) {
  ArchiveReader reader(fs, path);
  std::uint64_t size = 0;
  FileHandle file = openArchive(fs, path, size);
  reader.prefix_ = readUpTo(file, kHeaderBytes);
  const std::optional<std::uint32_t> indexLength = indexLengthOf(reader.prefix_);
  if (!indexLength) throw invalid("intestazione mancante o errata.");
  if (*indexLength > kMaxIndexBytes) throw invalid("indice troppo grande.");
  const std::string index = readUpTo(file, *indexLength);
  if (index.size() != *indexLength) throw invalid("il file finisce dentro l'indice.");
  reader.manifest_ = parseIndex(index);
  reader.prefix_ += index;

  std::uint64_t data = 0;  // parseIndex bounds the sum by 50 GB
  for (const Member& member : reader.manifest_.entries) data += member.size;
  reader.length_ = reader.prefix_.size() + data;
  if (size != reader.length_) {
    throw damaged("lunghezza del file " + std::to_string(size) + " invece di " +
                  std::to_string(reader.length_) + " byte.");
  }
  return reader;
}

void ArchiveReader::verify(const Cancelled& cancelled) const {
  DataReader data(*this);
  for (const Member& member : manifest_.entries) {
    throwIfCancelled(cancelled);
    if (!member.directory) data.read(member, cancelled, nullptr);
  }
  data.finish();
}

void ArchiveReader::extract(const std::string& folder, const Cancelled& cancelled) const {
  FileHandle root = FileHandle::open(*fs_, folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
  std::vector<DirectoryEntry> entries;
  if (root.nextEntries(entries)) throw failure("Cartella di destinazione non vuota: " + folder);
  // A sparse archive takes little room, its members all of theirs.
  requireFreeSpace(*fs_, folder, length_ - prefix_.size());
  DataReader data(*this);
  // The folder of the previous member, kept open: siblings usually follow each other.
  std::string openPath;
  FileHandle openFolder;
  for (const Member& member : manifest_.entries) {
    throwIfCancelled(cancelled);
    const std::size_t slash = member.path.rfind('/');
    const std::string parent = slash == std::string::npos ? "" : member.path.substr(0, slash);
    const std::string name = member.path.substr(slash == std::string::npos ? 0 : slash + 1);
    if (!parent.empty() && parent != openPath) {
      // Step down from the root one folder at a time, refusing any link on the way.
      FileHandle current = root.openAt(parent.substr(0, parent.find('/')), O_RDONLY | O_DIRECTORY);
      for (std::size_t at = parent.find('/'); at != std::string::npos;) {
        const std::size_t next = parent.find('/', at + 1);
        current = current.openAt(parent.substr(at + 1, next - at - 1), O_RDONLY | O_DIRECTORY);
        at = next;
      }
      openFolder = std::move(current);
      openPath = parent;
    }
    const FileHandle& into = parent.empty() ? root : openFolder;
    if (member.directory) {
      into.makeDirectoryAt(name, 0777);
      continue;
    }
    FileHandle out = into.openAt(name, O_WRONLY | O_CREAT | O_EXCL, 0666);
    data.read(member, cancelled,
              [&](const unsigned char* bytes, std::size_t n) { out.writeAll(bytes, n); });
  }
  data.finish();
}

}  // namespace quillop
