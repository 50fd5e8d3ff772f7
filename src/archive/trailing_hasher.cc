#include "archive/trailing_hasher.h"

#include <optional>

#include "archive/sha256.h"

namespace quillop {

TrailingHasher::TrailingHasher(const std::vector<DirectoryWriter::Member>& members, Sink sink)
    : members_(members), sink_(std::move(sink)) {
  for (Slot& slot : slots_) slot.bytes = std::make_unique<unsigned char[]>(kSlotBytes);
  thread_ = std::thread([this] { work(); });
}

TrailingHasher::~TrailingHasher() {
  {
    const MutexLock lock(mutex_);
    stopping_ = true;
  }
  changed_.notifyAll();
  thread_.join();
}

unsigned char* TrailingHasher::room() {
  Slot* slot = &slots_[filling_ % kSlots];
  if (slot->used + kChunkSize > kSlotBytes) {
    flush();
    slot = &slots_[filling_ % kSlots];
  }
  return slot->bytes.get() + slot->used;
}

void TrailingHasher::add(std::size_t count) {
  Slot& slot = slots_[filling_ % kSlots];
  slot.parts.push_back(Part{slot.used, count, 0, false});
  slot.used += count;
}

void TrailingHasher::endFile(std::size_t member) {
  slots_[filling_ % kSlots].parts.push_back(Part{0, 0, member, true});
}

void TrailingHasher::flush() {
  Slot& slot = slots_[filling_ % kSlots];
  if (slot.parts.empty()) return;
  std::exception_ptr sinkError;
  if (slot.used > 0) {
    try {
      sink_(slot.bytes.get(), slot.used);
    } catch (...) {
      sinkError = std::current_exception();
    }
  }
  {
    const MutexLock lock(mutex_);
    posted_ = ++filling_;
    changed_.notifyAll();
    while (posted_ - hashed_ >= kSlots) changed_.wait(mutex_);
  }
  // The hashing thread is done with this slot: it may be filled again.
  Slot& next = slots_[filling_ % kSlots];
  next.used = 0;
  next.parts.clear();
  if (sinkError) std::rethrow_exception(sinkError);
}

bool TrailingHasher::finish() {
  flush();
  const MutexLock lock(mutex_);
  while (hashed_ != posted_) changed_.wait(mutex_);
  if (error_) std::rethrow_exception(error_);
  return differed_;
}

void TrailingHasher::work() {
  std::optional<Sha256> hasher;
  std::exception_ptr error;  // once set, later slots are only counted
  const MutexLock lock(mutex_);
  for (;;) {
    while (!stopping_ && hashed_ == posted_) changed_.wait(mutex_);
    if (stopping_) return;
    const Slot& slot = slots_[hashed_ % kSlots];
    mutex_.unlock();
    bool differed = false;
    try {
      if (!error) {
        for (const Part& part : slot.parts) {
          if (!hasher) hasher.emplace();
          if (!part.end) {
            hasher->update(slot.bytes.get() + part.offset, part.count);
            continue;
          }
          differed = differed || hasher->hexDigest() != members_[part.member].sha256;
          hasher.reset();
        }
      }
    } catch (...) {
      error = std::current_exception();
    }
    mutex_.lock();
    error_ = error;
    differed_ = differed_ || differed;
    ++hashed_;
    changed_.notifyAll();
  }
}

}  // namespace quillop
