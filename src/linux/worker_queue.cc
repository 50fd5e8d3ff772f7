#include "linux/worker_queue.h"

#include <pthread.h>

#include <deque>

#include "platform/mutex.h"

namespace quillop {

struct WorkerQueue::State {
  Mutex lock;
  CondVar wake;
  std::deque<Job> jobs GUARDED_BY(lock);
  bool stopping GUARDED_BY(lock) = false;
};

WorkerQueue::WorkerQueue(std::string label) : state_(std::make_shared<State>()) {
  thread_ = std::thread([state = state_] {
    for (;;) {
      Job job;
      {
        const MutexLock guard(state->lock);
        while (!state->stopping && state->jobs.empty()) state->wake.wait(state->lock);
        if (state->jobs.empty()) return;  // stopping, and nothing left
        job = std::move(state->jobs.front());
        state->jobs.pop_front();
      }
      job();
    }  // the job is destroyed here, before the next one is taken
  });
  pthread_setname_np(thread_.native_handle(), label.substr(0, 15).c_str());
}

WorkerQueue::~WorkerQueue() {
  {
    const MutexLock guard(state_->lock);
    state_->stopping = true;
  }
  state_->wake.notifyOne();
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // the running job is ours: the thread ends once it has returned
  } else {
    thread_.join();
  }
}

void WorkerQueue::async(Job job) {
  {
    const MutexLock guard(state_->lock);
    state_->jobs.push_back(std::move(job));
  }
  state_->wake.notifyOne();
}

}  // namespace quillop
