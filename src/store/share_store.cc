#include "store/share_store.h"

#include <sys/file.h>

#include <cerrno>

#include "platform/container.h"
#include "platform/identifiers.h"
#include "platform/json_file.h"
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

}  // namespace quillop
