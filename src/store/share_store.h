// One batch in the shared inbox, from the creation of its folder to its publication.
//
// Construction creates the inbox (with missing parents), refuses a new batch when the inbox
// already holds 20 items or more, creates the batch folder "<inbox>/<id>" with mode 0700 and
// marks the inbox as excluded from backups; the store holds the batch folder's lock, for the
// host's crash recovery, as long as it lives (store/batch_lock.h). Entries are added by
// `append`, one per shared item; `context` writes "context.json"; `publish` writes
// "manifest.json" last and makes the batch final. Destroying a store that was not published
// removes its batch folder and everything in it, silently. Every JSON file is written
// atomically and durably; every data file is on stable storage before its entry is recorded.
//
//   (constructed) -- append / context --> open -- publish --> published (finished)
//        |                                 |  \__ failed append or publish: still open
//        |                                 '-- destroyed --> batch folder removed
//        '-- construction fails --> no batch folder
//
// Not thread-safe: callers use a store from one thread at a time (publication runs under the
// preparation's lock). Held by `std::shared_ptr` by the steps of one share.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "archive/copy_rules.h"
#include "platform/copy_progress.h"
#include "platform/error.h"
#include "platform/file_handle.h"
#include "platform/file_system.h"
#include "platform/loaded_item.h"
#include "platform/url.h"
#include "store/records.h"

namespace quillop {

class ShareStore {
 public:
  using Entry = BatchEntry;
  using Batch = BatchRecord;

  static constexpr std::string_view group = "K7QZ4MRX2P.ex.quillop.mac";
  static constexpr std::string_view inboxName = "quillop-share-inbox";
  static constexpr std::uint64_t maxBytes = kMaxBytes;
  static constexpr std::string_view directoryMime = "application/x-quillop-directory";

  // The inbox folder in the App Group container (which the lookup creates; the inbox itself is
  // not created). Without a container: Error "QuillopShare" code 1, "Condivisione Mac non
  // configurata: serve un profilo con App Group autorizzato.".
  static std::string sharedDirectory(FileSystem& fs = FileSystem::posix());

  // Creates a new batch folder in the inbox `directory`. Throws the platform's error, or the
  // failure "La coda Condividi è piena. Apri Movarix per gestirla." when the inbox holds 20
  // items or more. A failed construction leaves no batch folder.
  explicit ShareStore(std::string directory, FileSystem& fs = FileSystem::posix());
  ~ShareStore();
  ShareStore(const ShareStore&) = delete;
  ShareStore& operator=(const ShareStore&) = delete;

  // Imports one shared item (a regular file, copied; a folder, packed into an archive) as a new
  // data file "<entry id>.bin", and records its entry once the data is complete, verified and on
  // stable storage. A source whose path is no UTF-8, like an unsafe name, is "File condiviso
  // non valido.". Failures are thrown; a failed call records nothing. `progress`, when given,
  // hears of the item's size before its copy starts (of a folder's walk before that) and of
  // every byte written.
  void append(const Url& source, const std::string& name, const std::optional<std::string>& mime,
              const Cancelled& cancelled = {}, CopyProgress* progress = nullptr);

  // Writes "context.json": {"ticket": ticket, "sources": [...]}.
  void context(const std::string& ticket, const std::vector<std::string>& sources);

  // Writes "manifest.json" and makes the batch final; returns its id. Fails with "Nessun file
  // preparato." when already published or empty; a failed write leaves the store open.
  std::string publish();

  // The file URL of an item an attachment delivered: a URL, the bytes of a URL or its text,
  // accepted when it is a file URL of this machine (no host, or "localhost") whose decoded path
  // begins with "/" and holds no NUL.
  static std::optional<Url> fileURL(const LoadedItem& item);

  static bool safeName(std::string_view name);
  static std::optional<std::string> mime(const std::optional<std::string>& value);
  // The system's failure value (domain "QuillopShare", code 2) carrying `message`.
  static Error failure(std::string message);

  const std::string& id() const { return id_; }
  const std::vector<Entry>& entries() const { return entries_; }
  bool finished() const { return finished_; }
  std::string batchFolder() const { return directory_ + "/" + id_; }

 private:
  std::uint64_t copyRegularFile(const std::string& source, const std::string& target,
                                std::uint64_t expected, const Cancelled& cancelled,
                                CopyProgress* progress);

  std::string directory_;
  std::string id_;
  std::vector<Entry> entries_;
  bool finished_ = false;
  FileSystem& fs_;
  FileHandle lock_;  // the batch folder, locked; released after the folder is removed
};

}  // namespace quillop
