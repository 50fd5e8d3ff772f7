// How far the copying of one preparation has got, for a progress display: the bytes announced
// for the items begun so far, the bytes written into the batch, and whether a folder is being
// walked (its size not known yet).
//
// The copy loops write it, any thread may read it. Every counter is a relaxed atomic: a chunk
// costs one relaxed add and never a lock or a system call, and a reader sees each counter on its
// own (the bytes written may run ahead of the bytes announced by a moment; a display clamps).
//
//   idle -- walking() --> walking -- expect(n) --> copying -- advance(k)... -- expect(m) --> ...
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace quillop {

class CopyProgress {
 public:
  struct Snapshot {
    std::uint64_t written = 0;   // bytes written so far
    std::uint64_t expected = 0;  // bytes announced so far, over every item begun
    std::size_t items = 0;       // items whose size has been announced
    bool walking = false;        // a folder is being walked; its size is not known yet
  };

  // The walk of a shared folder begins.
  void walking() { walking_.store(true, std::memory_order_relaxed); }
  // The next item, about to be copied, brings `bytes`; ends a walk.
  void expect(std::uint64_t bytes) {
    expected_.fetch_add(bytes, std::memory_order_relaxed);
    items_.fetch_add(1, std::memory_order_relaxed);
    walking_.store(false, std::memory_order_relaxed);
  }
  // `bytes` more have been written.
  void advance(std::uint64_t bytes) { written_.fetch_add(bytes, std::memory_order_relaxed); }

  Snapshot snapshot() const {
    return Snapshot{
        written_.load(std::memory_order_relaxed), expected_.load(std::memory_order_relaxed),
        items_.load(std::memory_order_relaxed), walking_.load(std::memory_order_relaxed)};
  }

 private:
  std::atomic<std::uint64_t> written_{0};
  std::atomic<std::uint64_t> expected_{0};
  std::atomic<std::size_t> items_{0};
  std::atomic<bool> walking_{false};
};

}  // namespace quillop
