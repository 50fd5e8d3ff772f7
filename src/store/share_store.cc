#include "store/share_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "archive/directory_writer.h"
#include "archive/read_chunks.h"
#include "platform/container.h"
#include "platform/file_handle.h"
#include "platform/identifiers.h"
#include "platform/json_file.h"
#include "platform/limits.h"
#include "platform/unicode.h"
#include "store/batch_lock.h"
#include "store/names.h"

namespace quillop {
namespace {

constexpr size_t kInboxLimit = 19;  // a new batch is accepted while the inbox holds at most this
constexpr const char* kBackupAttribute = "user.xdg.robots.backup";

// An absolute path that the system can take whole: a NUL ("%00" decoded) would cut it short.
bool isLocalPath(const std::string& path) {
  return !path.empty() && path.front() == '/' && path.find('\0') == std::string::npos;
}

}  // namespace

std::string ShareStore::sharedDirectory(FileSystem& fs) {
  std::optional<std::string> container = groupContainer(fs, std::string(group));
  if (!container) {
    throw Error(std::string(Error::kShareDomain), Error::kContainerCode,
                "Condivisione Mac non configurata: serve un profilo con App Group autorizzato.");
  }
  return *container + "/" + std::string(inboxName);
}

ShareStore::ShareStore(std::string directory, FileSystem& fs)
    : directory_(std::move(directory)), id_(newIdentifier()), fs_(fs) {
  makeDirectories(fs_, directory_);
  // Until the batch folder is made and locked, so that the host's recovery never takes it for
  // the folder of a share that died (store/batch_lock.h).
  const FileHandle inboxLock = holdFolderLock(fs_, directory_, LOCK_SH);
  if (fs_.list(directory_).size() > kInboxLimit) {
    throw failure("La coda Condividi è piena. Apri Movarix per gestirla.");
  }
  const std::string folder = batchFolder();
  fs_.makeDirectory(folder, 0700);
  try {
    lock_ = holdFolderLock(fs_, folder, LOCK_EX);
    fs_.setMode(folder, 0700);  // exact, whatever the umask
    try {
      // On the folder itself: an inbox that is a link to a folder takes no attribute of its own.
      fs_.setAttribute(fs_.resolve(directory_), kBackupAttribute, "false");
    } catch (const Error& error) {
      // A file system without user attributes cannot exclude anything: nothing to do.
      if (!error.isPosix(ENOTSUP)) throw;
    }
  } catch (...) {
    removeTree(fs_, folder);
    throw;
  }
}

ShareStore::~ShareStore() {
  if (!finished_) removeTree(fs_, batchFolder());
}

void ShareStore::context(const std::string& ticket, const std::vector<std::string>& sources) {
  nlohmann::ordered_json object = nlohmann::ordered_json::object();
  object["ticket"] = ticket;
  object["sources"] = sources;
  // Its name lasts with the data files' names: publication syncs the folder.
  writeFileAtomically(fs_, batchFolder(), "context.json", compactJson(object));
}

std::string ShareStore::publish() {
  if (finished_ || entries_.empty()) throw failure("Nessun file preparato.");
  const Batch batch{1, id_, entries_};
  // Every name the manifest stands for (the data files, the context) on storage before the
  // manifest can take its own: no order of a power cut leaves a manifest without its files.
  syncDirectory(fs_, batchFolder());
  try {
    writeFileAtomically(fs_, batchFolder(), "manifest.json", compactJson(batch));
    syncDirectory(fs_, batchFolder());
    // The batch folder's own entry in the inbox must survive a power cut too.
    syncDirectory(fs_, directory_);
  } catch (const Error&) {
    // A flush failed after the manifest took its name: the batch is not published, and no
    // manifest may tell the host otherwise.
    try {
      fs_.remove(batchFolder() + "/manifest.json");
    } catch (const Error&) {
    }
    throw;
  }
  finished_ = true;
  return id_;
}

std::optional<Url> ShareStore::fileURL(const LoadedItem& item) {
  std::optional<Url> candidate;
  if (const Url* url = std::get_if<Url>(&item)) {
    candidate = *url;
  } else if (const Bytes* bytes = std::get_if<Bytes>(&item)) {
    candidate = Url::parse(std::string(bytes->begin(), bytes->end()));
  } else if (const std::string* text = std::get_if<std::string>(&item)) {
    candidate = Url::parse(*text);
  }
  if (!candidate || !candidate->isLocalFileUrl() || !isLocalPath(candidate->path())) {
    return std::nullopt;
  }
  return candidate;
}

bool ShareStore::safeName(std::string_view name) { return isSafeName(name); }

std::optional<std::string> ShareStore::mime(const std::optional<std::string>& value) {
  return acceptedMediaType(value);
}

Error ShareStore::failure(std::string message) { return quillop::failure(std::move(message)); }

// One shared item into the batch, as one data file "<entry id>.bin".
void ShareStore::append(const Url& source, const std::string& name,
                        const std::optional<std::string>& mime, const Cancelled& cancelled,
                        CopyProgress* progress) {
  const std::string path = source.path();
  // The path is recorded as JSON text: one that is no UTF-8 (a Latin-1 folder from an old disk)
  // is refused before anything is copied, like a name that is none.
  if (finished_ || entries_.size() >= kMaxItems || !source.isLocalFileUrl() ||
      path.find('\0') != std::string::npos || !isValidUtf8(path) || !safeName(name)) {
    throw failure("File condiviso non valido.");
  }

  // The item itself: a final symbolic link is never followed.
  const struct stat item = fs_.linkStatus(path);
  if (S_ISDIR(item.st_mode)) {
    const std::string id = newIdentifier();
    const std::uint64_t length =
        DirectoryWriter::write(path, batchFolder() + "/" + id + ".bin", cancelled, fs_, progress);
    entries_.push_back(Entry{id, name, length, std::string(directoryMime)});
    return;
  }

  if (!S_ISREG(item.st_mode) || item.st_size < 0 ||
      static_cast<std::uint64_t>(item.st_size) > maxBytes) {
    throw failure("Il file non è regolare o supera 50 GB.");
  }
  const std::uint64_t expected = static_cast<std::uint64_t>(item.st_size);

  requireFreeSpace(fs_, directory_, expected);

  const std::string id = newIdentifier();
  if (progress != nullptr) progress->expect(expected);
  const std::uint64_t count =
      copyRegularFile(path, batchFolder() + "/" + id + ".bin", expected, cancelled, progress);
  if (count != expected) throw failure("Il file è cambiato durante la copia.");
  entries_.push_back(Entry{id, name, count, ShareStore::mime(mime)});
}

// Copies `source` into the new file `target` in chunks of at most 262,144 bytes, polling
// `cancelled` before the first chunk and after each one and refusing to pass 50,000,000,000
// bytes (the crossing chunk is not written). It stops with "Il file è cambiato durante la
// copia." as soon as more than `expected` bytes came: a file whose size reads 0 may still yield
// data without end (/proc/self/pagemap). Chunks move with copy_file_range where the file
// systems allow it, never more than one byte past `expected`, through a buffer otherwise or
// once it fails. The copy is on stable storage when this returns. Both files are closed on every
// way out, the source first.
std::uint64_t ShareStore::copyRegularFile(const std::string& source, const std::string& target,
                                          std::uint64_t expected, const Cancelled& cancelled,
                                          CopyProgress* progress) {
  FileHandle input = DirectoryWriter::open(source, fs_);
  FileHandle output;
  try {
    output = FileHandle::open(fs_, target, O_WRONLY | O_CREAT | O_EXCL, 0666);
  } catch (const Error&) {
    throw failure("File non leggibile.");
  }
  struct CloseInOrder {
    FileHandle& input;
    FileHandle& output;
    ~CloseInOrder() {
      input.close();
      output.close();
    }
  } closeInOrder{input, output};

  throwIfCancelled(cancelled);
  const Error changed = failure("Il file è cambiato durante la copia.");
  std::uint64_t count = 0;
  // Near the limit a chunk must be seen before it is written, so the buffered loop takes over.
  while (maxBytes - count >= kChunkSize) {
    const long result = fs_.copyRange(
        input.descriptor(), output.descriptor(),
        static_cast<size_t>(std::min<std::uint64_t>(kChunkSize, expected - count + 1)));
    if (result == 0) {
      output.sync();
      return count;
    }
    // Any error hands over to the buffered loop: copy_file_range does not say which side failed
    // (a full inbox is no fault of the source), and "not possible here" is an error too. A real
    // fault comes back from the read or the write, with the path of its own file.
    if (result < 0) break;
    count += static_cast<std::uint64_t>(result);
    if (count > expected) throw changed;
    if (progress != nullptr) progress->advance(static_cast<std::uint64_t>(result));
    throwIfCancelled(cancelled);
  }
  // The file offsets moved with what was copied, so the buffered loop resumes exactly.
  auto buffer = std::make_unique<unsigned char[]>(kChunkSize);
  // A write that makes no progress and reports no error is "Scrittura interrotta.".
  const Error stalled = failure("Scrittura interrotta.");
  count = readChunks(
      input, cancelled, ByteLimit{maxBytes, "Il limite è 50 GB per file."}, count, expected,
      [&] { return buffer.get(); },
      [&](const unsigned char* bytes, std::size_t moved) {
        if ((count += moved) > expected) throw changed;
        output.writeAll(bytes, moved, &stalled);
        if (progress != nullptr) progress->advance(moved);
      });
  output.sync();
  return count;
}

}  // namespace quillop
