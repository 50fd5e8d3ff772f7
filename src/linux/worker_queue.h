// A serial queue on one thread of its own: jobs run one at a time, in submission order, and
// each job is destroyed right after it has run, before the next one starts.
//
// Destruction lets the jobs already submitted run, then ends the thread: it waits for it when
// called from another thread, and leaves it to finish by itself when a job of this very queue
// releases the last owner. Jobs must not throw (an escaping exception terminates the process).
// `async` is thread-safe.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "share/services/queues.h"

namespace quillop {

class WorkerQueue final : public SerialQueue {
 public:
  // `label` names the thread (its first 15 bytes, the system's limit).
  explicit WorkerQueue(std::string label);
  ~WorkerQueue() override;
  WorkerQueue(const WorkerQueue&) = delete;
  WorkerQueue& operator=(const WorkerQueue&) = delete;

  void async(Job job) override;

 private:
  struct State;
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace quillop
