#include "linux/worker_queue.h"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <mutex>

namespace quillop {

struct WorkerQueue::State {
  std::mutex lock;
  std::condition_variable wake;
  std::deque<Job> jobs;
  bool stopping = false;
};

WorkerQueue::WorkerQueue(std::string label)
    : label_(std::move(label)), state_(std::make_shared<State>()) {
  thread_ = std::thread([state = state_] {
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> guard(state->lock);
        state->wake.wait(guard, [&] { return state->stopping || !state->jobs.empty(); });
        if (state->jobs.empty()) return;  // stopping, and nothing left
        job = std::move(state->jobs.front());
        state->jobs.pop_front();
      }
      job();
    }  // the job is destroyed here, before the next one is taken
  });
  pthread_setname_np(thread_.native_handle(), label_.substr(0, 15).c_str());
}

WorkerQueue::~WorkerQueue() {
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->stopping = true;
  }
  state_->wake.notify_one();
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();  // the running job is ours: the thread ends once it has returned
  } else {
    thread_.join();
  }
}

void WorkerQueue::async(Job job) {
  {
    std::lock_guard<std::mutex> guard(state_->lock);
    state_->jobs.push_back(std::move(job));
  }
  state_->wake.notify_one();
}

}  // namespace quillop
