// The controller: its window, the start of a share, the order of one share end to end, and
// "Annulla" at every stage.
#include <gtest/gtest.h>

#include <future>

#include "share_harness.h"
#include "store/batch_check.h"
#include "support/expect_error.h"

namespace quillop::testing {
namespace {

const std::string kInitial = "Preparazione dei file per Movarix\u2026";
const std::string kCountError = "Seleziona da 1 a 100 file.";
const std::string kUserCancel = "cancelled: QuillopShare 2 Preparazione annullata.";

using State = SharePreparation::State;

TEST(ShareControllerTest, LoadViewBuildsTheWindowAndTheButtonCancels) {
  ShareHarness share;
  share.start(Attachments{});
  ASSERT_EQ(share.fakes.serialQueueLabels, std::vector<std::string>{"ex.quillop.mac.share"});
  const auto root = share.controller->view();
  EXPECT_EQ(root->frame(), (Rect{0, 0, 430, 130}));
  ASSERT_EQ(root->subviews().size(), 3u);
  const auto label = std::dynamic_pointer_cast<TextField>(root->subviews()[0]);
  const auto button = std::dynamic_pointer_cast<Button>(root->subviews()[1]);
  const auto bar = std::dynamic_pointer_cast<ProgressIndicator>(root->subviews()[2]);
  ASSERT_TRUE(label && button && bar);
  EXPECT_EQ(bar->frame(), (Rect{24, 25, 284, 20}));  // left of the button, clear of the label
  EXPECT_EQ(label->frame(), (Rect{24, 68, 382, 40}));
  EXPECT_EQ(label->maximumNumberOfLines(), 2);
  EXPECT_EQ(label->text(), kInitial);
  EXPECT_EQ(button->frame(), (Rect{320, 20, 86, 30}));
  EXPECT_EQ(button->title(), "Annulla");

  // Annulla before the view appeared: the preparation and the request are cancelled, and the
  // share never starts; the status line is left alone.
  button->press();
  EXPECT_EQ(requestState(*share.request), kUserCancel);
  EXPECT_EQ(share.controller->preparationState(), State::cancelled);
  share.controller->viewDidAppear();
  share.settle();
  EXPECT_EQ(share.fakes.work->pending() + share.fakes.loader->requested(), 0u);
  EXPECT_TRUE(share.statuses.empty());
  EXPECT_FALSE(exists(share.container()));
}

TEST(ShareControllerTest, SuccessfulShareRunsEachRowInOrderOnItsThread) {
  ShareHarness share;
  const std::string one = share.file("lettera.txt", "cara Giulia");
  const std::string two = share.file("perché.jpg", std::string(300000, 'x'));
  const std::string folder = share.temp / "sources/Progetti";
  share.file("Progetti/note.md", "# note");
  share.file("Progetti/.nascosto", "h");
  std::vector<std::thread::id> copyThreads;
  share.fs.onOpen([&](const std::string& path, int) {
    if (path.find("/sources/") != std::string::npos) copyThreads.push_back(std::this_thread::get_id());
  });
  share.start(Attachments{share.fileAttachment(one), share.fileAttachment(two),
                          share.fileAttachment(folder)});

  // Row 1: viewDidAppear only submits the preparation job.
  share.controller->viewDidAppear();
  EXPECT_EQ(share.controller->preparationState(), State::copying);
  EXPECT_EQ(share.fakes.work->pending(), 1u);
  EXPECT_FALSE(exists(share.inbox()));
  // Rows 2-3: the store is made and the first attachment is asked for, and only it.
  share.fakes.work->runAll();
  const std::string batch = share.onlyBatch();
  EXPECT_EQ(share.fakes.loader->requested(), 1u);
  for (size_t i = 1; i <= 3; ++i) {
    // Row 4: the copy runs on the delivering thread, which submits the progress and the next step.
    ASSERT_TRUE(share.fakes.loader->deliverNext());
    EXPECT_EQ(share.fakes.loader->requested(), i);
    EXPECT_EQ(share.fakes.main->pending(), 1u);
    EXPECT_EQ(share.fakes.work->pending(), 1u);
    // The bar is busy until the last item has told its size, then full by bytes.
    const ProgressIndicator::State bar = share.progress();
    EXPECT_EQ(bar.indeterminate, i < 3);
    EXPECT_EQ(bar.fraction, i < 3 ? 0.0 : 1.0);
    EXPECT_EQ(bar.totalBytes == 0, i < 3);
    EXPECT_EQ(bar.bytes, i == 1 ? 11u : i == 2 ? 300011u : bar.totalBytes);
    // Row 5: the progress line, on the main thread.
    EXPECT_EQ(share.statuses.size(), i - 1);
    share.fakes.main->runAll();
    EXPECT_EQ(share.statuses.back(), progressLine(i, 3));
    EXPECT_FALSE(exists(batch + "/context.json"));
    // Rows 6-7: the next load, or context and publication followed by the launch.
    share.fakes.work->runAll();
  }
  EXPECT_EQ(share.controller->preparationState(), State::published);
  EXPECT_TRUE(exists(batch + "/manifest.json"));
  EXPECT_TRUE(share.fakes.workspace->openedPaths().empty());
  // Row 8: launchHost on the main thread opens the host, activated and reused.
  share.fakes.main->runAll();
  ASSERT_EQ(share.fakes.workspace->openedPaths(), std::vector<std::string>{"/opt/Movarix.app"});
  EXPECT_TRUE(share.fakes.workspace->configs()[0].activates);
  EXPECT_FALSE(share.fakes.workspace->configs()[0].createsNewApplicationInstance);
  // Row 9: the opening's answer completes the request, on the main thread.
  share.fakes.workspace->answer();
  EXPECT_EQ(requestState(*share.request), "open");
  share.fakes.main->runAll();
  EXPECT_EQ(requestState(*share.request), "completed");
  EXPECT_FALSE(share.controller->busy());

  EXPECT_EQ(share.statuses.size(), 3u);
  for (const auto& id : share.statusThreads) EXPECT_EQ(id, std::this_thread::get_id());
  ASSERT_FALSE(copyThreads.empty());
  for (const auto& id : copyThreads) EXPECT_NE(id, std::this_thread::get_id());
  // The context file came before the manifest.
  const auto log = share.fs.log();
  auto renamed = [&](const std::string& name) {
    for (size_t i = 0; i < log.size(); ++i) {
      if (log[i].rfind("rename ", 0) == 0 && log[i].ends_with("/" + name)) return i;
    }
    return log.size();
  };
  EXPECT_LT(renamed("context.json"), renamed("manifest.json"));
  EXPECT_LT(renamed("manifest.json"), log.size());

  const CheckedBatch checked = checkBatch(batch);
  ASSERT_TRUE(checked.verified()) << checked.problem.value_or("");
  ASSERT_EQ(checked.files.size(), 3u);
  EXPECT_EQ(checked.files[0].entry.name, "lettera.txt");
  EXPECT_EQ(checked.files[0].entry.mime, "text/plain");
  EXPECT_EQ(checked.files[1].entry.name, "perché.jpg");
  EXPECT_EQ(checked.files[1].entry.size, 300000u);
  EXPECT_EQ(checked.files[1].entry.mime, "image/jpeg");
  EXPECT_EQ(checked.files[2].entry.name, "Progetti");
  EXPECT_EQ(checked.files[2].entry.mime, "application/x-quillop-directory");
  EXPECT_EQ(checked.files[2].members, 2u);
  EXPECT_EQ(checked.sources, (std::vector<std::string>{one, two, folder}));
  EXPECT_EQ(checked.ticket, "");
  EXPECT_EQ(share.fakes.scope->log(),
            (std::vector<std::string>{"start " + one, "stop " + one, "start " + two,
                                      "stop " + two, "start " + folder, "stop " + folder}));
}

TEST(ShareControllerTest, ASecondViewDidAppearStartsNothing) {
  ShareHarness share;
  share.start(Attachments{share.fileAttachment(share.file("a.txt"))});
  share.controller->viewDidAppear();
  share.controller->viewDidAppear();
  EXPECT_EQ(share.fakes.work->pending(), 1u);
  share.settle();
  EXPECT_EQ(requestState(*share.request), "completed");
  EXPECT_EQ(share.fakes.loader->requested(), 1u);
}

// Requests whose attachment count is not 1 to 100: refused on the main thread, nothing queued.
TEST(ShareControllerTest, AttachmentCountOutsideOneToHundredIsRefused) {
  struct Case {
    const char* what;
    std::vector<InputItem> items;
    bool context;
  };
  ShareHarness probe;  // only for making attachments
  Attachments hundredOne;
  for (int i = 0; i < 101; ++i) hundredOne.push_back(probe.fileAttachment("/tmp/x"));
  const std::vector<Case> cases{
      {"no extension context", {InputItem{true, {probe.fileAttachment("/tmp/x")}}}, false},
      {"no input items", {}, true},
      {"items without attachments", {InputItem{}, InputItem{}}, true},
      {"an item of another kind", {InputItem{true, {probe.fileAttachment("/tmp/x")}},
                                   InputItem{false, {probe.fileAttachment("/tmp/y")}}}, true},
      {"101 attachments", {InputItem{true, hundredOne}}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ShareHarness share;
    share.start(c.items, c.context);
    share.controller->viewDidAppear();
    // `fail` reports through the main queue even when called on it.
    EXPECT_TRUE(share.statuses.empty());
    EXPECT_EQ(share.fakes.work->pending(), 0u);
    share.settle();
    EXPECT_EQ(share.statuses, std::vector<std::string>{kCountError});
    EXPECT_EQ(requestState(*share.request), "open");
    EXPECT_EQ(share.controller->preparationState(), State::cancelled);
    EXPECT_EQ(share.fakes.loader->requested(), 0u);
    EXPECT_FALSE(exists(share.container()));
  }
}

TEST(ShareControllerTest, OneAndAHundredAttachmentsArePublished) {
  for (const int count : {1, 100}) {
    SCOPED_TRACE(count);
    ShareHarness share;
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) paths.push_back(share.file(numbered("f", i, ".txt")));
    share.share(paths);
    EXPECT_EQ(requestState(*share.request), "completed");
    ASSERT_EQ(share.statuses.size(), static_cast<size_t>(count));
    EXPECT_EQ(share.statuses.back(), progressLine(count, count));
    if (count == 100) {
      EXPECT_EQ(share.statuses[2], "Preparati 3 di 100 file\u2026");
    }
    const CheckedBatch checked = checkBatch(share.onlyBatch());
    EXPECT_TRUE(checked.verified()) << checked.problem.value_or("");
    EXPECT_EQ(checked.sources, paths);
  }
}

TEST(ShareControllerTest, AnnullaDuringTheSecondOfThreeCopiesRemovesTheBatch) {
  ShareHarness share;
  const std::string second = share.file("due.txt", std::string(600000, 'd'));  // 3 chunks
  share.fs.inject({Op::copyRange, "", EXDEV});  // chunks through read(), where the hook sits
  std::promise<void> reading, pressed;
  bool hooked = false;
  share.fs.onRead("due.txt", [&](const std::string&) {
    if (hooked) return;
    hooked = true;
    reading.set_value();
    pressed.get_future().wait();
  });
  share.start(Attachments{share.fileAttachment(share.file("uno.txt")), share.fileAttachment(second),
                          share.fileAttachment(share.file("tre.txt"))});
  share.controller->viewDidAppear();
  share.fakes.work->runAll();
  share.fakes.loader->deliverNext();
  share.fakes.main->runAll();
  share.fakes.work->runAll();
  const std::string batch = share.onlyBatch();

  std::thread copy = share.fakes.loader->deliverNextAsync();
  reading.get_future().wait();
  EXPECT_EQ(share.progress(), (ProgressIndicator::State{.indeterminate = true, .bytes = 4}));
  share.controller->cancelShare();  // on the main thread, while the copy runs
  EXPECT_EQ(requestState(*share.request), kUserCancel);
  pressed.set_value();
  copy.join();
  share.settle();

  EXPECT_EQ(share.statuses,
            (std::vector<std::string>{"Preparati 1 di 3 file\u2026", "Preparazione annullata."}));
  EXPECT_TRUE(share.progress().hidden);  // and stays so: no progress over a failure
  EXPECT_EQ(share.fakes.loader->requested(), 2u);
  EXPECT_FALSE(exists(batch));
  EXPECT_TRUE(share.batches().empty());
  EXPECT_EQ(share.controller->preparationState(), State::cancelled);
  EXPECT_TRUE(share.fakes.workspace->openedPaths().empty());
  EXPECT_FALSE(share.controller->busy());
}

TEST(ShareControllerTest, AnnullaAfterPublicationKeepsTheBatchAndStillLaunches) {
  ShareHarness share;
  share.start(Attachments{share.fileAttachment(share.file("a.txt"))});
  share.controller->viewDidAppear();
  share.fakes.work->runAll();
  share.fakes.loader->deliverNext();
  share.fakes.work->runAll();  // context, publication, launchHost queued behind the progress
  ASSERT_EQ(share.controller->preparationState(), State::published);

  share.controller->cancelShare();
  EXPECT_EQ(share.controller->preparationState(), State::published);
  EXPECT_EQ(requestState(*share.request), kUserCancel);
  share.settle();
  EXPECT_EQ(share.fakes.workspace->openedPaths().size(), 1u);
  EXPECT_EQ(requestState(*share.request), kUserCancel);  // the later completion is ignored
  EXPECT_TRUE(checkBatch(share.onlyBatch()).verified());
}

TEST(ShareControllerTest, JobsKeepTheControllerAliveAndReportIdleOnce) {
  ShareHarness share;
  share.start(Attachments{share.fileAttachment(share.file("a.txt")),
                          share.fileAttachment(share.file("b.txt"))});
  int idle = 0;
  share.controller->setIdleObserver([&] { ++idle; });
  std::weak_ptr<ShareViewController> weak = share.controller;
  share.controller->viewDidAppear();
  EXPECT_TRUE(share.controller->busy());
  share.controller.reset();  // the window is gone; the jobs still hold the controller
  EXPECT_FALSE(weak.expired());
  share.settle();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(idle, 1);
  EXPECT_EQ(requestState(*share.request), "completed");
  EXPECT_TRUE(checkBatch(share.onlyBatch()).verified());
}

}  // namespace
}  // namespace quillop::testing
