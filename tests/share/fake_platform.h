// A scriptable platform for driving a ShareViewController deterministically: queues the test
// drains itself, attachments whose deliveries the test releases one by one (each on a thread of
// its own, never the test's), and fakes for the grant, media types, clock, bundle and
// workspace that record what they were asked.
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "linux/worker_queue.h"
#include "share/platform/extension_context.h"
#include "share/platform/share_platform.h"

namespace quillop::testing {

// A queue that runs nothing by itself: the test runs its jobs on its own thread, which thereby
// plays the main thread (or the work queue). Copies share their jobs. `async` is thread-safe.
class ManualQueue final : public MainQueue, public SerialQueue {
 public:
  void async(Job job) override {
    std::lock_guard<std::mutex> guard(jobs_->lock);
    jobs_->list.push_back(std::move(job));
  }
  // Runs the oldest job, which is destroyed before this returns; false when there was none.
  bool runOne() {
    std::unique_lock<std::mutex> guard(jobs_->lock);
    if (jobs_->list.empty()) return false;
    Job job = std::move(jobs_->list.front());
    jobs_->list.pop_front();
    guard.unlock();
    job();
    return true;
  }
  // Runs jobs until none is left (jobs they submit included); returns how many ran.
  size_t runAll() {
    size_t count = 0;
    while (runOne()) ++count;
    return count;
  }
  size_t pending() const {
    std::lock_guard<std::mutex> guard(jobs_->lock);
    return jobs_->list.size();
  }

 private:
  struct Jobs {
    std::mutex lock;
    std::deque<Job> list;
  };
  std::shared_ptr<Jobs> jobs_ = std::make_shared<Jobs>();
};

// An attachment whose loads wait in `deliveries` until the test delivers them.
struct FakeItemProvider final : ItemProvider {
  FakeItemProvider(std::shared_ptr<ManualQueue> deliveries, bool fileUrl, LoadedItem item,
                   std::optional<Error> error = std::nullopt)
      : deliveries(std::move(deliveries)), fileUrl(fileUrl), item(std::move(item)), error(error) {}
  bool hasFileUrl() const override { return fileUrl; }
  void loadFileUrl(Completion done) override {
    deliveries->async([=, this] { done(item, error); });
  }
  const std::shared_ptr<ManualQueue> deliveries;
  const bool fileUrl;
  const LoadedItem item;
  const std::optional<Error> error;
};

// Counts the grants asked for and given back.
class FakeScope final : public SecurityScope {
 public:
  bool grants = true;
  std::atomic<int> starts = 0, stops = 0;
  bool startAccessing(const Url&) override { return ++starts, grants; }
  void stopAccessing(const Url&) override { ++stops; }
};

class FakeMediaTypes final : public MediaTypes {
 public:
  std::map<std::string, std::string> types{{"txt", "text/plain"}, {"jpg", "image/jpeg"}};
  std::optional<std::string> preferredMediaType(const std::string& extension) override {
    return types.contains(extension) ? std::optional(types.at(extension)) : std::nullopt;
  }
};

class FakeClock final : public Clock {
 public:
  double time = 1'700'000'000.0;
  double now() override { return time; }
};

class FakeBundle final : public Bundle {
 public:
  std::string path = "/opt/Movarix.app/Contents/PlugIns/QuillopShare.appex";
  std::string mainBundlePath() override { return path; }
};

// Records every opening (asked on the main thread); the test answers each one, on a thread of
// its own, with `answer`, or, when made with `answerAtOnce`, every opening is answered with
// success on a worker thread.
class FakeWorkspace final : public Workspace {
 public:
  explicit FakeWorkspace(bool answerAtOnce = false)
      : answering_(answerAtOnce ? std::make_unique<WorkerQueue>("workspace") : nullptr) {}
  void openApplication(const std::string& bundlePath, const OpenConfiguration& config,
                       Completion completion) override {
    paths_.push_back(bundlePath);
    configs_.push_back(config);
    if (answering_) return answering_->async([completion] { completion(std::nullopt); });
    unanswered_.async([this, completion] { completion(error_); });
  }
  // Answers the oldest unanswered opening; false when none.
  bool answer(std::optional<Error> error = std::nullopt) {
    error_ = std::move(error);
    return unanswered_.pending() && (std::thread([this] { unanswered_.runOne(); }).join(), true);
  }
  std::vector<std::string> openedPaths() const { return paths_; }
  std::vector<OpenConfiguration> configs() const { return configs_; }

 private:
  std::vector<std::string> paths_;
  std::vector<OpenConfiguration> configs_;
  std::optional<Error> error_;
  ManualQueue unanswered_;
  std::unique_ptr<WorkerQueue> answering_;
};

// Every fake in one place, and the SharePlatform made of them.
struct FakePlatform {
  std::shared_ptr<ManualQueue> main = std::make_shared<ManualQueue>();
  std::shared_ptr<ManualQueue> work = std::make_shared<ManualQueue>();
  std::shared_ptr<ManualQueue> deliveries = std::make_shared<ManualQueue>();  // loads asked for
  std::shared_ptr<FakeScope> scope = std::make_shared<FakeScope>();
  std::shared_ptr<FakeMediaTypes> mediaTypes = std::make_shared<FakeMediaTypes>();
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  std::shared_ptr<FakeBundle> bundle = std::make_shared<FakeBundle>();
  std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();

  bool workerThreads = false;  // the controller's work queue: a thread of its own

  // Else the controller's work queue is a copy of `work`, so that the controller may destroy it.
  SharePlatform platform(FileSystem& fs) {
    auto makeQueue = [work = work, threads = workerThreads](auto& label) {
      return threads ? std::unique_ptr<SerialQueue>(std::make_unique<WorkerQueue>(label))
                     : std::make_unique<ManualQueue>(*work);
    };
    return SharePlatform{main, makeQueue, mediaTypes, scope, clock, bundle, workspace, &fs};
  }
};

}  // namespace quillop::testing
