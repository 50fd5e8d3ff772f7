// Hashes, on a thread of its own, the chunks that the copy pass has just read and written, so
// that hashing overlaps reading and writing. The copy pass reads each chunk into `room()`,
// hands it over with `add`, and marks the end of every file with `endFile`; the thread hashes
// the chunks in that order and compares each file's digest with the one the walk recorded for
// its member.
//
// Chunks travel in slots of kSlotBytes; small files share a slot, so the hand-over costs one
// wake-up per slot, not per file. Memory: kSlots slots (2 MiB), whatever is copied. The copy
// pass waits in `room()` while every slot is still being hashed.
//
// Each slot is given to `sink` (the archive's write) on the owner's thread as it is handed over,
// one write per slot instead of one per file. A slot whose sink failed is still hashed, so that
// `finish()` can tell of the files before the failure.
//
// One slot:  free -- room(), add(), endFile() --> filling -- full, flush() or finish() -->
//            given to the sink, handed over -- the thread hashes it --> free
//
// Every member function runs on the one thread that owns the hasher. The destructor stops the
// thread and joins it.
#pragma once

#include <array>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "archive/directory_writer.h"
#include "platform/mutex.h"

namespace quillop {

class TrailingHasher {
 public:
  static constexpr std::size_t kSlots = 4;
  static constexpr std::size_t kSlotBytes = 2 * kChunkSize;

  using Sink = std::function<void(const unsigned char* bytes, std::size_t count)>;

  // `members`: the index, whose digests the files are compared with; it must outlive the hasher.
  TrailingHasher(const std::vector<DirectoryWriter::Member>& members, Sink sink);
  ~TrailingHasher();
  TrailingHasher(const TrailingHasher&) = delete;
  TrailingHasher& operator=(const TrailingHasher&) = delete;

  // Room for kChunkSize bytes, to read the next chunk into.
  unsigned char* room();
  // The first `count` bytes at the last `room()` are the next bytes of the current file.
  void add(std::size_t count);
  // The current file ended: its digest is compared with that of `members[member]`.
  void endFile(std::size_t member);
  // Gives the slot being filled to the sink, hands it over and waits until the next one is free;
  // then rethrows the sink's error.
  void flush() EXCLUDES(mutex_);
  // Flushes (rethrowing the sink's error), then waits until everything handed over is hashed. True
  // when some ended file's digest differed from its member's. Rethrows an error of the hashing
  // itself.
  bool finish() EXCLUDES(mutex_);

 private:
  struct Part {
    std::size_t offset;
    std::size_t count;
    std::size_t member;  // with count 0 and end: the member whose file ends here
    bool end;
  };
  struct Slot {
    std::unique_ptr<unsigned char[]> bytes;
    std::size_t used = 0;
    std::vector<Part> parts;
  };

  void work() EXCLUDES(mutex_);

  const std::vector<DirectoryWriter::Member>& members_;
  const Sink sink_;
  // Slot n is slots_[n % kSlots]. A slot belongs to the owner from its hashing to its hand-over,
  // and to the thread from its hand-over to its hashing: the counters below say which.
  std::array<Slot, kSlots> slots_;
  std::size_t filling_ = 0;  // the owner's: the slot it fills, equal to posted_ between calls
  Mutex mutex_;
  CondVar changed_;
  // Slots handed over and slots hashed since the start.
  std::size_t posted_ GUARDED_BY(mutex_) = 0;
  std::size_t hashed_ GUARDED_BY(mutex_) = 0;
  bool differed_ GUARDED_BY(mutex_) = false;
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::exception_ptr error_ GUARDED_BY(mutex_);
  std::thread thread_;  // last: started once everything else exists
};

}  // namespace quillop
