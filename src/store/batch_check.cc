#include "store/batch_check.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <set>

#include "archive/archive_reader.h"
#include "platform/error.h"
#include "platform/file_handle.h"
#include "platform/identifiers.h"
#include "platform/limits.h"
#include "platform/path.h"
#include "store/batch_json.h"
#include "store/share_store.h"

namespace quillop {
namespace {

std::string readJson(FileSystem& fs, const std::string& path) {
  std::optional<std::string> bytes = readSmallRegularFile(fs, path, kMaxBatchJsonBytes, O_NOFOLLOW);
  if (!bytes) throw failure(path + ": non è un file JSON regolare");
  return std::move(*bytes);
}

// Throws a failure describing the first problem.
void verify(CheckedBatch& batch, const std::string& folder, FileSystem& fs) {
  const BatchRecord record = readManifest(readJson(fs, folder + "/manifest.json"));
  if (record.version != 1) throw failure("manifest.json: versione diversa da 1");
  if (record.id != batch.id) throw failure("manifest.json: id diverso dal nome della cartella");
  if (record.files.empty()) throw failure("manifest.json: nessun file");

  std::set<std::string> expected{"manifest.json", "context.json"};
  for (const BatchEntry& entry : record.files) {
    if (!isIdentifier(entry.id)) throw failure("manifest.json: id di voce non valido");
    const std::string name = entry.id + ".bin";
    if (!expected.insert(name).second) throw failure("manifest.json: id di voce ripetuto");
    const std::string path = folder + "/" + name;
    const struct stat st = fs.linkStatus(path);
    if (!S_ISREG(st.st_mode)) throw failure(name + ": non è un file regolare");
    if (static_cast<std::uint64_t>(st.st_size) != entry.size) {
      throw failure(name + ": dimensione diversa da quella del manifest");
    }
    CheckedFile checked{entry, std::nullopt};
    if (entry.mime == ShareStore::directoryMime) {
      const ArchiveReader archive = ArchiveReader::open(path, fs);
      if (archive.length() != entry.size) throw failure(name + ": lunghezza dell'archivio errata");
      archive.verify();
      checked.members = archive.members().size();
    }
    batch.files.push_back(std::move(checked));
  }

  BatchContext context = readContext(readJson(fs, folder + "/context.json"), batch.files.size());
  batch.ticket = std::move(context.ticket);
  batch.sources = std::move(context.sources);

  for (const std::string& name : fs.list(folder)) {
    if (!expected.count(name)) throw failure(name + ": file estraneo nel lotto");
  }
}

}  // namespace

CheckedBatch checkBatch(const std::string& folder, FileSystem& fs) {
  CheckedBatch batch;
  batch.id = lastComponent(folder);
  try {
    fs.linkStatus(folder + "/manifest.json");
    batch.published = true;
  } catch (const Error& error) {
    if (!error.isPosix(ENOENT)) batch.problem = error.message();
    return batch;
  }
  try {
    verify(batch, folder, fs);
  } catch (const Error& error) {
    batch.problem = error.message();
  }
  return batch;
}

std::vector<CheckedBatch> checkInbox(const std::string& inbox, FileSystem& fs) {
  std::vector<std::string> names;
  try {
    names = fs.list(inbox);
  } catch (const Error& error) {
    if (error.isPosix(ENOENT)) return {};
    CheckedBatch unreadable;
    unreadable.id = inbox;
    unreadable.problem = error.message();
    return {unreadable};
  }
  std::sort(names.begin(), names.end());
  std::vector<CheckedBatch> batches;
  for (const std::string& name : names) {
    const std::string path = inbox + "/" + name;
    try {
      if (!S_ISDIR(fs.linkStatus(path).st_mode)) {
        CheckedBatch stray;
        stray.id = name;
        stray.published = true;
        stray.problem = "non è una cartella di lotto";
        batches.push_back(std::move(stray));
        continue;
      }
    } catch (const Error&) {
      continue;  // gone meanwhile
    }
    batches.push_back(checkBatch(path, fs));
  }
  return batches;
}

}  // namespace quillop
