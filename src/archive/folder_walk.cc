#include "archive/folder_walk.h"

#include <sys/stat.h>

#include <deque>
#include <thread>

#include "archive/archive_format.h"
#include "archive/hash_queue.h"

namespace quillop {
namespace {

// Files queued for hashing ahead of the walk. Bounds the memory of the queue and how far the
// walk runs ahead of a file that turns out to fail.
constexpr std::size_t kMaxQueued = 64;

// Lists and checks entries on the calling thread while the HashQueue hashes files behind it.
// Hashes are taken back in walk order, and the folder total is checked as they arrive, so the
// first failure reported is the one of the earliest entry in walk order.
class Walker {
 public:
  Walker(const Cancelled& cancelled, FileSystem& fs)
      : cancelled_(cancelled), fs_(fs), hashes_(cancelled, fs, std::thread::hardware_concurrency()) {}

  // Walks `source` and waits for every hash. On a failure of the walk itself, the files queued
  // before the failing entry are still finished: one of them may fail first.
  WalkResult run(const std::string& source) {
    try {
      visit(source, "", "");
      settle(true);
    } catch (...) {
      if (!decided_) settle(true);
      throw;
    }
    return std::move(result_);
  }

 private:
  // `relative` is empty for the shared folder, else the member path ending in `name`.
  // Recursion depth is bounded by the path limit (at most 1,024 levels).
  void visit(const std::string& location, const std::string& relative, const std::string& name) {
    settle(hashes_.anyFailed());
    throwIfCancelled(cancelled_);
    const struct stat st = fs_.linkStatus(location);
    if (S_ISLNK(st.st_mode)) throw DirectoryWriter::failure("La cartella contiene collegamenti.");
    const bool folder = S_ISDIR(st.st_mode);
    if (!relative.empty()) {
      if (result_.members.size() >= kMaxMembers || relative.size() > kMaxPathBytes ||
          !isAcceptableName(name)) {
        throw DirectoryWriter::failure("Nome non supportato nella cartella.");
      }
      if (!folder) {
        // Pipes, sockets and devices are refused on their type alone: never opened, never read.
        if (!S_ISREG(st.st_mode)) throw DirectoryWriter::failure("File speciale non supportato.");
        if (hashes_.pending() >= kMaxQueued) take();
        hashes_.submit(location);
        queued_.push_back(result_.members.size());
      }
      // A folder adds 0 to the total; files add their size when their hash is taken.
      result_.members.push_back(DirectoryWriter::Member{relative, folder, 0, ""});
    }
    if (!folder) return;
    for (const std::string& child : fs_.list(location)) {
      visit(location + "/" + child, relative.empty() ? child : relative + "/" + child, child);
    }
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
      if (result_.total > kMaxBytes) throw DirectoryWriter::failure("Cartella oltre 50 GB.");
    } catch (...) {
      decided_ = true;  // every entry before this one has passed
      throw;
    }
  }

  const Cancelled& cancelled_;
  FileSystem& fs_;
  WalkResult result_;
  std::deque<std::size_t> queued_;  // members whose hash is still queued, in walk order
  bool decided_ = false;
  HashQueue hashes_;  // last: its workers stop and join before the rest goes away
};

}  // namespace

WalkResult walkFolder(const std::string& source, const Cancelled& cancelled, FileSystem& fs) {
  return Walker(cancelled, fs).run(source);
}

}  // namespace quillop
