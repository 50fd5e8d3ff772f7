#include "archive/folder_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <deque>
#include <optional>
#include <thread>

#include "archive/archive_format.h"
#include "archive/folder_chain.h"
#include "archive/hash_queue.h"

namespace quillop {
namespace {

// Files queued for hashing ahead of the walk, each holding its open descriptor. Bounds the
// memory and descriptors of the queue and how far the walk runs ahead of a file that fails.
constexpr std::size_t kMaxQueued = 64;

Error nameFailure() { return DirectoryWriter::failure("Nome non supportato nella cartella."); }

// Lists and checks entries on the calling thread while the HashQueue hashes files behind it.
// Hashes are taken back in walk order, and the folder total is checked as they arrive, so the
// first failure reported is the one of the earliest entry in walk order.
class Walker {
 public:
  Walker(const Cancelled& cancelled, FileSystem& fs, std::uint64_t maxBytes)
      : cancelled_(cancelled),
        fs_(fs),
        maxBytes_(maxBytes),
        hashes_(cancelled, std::thread::hardware_concurrency()) {}

  // Walks `source` and waits for every hash. On a failure of the walk itself, the files queued
  // before the failing entry are still finished: one of them may fail first.
  WalkResult run(const std::string& source) {
    try {
      walkRoot(source);
      settle(true);
    } catch (...) {
      if (!decided_) settle(true);
      throw;
    }
    chain_.reset();
    return std::move(result_);
  }

 private:
  // The names listed in one folder and not yet visited: those from `next` on.
  struct Listing {
    std::vector<DirectoryEntry> names;
    std::size_t next = 0;
    bool cut = false;  // names were left out: the member limit falls before they are reached
  };

  void walkRoot(const std::string& source) {
    throwIfCancelled(cancelled_);
    // One look at the path: its type and, for a folder, the descriptor everything is read from.
    FileHandle probe = FileHandle::open(fs_, source, O_PATH | O_NOFOLLOW);
    const struct stat st = probe.status();
    if (S_ISLNK(st.st_mode)) throw DirectoryWriter::failure("La cartella contiene collegamenti.");
    if (!S_ISDIR(st.st_mode)) return;
    result_.root = probe.openAt(".", O_RDONLY | O_DIRECTORY);
    chain_.emplace(result_.root);
    visitFolder("");
  }

  // Lists the chain's current folder, whose member path is `relative`, and visits its entries.
  // Recursion depth is bounded by the path limit (at most 1,024 levels).
  void visitFolder(const std::string& relative) {
    Listing& listing = listings_.emplace_back();
    list(listing);
    while (listing.next < listing.names.size()) {
      const DirectoryEntry entry = listing.names[listing.next];
      --waiting_;
      visitEntry(relative, entry);
      ++listing.next;
    }
    // Names are left out only where the member limit fails before they are reached; a folder is
    // refused rather than ever packed short of them.
    if (listing.cut) throw nameFailure();
    listings_.pop_back();
  }

  // Takes the names of the current folder while the names waiting to be visited, with the
  // members found so far, stay within one more than the member limit. Past it the walk fails
  // before it gets to the last name waiting, so names waiting in shallower folders (visited
  // last) are dropped first, and then the listing stops.
  void list(Listing& listing) {
    std::vector<DirectoryEntry> batch;
    FileHandle& folder = chain_->current();
    while (folder.nextEntries(batch)) {
      for (DirectoryEntry& entry : batch) {
        if (result_.members.size() + waiting_ > kMaxMembers && !dropShallowest()) {
          listing.cut = true;
          return;
        }
        listing.names.push_back(std::move(entry));
        ++waiting_;
      }
    }
  }

  bool dropShallowest() {
    for (std::size_t i = 0; i + 1 < listings_.size(); ++i) {
      Listing& shallow = listings_[i];
      // The name at `next` is being visited; those after it wait.
      if (shallow.names.size() > shallow.next + 1) {
        shallow.names.pop_back();
        shallow.cut = true;
        --waiting_;
        return true;
      }
    }
    return false;
  }

  void visitEntry(const std::string& parent, const DirectoryEntry& entry) {
    settle(hashes_.anyFailed());
    throwIfCancelled(cancelled_);
    const std::string& name = entry.name;
    unsigned char type = entry.type;
    if (type == DT_UNKNOWN) type = IFTODT(chain_->current().statAt(name).st_mode);
    if (type == DT_LNK) throw DirectoryWriter::failure("La cartella contiene collegamenti.");
    const std::string relative = parent.empty() ? name : parent + "/" + name;
    if (result_.members.size() >= kMaxMembers || relative.size() > kMaxPathBytes ||
        !isAcceptableName(name)) {
      throw nameFailure();
    }
    if (type == DT_DIR) {
      // A folder adds 0 to the total.
      result_.members.push_back(DirectoryWriter::Member{relative, true, 0, ""});
      result_.identities.push_back(chain_->enter(name, std::nullopt));
      visitFolder(relative);
      chain_->leave();
      return;
    }
    // Pipes, sockets and devices are refused on their type alone: never opened, never read.
    if (type != DT_REG) throw DirectoryWriter::failure("File speciale non supportato.");
    OpenFile file = openMember(chain_->current(), name);
    const Identity identity = file.identity;
    if (hashes_.pending() >= kMaxQueued) take();
    hashes_.submit(std::move(file));
    queued_.push_back(result_.members.size());
    // Files add their size when their hash is taken.
    result_.members.push_back(DirectoryWriter::Member{relative, false, 0, ""});
    result_.identities.push_back(identity);
  }

  // Takes the finished hashes in walk order; with `all`, waits for every queued one.
  void settle(bool all) {
    while (hashes_.pending() > 0 && (all || hashes_.frontReady())) take();
  }

  // Takes the oldest queued hash into its member and checks the folder total.
  void take() {
    try {
      DirectoryWriter::StreamResult hashed = hashes_.next();
      DirectoryWriter::Member& member = result_.members[queued_.front()];
      queued_.pop_front();
      member.size = hashed.count;
      member.sha256 = std::move(hashed.sha256);
      // Each size is at most the limit (stream enforces it), so this sum cannot overflow.
      result_.total += member.size;
      if (result_.total > maxBytes_) throw DirectoryWriter::failure("Cartella oltre 50 GB.");
    } catch (...) {
      decided_ = true;  // every entry before this one has passed
      throw;
    }
  }

  const Cancelled& cancelled_;
  FileSystem& fs_;
  const std::uint64_t maxBytes_;
  WalkResult result_;
  std::optional<FolderChain> chain_;  // from result_.root down to the folder being listed
  std::deque<Listing> listings_;      // one per folder of the chain, the shared folder first
  std::size_t waiting_ = 0;           // names listed and not yet visited, in all listings
  std::deque<std::size_t> queued_;    // members whose hash is still queued, in walk order
  bool decided_ = false;
  HashQueue hashes_;  // last: its workers stop and join before the rest goes away
};

}  // namespace

WalkResult walkFolder(const std::string& source, const Cancelled& cancelled, FileSystem& fs,
                      std::uint64_t maxBytes) {
  return Walker(cancelled, fs, maxBytes).run(source);
}

}  // namespace quillop
