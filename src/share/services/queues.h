// The two kinds of queue the controller runs its jobs on.
#pragma once

#include <functional>

namespace quillop {

using Job = std::function<void()>;

// The main thread's queue: jobs run one at a time on the main thread, in submission order.
// `async` may be called from any thread and never blocks on the job.
class MainQueue {
 public:
  virtual ~MainQueue() = default;
  virtual void async(Job job) = 0;
};

// A private serial queue: jobs run one at a time, in submission order, never on the main
// thread. `async` may be called from any thread, including from a job of this queue.
// Destroying the queue lets the jobs already submitted run first.
class SerialQueue {
 public:
  virtual ~SerialQueue() = default;
  virtual void async(Job job) = 0;
};

}  // namespace quillop
