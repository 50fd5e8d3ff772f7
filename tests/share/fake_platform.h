// A scriptable platform for driving a ShareViewController deterministically: queues the test
// drains itself, attachments delivered when the test releases them, and a grant, bundle and
// workspace that record what they were asked.
#pragma once

#include <atomic>
#include <deque>
#include <latch>
#include <mutex>
#include <thread>

#include "linux/worker_queue.h"
#include "share/services/extension_context.h"
#include "share/services/share_platform.h"

namespace quillop::testing {

// A queue that runs nothing by itself: the test runs its jobs on its own thread, which thereby
// plays the main thread (or the work queue), or on a thread apart. Copies (and assigned queues)
// share their jobs.
class ManualQueue final : public MainQueue, public SerialQueue {
 public:
  void async(Job job) override {
    std::lock_guard<std::mutex> guard(*lock_);
    jobs_->push_back(std::move(job));
  }
  // Runs the oldest job, which is destroyed before this returns; false when there was none.
  bool runOne(bool onAThreadApart = false) {
    std::unique_lock<std::mutex> guard(*lock_);
    if (jobs_->empty()) return false;
    Job job = std::move(jobs_->front());
    jobs_->pop_front();
    guard.unlock();
    onAThreadApart ? std::thread(std::move(job)).join() : job();
    return true;
  }
  // The guard holds the lock until the end of the full expression.
  bool pending() const { return std::lock_guard(*lock_), !jobs_->empty(); }

 private:
  std::shared_ptr<std::mutex> lock_ = std::make_shared<std::mutex>();
  std::shared_ptr<std::deque<Job>> jobs_ = std::make_shared<std::deque<Job>>();
};

// Holds back the threads that pass it (a read on the controller's work queue) until opened.
struct Gate {
  std::latch opened{1};
  std::atomic<bool> held{false};
  void pass() { held = true, opened.wait(); }
};

// An attachment (with a file URL) whose loads wait in `queue` until the test delivers them.
struct FakeItemProvider final : ItemProvider {
  FakeItemProvider(ManualQueue queue, LoadedItem item, std::optional<Error> error)
      : queue(queue), item(std::move(item)), error(error) {}
  bool hasFileUrl() const override { return true; }
  void loadFileUrl(Completion done) override {
    queue.async([=, this] { done(item, error); });
  }
  ManualQueue queue;
  const LoadedItem item;
  const std::optional<Error> error;
};

// Counts the grants asked for and given back.
struct FakeScope final : SecurityScope {
  bool startAccessing(const Url&) override { return ++starts, grants; }
  void stopAccessing(const Url&) override { ++stops; }
  bool grants = true;
  std::atomic<int> starts = 0, stops = 0;
};

// Knows one extension: the media type must come from here.
struct FakeMediaTypes final : MediaTypes {
  std::optional<std::string> preferredMediaType(const std::string& extension) override {
    return extension == "jpg" ? std::optional<std::string>("image/jpeg") : std::nullopt;
  }
};

struct FakeBundle final : Bundle {
  std::string mainBundlePath() override { return path; }
  std::string path = "/opt/Movarix.app/Contents/PlugIns/QuillopShare.appex";
};

// Records every opening (asked on the main thread) as its path, followed by " ?" unless it
// activates the running instance. Answers it with `error` on a thread of its own before
// returning.
struct FakeWorkspace final : Workspace {
  void openApplication(const std::string& app, const OpenConfiguration& config,
                       Completion completion) override {
    opened.push_back(app + (config.activates && !config.createsNewApplicationInstance ? "" : " ?"));
    std::thread([&] { completion(error); }).join();
  }
  std::optional<Error> error;
  std::vector<std::string> opened;
};

}  // namespace quillop::testing
