// Locking that the compiler checks: a mutex, its scoped lock and a condition variable, with
// clang's thread-safety attributes. A member guarded by a Mutex says so (GUARDED_BY), a function
// that needs it held says so (REQUIRES) and one that takes it itself says that too (EXCLUDES);
// the clang build with -Wthread-safety -Werror (scripts/test.sh) refuses code that touches a
// guarded member without its mutex. With other compilers the attributes are empty. Any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define QUILLOP_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define QUILLOP_THREAD_ATTRIBUTE(x)
#endif
#define CAPABILITY(x) QUILLOP_THREAD_ATTRIBUTE(capability(x))
#define SCOPED_CAPABILITY QUILLOP_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(x) QUILLOP_THREAD_ATTRIBUTE(guarded_by(x))
#define REQUIRES(...) QUILLOP_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) QUILLOP_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) QUILLOP_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) QUILLOP_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))

namespace quillop {

class CAPABILITY("mutex") Mutex {
 public:
  void lock() ACQUIRE() { mutex_.lock(); }
  void unlock() RELEASE() { mutex_.unlock(); }

 private:
  friend class CondVar;
  std::mutex mutex_;
};

// Holds `mutex` from construction to destruction.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.lock(); }
  ~MutexLock() RELEASE() { mutex_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

// Waiting always names the mutex, which is held on entry and again on return (wake-ups may be
// spurious: wait in a loop on the condition).
class CondVar {
 public:
  void wait(Mutex& mutex) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
    condition_.wait(lock);
    lock.release();
  }
  // False once `deadline` has passed.
  bool waitUntil(Mutex& mutex, std::chrono::steady_clock::time_point deadline) REQUIRES(mutex) {
    std::unique_lock<std::mutex> lock(mutex.mutex_, std::adopt_lock);
    const bool notified = condition_.wait_until(lock, deadline) == std::cv_status::no_timeout;
    lock.release();
    return notified;
  }
  void notifyOne() { condition_.notify_one(); }
  void notifyAll() { condition_.notify_all(); }

 private:
  std::condition_variable condition_;
};

}  // namespace quillop
