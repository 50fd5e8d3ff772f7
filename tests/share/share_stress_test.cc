// Shares on real threads (the controller's worker queue, a delivering thread, a workspace that
// answers at once) with "Annulla" pressed, or the window closed, while the work goes on. Each
// batch ends published and verifying or absent, status lines change only on the main thread,
// and no thread, descriptor or file is left behind.
#include <unistd.h>

#include <random>

#include "share/argument_attachments.h"
#include "share_harness.h"
#include "store/batch_check.h"

namespace quillop::testing {
namespace {

TEST(ShareStressTest, AnnullaWhileTheWorkGoesOnLeavesEachBatchPublishedOrAbsent) {
  ShareHarness share;  // a controller of its own for each share below
  share.workerThreads = true;
  makeFolder(share.temp / "Cartella");
  const std::vector<std::string> sources{
      share.file("piccolo.txt", "ciao"), share.file("medio.bin", std::string(300000, 'm')),
      share.file("Cartella/dati.bin", std::string(100000, 'd')), share.temp / "Cartella"};
  auto delivery = std::make_shared<WorkerQueue>("item-loading");
  std::thread([] {}).join();  // the sanitizer's helper thread, if any, starts before we count
  const size_t threads = listFolder("/proc/self/task").size();
  const size_t fds = listFolder("/proc/self/fd").size();
  std::mt19937 random(20240607);
  int published = 0, cancelled = 0;
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE(round);
    Attachments attachments;
    for (size_t i = random() % 4; i < 4; ++i) {
      attachments.push_back(argumentAttachment(sources[random() % 4], "/", delivery));
    }
    share.start(attachments);
    // "Annulla" once this many main-thread jobs have run (a progress line each, the launch, the
    // completion) while the work goes on; in a third of the shares the window closes then too.
    const size_t pressAt = random() % (attachments.size() + 3), closes = random() % 3 == 0;
    bool pressed = false, cancels = false;  // pressed at all; pressed before the request ended
    const std::weak_ptr<ShareViewController> weak = share.controller;
    for (size_t ran = 0;
         (share.controller ? share.controller->busy() : !weak.expired()) || share.main.pending();) {
      if (!pressed && ran == pressAt) {
        pressed = true;
        cancels = share.request->outcome() == ShareRequest::Outcome::open;
        share.controller->cancelShare();
        if (closes) share.controller.reset();  // its last job releases it, wherever that runs
      }
      ran += share.main.runOne();
      if (!share.main.pending()) std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    share.controller.reset();  // joins its work queue
    const std::string last = share.statuses.empty() ? "Preparati " : share.statuses.back();
    EXPECT_TRUE(last.starts_with("Preparati ") || last == "Preparazione annullata.") << last;
    EXPECT_EQ(requestState(*share.request), cancels ? kUserCancel : "completed");
    EXPECT_EQ(listFolder(share.container()), std::vector<std::string>{"quillop-share-inbox"});
    const std::vector<std::string> batches = share.batches();
    ++(batches.empty() ? cancelled : published);
    EXPECT_TRUE(pressed || !batches.empty());
    for (const std::string& batch : batches) {
      const CheckedBatch checked = checkBatch(share.inbox() + "/" + batch);
      EXPECT_TRUE(checked.verified()) << checked.problem.value_or("");
      EXPECT_EQ(checked.sources.size(), attachments.size());
      removeTree(FileSystem::posix(), share.inbox() + "/" + batch);  // the host takes it
    }
  }
  EXPECT_EQ(share.offMain, 0);
  EXPECT_TRUE(published > 30 && cancelled > 30) << published << " published, " << cancelled;
  // A queue released by its own job may still be going.
  for (int i = 0; i < 500 && listFolder("/proc/self/task").size() != threads; ++i) usleep(2000);
  EXPECT_EQ(listFolder("/proc/self/task").size(), threads);
  EXPECT_EQ(listFolder("/proc/self/fd").size(), fds);
}

}  // namespace
}  // namespace quillop::testing
