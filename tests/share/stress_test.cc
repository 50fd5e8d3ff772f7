// Hundreds of shares on real threads (the worker queues, the delivering thread, an answering
// workspace), with "Annulla" pressed at random moments. Every share must end with its batch
// either published and verifying or absent, and nothing may leak: threads, descriptors, files.
#include <dirent.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iostream>
#include <random>
#include <thread>

#include "fake_platform.h"
#include "linux/linux_services.h"
#include "linux/worker_queue.h"
#include "share/argument_attachments.h"
#include "share/share_request.h"
#include "share/share_view_controller.h"
#include "store/batch_check.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

using Clock = std::chrono::steady_clock;

size_t entriesIn(const std::string& folder) { return listFolder(folder).size(); }

// Durability is not under test here; skipping fsync keeps hundreds of shares fast.
class NoSyncFileSystem final : public ForwardingFileSystem {
 public:
  int sync(int) override { return 0; }
};

// Opens nothing and answers success from a thread of its own.
class AnsweringWorkspace final : public Workspace {
 public:
  void openApplication(const std::string&, const OpenConfiguration&,
                       Completion completion) override {
    queue_.async([completion = std::move(completion)] { completion(std::nullopt); });
  }

 private:
  WorkerQueue queue_{"workspace"};
};

std::shared_ptr<Button> cancelButton(const ShareViewController& controller) {
  return std::dynamic_pointer_cast<Button>(controller.view()->subviews().at(1));
}

TEST(ShareStressTest, AnnullaAtRandomMomentsLeavesEachBatchPublishedOrAbsent) {
  TempDir root;
  setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
  const std::vector<std::string> sources{
      root / "piccolo.txt", root / "vuoto.txt", root / "medio.bin", root / "città.txt",
      root / "Cartella"};
  writeFile(sources[0], "ciao");
  writeFile(sources[1], "");
  writeFile(sources[2], std::string(700000, 'm'));
  writeFile(sources[3], std::string(5000, 'c'));
  makeFolder(root / "Cartella/vuota");
  writeFile(root / "Cartella/.nascosto", "n");
  writeFile(root / "Cartella/dati.bin", std::string(300000, 'd'));

  // A first thread makes the sanitizer's runtime start its own helper thread before we count.
  std::thread([] {}).join();
  const size_t threadsBefore = entriesIn("/proc/self/task");
  const size_t fdsBefore = entriesIn("/proc/self/fd");
  NoSyncFileSystem fs;
  std::mt19937 random(20240607);
  int published = 0, cancelled = 0, pressedDuringWork = 0, stoppedInsideImport = 0;
  std::atomic<int> offMainStatus{0};
  double typicalSeconds = 0.002;
  {
    auto delivery = std::make_shared<WorkerQueue>("item-loading");
    auto main = std::make_shared<ManualQueue>();
    SharePlatform platform;
    platform.mainQueue = main;
    platform.makeSerialQueue = [](const std::string& label) {
      return std::make_unique<WorkerQueue>(label);
    };
    platform.mediaTypes = std::make_shared<FakeMediaTypes>();
    platform.securityScope = std::make_shared<GrantingSecurityScope>();
    platform.clock = std::make_shared<SystemClock>();
    platform.bundle = std::make_shared<FakeBundle>();
    platform.workspace = std::make_shared<AnsweringWorkspace>();
    platform.fileSystem = &fs;
    const std::string inbox = root / "data/group-containers/K7QZ4MRX2P.ex.quillop.mac/quillop-share-inbox";
    const auto mainThread = std::this_thread::get_id();

    for (int round = 0; round < 300; ++round) {
      SCOPED_TRACE(round);
      Attachments attachments;
      const size_t count = 1 + random() % 5;
      for (size_t i = 0; i < count; ++i) {
        attachments.push_back(argumentAttachment(sources[random() % sources.size()], "/", delivery));
      }
      auto request = std::make_shared<ShareRequest>(std::vector<InputItem>{{true, attachments}});
      auto controller = ShareViewController::create(platform);
      controller->setExtensionContext(request);
      controller->loadView();
      std::string lastStatus;
      std::dynamic_pointer_cast<TextField>(controller->view()->subviews().at(0))
          ->setObserver([&](const std::string& text) {
            if (std::this_thread::get_id() != mainThread) ++offMainStatus;
            lastStatus = text;
          });
      // A quarter of the shares run untouched; the others are cancelled somewhere in their run.
      const bool press = random() % 4 != 0;
      const auto started = Clock::now();
      const auto pressAt = started + std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(typicalSeconds * (random() % 1000) / 700.0));
      bool pressed = false;
      controller->viewDidAppear();
      for (;;) {
        main->runNext(std::chrono::milliseconds(1));
        if (press && !pressed && Clock::now() >= pressAt) {
          pressed = true;
          pressedDuringWork += controller->busy();
          cancelButton(*controller)->press();
        }
        if (!controller->busy() && main->pending() == 0) break;
        ASSERT_LT(Clock::now() - started, std::chrono::seconds(20)) << "share does not end";
      }
      if (!press) {
        typicalSeconds = 0.8 * typicalSeconds +
                         0.2 * std::chrono::duration<double>(Clock::now() - started).count();
      }
      // No failure other than the cancellation itself may reach the status line.
      EXPECT_TRUE(lastStatus.empty() || lastStatus.starts_with("Preparati ") ||
                  lastStatus == "Preparazione annullata.")
          << lastStatus;
      const auto state = controller->preparationState();
      controller.reset();  // joins its work queue
      const std::vector<std::string> batches = listFolder(inbox);
      if (state == SharePreparation::State::published) {
        ++published;
        ASSERT_EQ(batches.size(), 1u);
        const CheckedBatch batch = checkBatch(inbox + "/" + batches[0]);
        ASSERT_TRUE(batch.verified()) << batch.problem.value_or("");
        EXPECT_EQ(batch.sources.size(), count);
        EXPECT_NE(request->outcome(), ShareRequest::Outcome::open);
        removeTree(FileSystem::posix(), inbox + "/" + batches[0]);  // the host takes it
      } else {
        ++cancelled;
        stoppedInsideImport += lastStatus == "Preparazione annullata.";
        ASSERT_EQ(state, SharePreparation::State::cancelled);
        EXPECT_TRUE(batches.empty());
        EXPECT_TRUE(pressed);
        EXPECT_EQ(request->outcome(), ShareRequest::Outcome::cancelled);
      }
    }
  }  // the delivering thread and the workspace's thread end here

  std::cout << "shares: " << published << " published, " << cancelled << " cancelled; "
            << pressedDuringWork << " pressed while work was pending, " << stoppedInsideImport
            << " stopped inside a copy or publication\n";
  EXPECT_EQ(offMainStatus.load(), 0);
  EXPECT_GT(published, 30);
  EXPECT_GT(cancelled, 30);
  EXPECT_GT(pressedDuringWork, 30);
  EXPECT_EQ(entriesIn("/proc/self/task"), threadsBefore);
  EXPECT_EQ(entriesIn("/proc/self/fd"), fdsBefore);
  // Nothing but the empty inbox is left in the container: no batch, no temporary file.
  const std::string container = root / "data/group-containers/K7QZ4MRX2P.ex.quillop.mac";
  EXPECT_EQ(listFolder(container), std::vector<std::string>{"quillop-share-inbox"});
  EXPECT_TRUE(listFolder(container + "/quillop-share-inbox").empty());
  unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace quillop::testing
