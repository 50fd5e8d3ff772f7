// A scriptable platform for driving a ShareViewController deterministically: queues the test
// drains itself, attachments whose deliveries the test releases one by one (each on a thread of
// its own, never the test's), and fakes for the grant, media types, clock, bundle and
// workspace that record what they were asked.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "linux/worker_queue.h"
#include "share/platform/extension_context.h"
#include "share/platform/share_platform.h"

namespace quillop::testing {

// A queue that runs nothing by itself: the test runs its jobs on its own thread, which thereby
// plays the main thread (or the work queue). `async` is thread-safe.
class ManualQueue final : public MainQueue, public SerialQueue {
 public:
  void async(Job job) override;
  // Runs the oldest job; false when there was none.
  bool runOne();
  // Runs jobs until none is left (jobs they submit included); returns how many ran.
  size_t runAll();
  // Waits up to `timeout` for a job and runs it; false when none came.
  bool runNext(std::chrono::milliseconds timeout);
  size_t pending() const;

 private:
  mutable std::mutex lock_;
  std::condition_variable added_;
  std::deque<Job> jobs_;
};

// The deliveries the fake attachments were asked for, in order.
class FakeLoader {
 public:
  void add(ItemProvider::Completion completion, LoadedItem item, std::optional<Error> error);
  // Delivers the oldest pending load on a new thread and waits for it; false when none.
  bool deliverNext();
  // Starts delivering the oldest pending load on a new thread and returns that thread.
  std::thread deliverNextAsync();
  // How many loads were asked for so far.
  size_t requested() const;

 private:
  struct Delivery {
    ItemProvider::Completion completion;
    LoadedItem item;
    std::optional<Error> error;
  };
  std::optional<Delivery> take();

  mutable std::mutex lock_;
  std::deque<Delivery> pending_;
  size_t requested_ = 0;
};

class FakeItemProvider final : public ItemProvider {
 public:
  FakeItemProvider(std::shared_ptr<FakeLoader> loader, bool fileUrl, LoadedItem item,
                   std::optional<Error> error = std::nullopt)
      : loader_(std::move(loader)), fileUrl_(fileUrl), item_(std::move(item)),
        error_(std::move(error)) {}
  bool hasFileUrl() const override { return fileUrl_; }
  void loadFileUrl(Completion completion) override {
    loader_->add(std::move(completion), item_, error_);
  }

 private:
  std::shared_ptr<FakeLoader> loader_;
  bool fileUrl_;
  LoadedItem item_;
  std::optional<Error> error_;
};

class FakeScope final : public SecurityScope {
 public:
  bool grants = true;
  bool startAccessing(const Url& url) override;
  void stopAccessing(const Url& url) override;
  std::vector<std::string> log() const;  // "start <path>", "stop <path>"

 private:
  mutable std::mutex lock_;
  std::vector<std::string> log_;
};

class FakeMediaTypes final : public MediaTypes {
 public:
  std::map<std::string, std::string> types{{"txt", "text/plain"}, {"jpg", "image/jpeg"}};
  std::optional<std::string> preferredMediaType(const std::string& extension) override;
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

// Records every opening; the test answers each one, on a thread of its own, with `answer`,
// or, when made with `answerAtOnce`, every opening is answered with success on a worker thread.
class FakeWorkspace final : public Workspace {
 public:
  explicit FakeWorkspace(bool answerAtOnce = false);
  struct Opening {
    std::string bundlePath;
    OpenConfiguration config;
    Completion completion;
  };
  void openApplication(const std::string& bundlePath, const OpenConfiguration& config,
                       Completion completion) override;
  // Answers the oldest unanswered opening; false when none.
  bool answer(std::optional<Error> error = std::nullopt);
  std::vector<std::string> openedPaths() const;
  std::vector<OpenConfiguration> configs() const;

 private:
  mutable std::mutex lock_;
  std::vector<std::string> paths_;
  std::vector<OpenConfiguration> configs_;
  std::deque<Completion> unanswered_;
  std::unique_ptr<WorkerQueue> answering_;
};

// Every fake in one place, and the SharePlatform made of them.
struct FakePlatform {
  std::shared_ptr<ManualQueue> main = std::make_shared<ManualQueue>();
  std::shared_ptr<ManualQueue> work = std::make_shared<ManualQueue>();
  std::shared_ptr<FakeLoader> loader = std::make_shared<FakeLoader>();
  std::shared_ptr<FakeScope> scope = std::make_shared<FakeScope>();
  std::shared_ptr<FakeMediaTypes> mediaTypes = std::make_shared<FakeMediaTypes>();
  std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
  std::shared_ptr<FakeBundle> bundle = std::make_shared<FakeBundle>();
  std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
  std::vector<std::string> serialQueueLabels;  // every serial queue made, by label

  // The work queue handed out forwards to `work`.
  SharePlatform platform(FileSystem& fs);
};

}  // namespace quillop::testing
