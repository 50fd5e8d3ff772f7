#include "fake_platform.h"

namespace quillop::testing {

void ManualQueue::async(Job job) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    jobs_.push_back(std::move(job));
  }
  added_.notify_all();
}

bool ManualQueue::runOne() {
  Job job;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (jobs_.empty()) return false;
    job = std::move(jobs_.front());
    jobs_.pop_front();
  }
  job();
  return true;
}

size_t ManualQueue::runAll() {
  size_t count = 0;
  while (runOne()) ++count;
  return count;
}

bool ManualQueue::runNext(std::chrono::milliseconds timeout) {
  {
    std::unique_lock<std::mutex> guard(lock_);
    if (!added_.wait_for(guard, timeout, [&] { return !jobs_.empty(); })) return false;
  }
  return runOne();
}

size_t ManualQueue::pending() const {
  std::lock_guard<std::mutex> guard(lock_);
  return jobs_.size();
}

void FakeLoader::add(ItemProvider::Completion completion, LoadedItem item,
                     std::optional<Error> error) {
  std::lock_guard<std::mutex> guard(lock_);
  pending_.push_back(Delivery{std::move(completion), std::move(item), std::move(error)});
  ++requested_;
}

size_t FakeLoader::requested() const {
  std::lock_guard<std::mutex> guard(lock_);
  return requested_;
}

std::optional<FakeLoader::Delivery> FakeLoader::take() {
  std::lock_guard<std::mutex> guard(lock_);
  if (pending_.empty()) return std::nullopt;
  Delivery delivery = std::move(pending_.front());
  pending_.pop_front();
  return delivery;
}

std::thread FakeLoader::deliverNextAsync() {
  std::optional<Delivery> delivery = take();
  if (!delivery) return {};
  // The completion is released on the delivering thread right after its call.
  return std::thread([delivery = std::move(*delivery)]() mutable {
    ItemProvider::Completion completion = std::move(delivery.completion);
    completion(std::move(delivery.item), std::move(delivery.error));
  });
}

bool FakeLoader::deliverNext() {
  std::thread thread = deliverNextAsync();
  if (!thread.joinable()) return false;
  thread.join();
  return true;
}

bool FakeScope::startAccessing(const Url& url) {
  std::lock_guard<std::mutex> guard(lock_);
  log_.push_back("start " + url.path());
  return grants;
}

void FakeScope::stopAccessing(const Url& url) {
  std::lock_guard<std::mutex> guard(lock_);
  log_.push_back("stop " + url.path());
}

std::vector<std::string> FakeScope::log() const {
  std::lock_guard<std::mutex> guard(lock_);
  return log_;
}

std::optional<std::string> FakeMediaTypes::preferredMediaType(const std::string& extension) {
  const auto found = types.find(extension);
  if (found == types.end()) return std::nullopt;
  return found->second;
}

FakeWorkspace::FakeWorkspace(bool answerAtOnce)
    : answering_(answerAtOnce ? std::make_unique<WorkerQueue>("workspace") : nullptr) {}

void FakeWorkspace::openApplication(const std::string& bundlePath,
                                    const OpenConfiguration& config, Completion completion) {
  std::lock_guard<std::mutex> guard(lock_);
  paths_.push_back(bundlePath);
  configs_.push_back(config);
  if (answering_) {
    answering_->async([completion = std::move(completion)] { completion(std::nullopt); });
  } else {
    unanswered_.push_back(std::move(completion));
  }
}

bool FakeWorkspace::answer(std::optional<Error> error) {
  Completion completion;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (unanswered_.empty()) return false;
    completion = std::move(unanswered_.front());
    unanswered_.pop_front();
  }
  std::thread([completion = std::move(completion), error = std::move(error)] {
    completion(error);
  }).join();
  return true;
}

std::vector<std::string> FakeWorkspace::openedPaths() const {
  std::lock_guard<std::mutex> guard(lock_);
  return paths_;
}

std::vector<OpenConfiguration> FakeWorkspace::configs() const {
  std::lock_guard<std::mutex> guard(lock_);
  return configs_;
}

SharePlatform FakePlatform::platform(FileSystem& fs) {
  // Forwards to the test's queue, so that the controller may own and destroy its queue.
  struct WorkHandle final : SerialQueue {
    explicit WorkHandle(std::shared_ptr<ManualQueue> target) : target(std::move(target)) {}
    void async(Job job) override { target->async(std::move(job)); }
    std::shared_ptr<ManualQueue> target;
  };
  SharePlatform platform;
  platform.mainQueue = main;
  platform.makeSerialQueue = [this](const std::string& label) -> std::unique_ptr<SerialQueue> {
    serialQueueLabels.push_back(label);
    return std::make_unique<WorkHandle>(work);
  };
  platform.mediaTypes = mediaTypes;
  platform.securityScope = scope;
  platform.clock = clock;
  platform.bundle = bundle;
  platform.workspace = workspace;
  platform.fileSystem = &fs;
  return platform;
}

}  // namespace quillop::testing
