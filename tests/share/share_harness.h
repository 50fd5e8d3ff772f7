// One share driven by the fake platform in a temporary App Group container: the test thread
// plays the main thread and the work queue, and releases the attachments' deliveries.
#pragma once

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "share/share_request.h"
#include "share/share_view_controller.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop::testing {

class ShareHarness {
 public:
  // Points XDG_DATA_HOME at a fresh folder for the lifetime of the harness. Syncs are skipped:
  // durability is the store's to test, and shares here run by the hundred.
  ShareHarness() {
    temp.setEnv("XDG_DATA_HOME", temp / "data");
    fs.skipSyncs = true;
  }

  // A file below the harness's "sources" folder (parents made); returns its absolute path.
  std::string file(const std::string& relative, const std::string& contents = "dati") {
    const std::string path = temp / ("sources/" + relative);
    makeFolder(path.substr(0, path.find_last_of('/')));
    writeFile(path, contents);
    return path;
  }
  std::shared_ptr<ItemProvider> attachment(bool fileUrl, LoadedItem item,
                                           std::optional<Error> error = std::nullopt) {
    return std::make_shared<FakeItemProvider>(fakes.deliveries, fileUrl, std::move(item), error);
  }
  // Makes the controller for a request with these input items (one item for `start(Attachments)`),
  // loads its view and records each status-line change, end of the request and idle report.
  void start(std::vector<InputItem> items, bool withContext = true) {
    request = std::make_shared<ShareRequest>(std::move(items));
    request->setEndObserver([this] { ++ends; });
    controller = ShareViewController::create(fakes.platform(fs));
    controller->setIdleObserver([this] { ++idleCalls; });
    if (withContext) controller->setExtensionContext(request);
    controller->loadView();
    findView<TextField>(controller->view())->setObserver([this](const std::string& text) {
      offMain += std::this_thread::get_id() != mainThread;
      statuses.push_back(text);
    });
  }
  void start(Attachments attachments) { start({InputItem{true, std::move(attachments)}}); }
  // Runs queued jobs, deliveries and workspace answers (with `openingError`) until nothing moves.
  void settle(std::optional<Error> openingError = std::nullopt) {
    for (bool moved = true; moved;) {
      moved = fakes.main->runAll() > 0;
      moved = fakes.work->runAll() > 0 || moved;
      moved = deliverNext() || moved;
      moved = fakes.workspace->answer(openingError) || moved;
    }
  }

  // Delivers the oldest load asked for on a thread of its own, which also releases its
  // completion; false when none was pending.
  bool deliverNext() {
    if (!fakes.deliveries->pending()) return false;
    std::thread([this] { fakes.deliveries->runOne(); }).join();
    return true;
  }

  // The progress bar as `updateProgress` leaves it now.
  ProgressIndicator::State progress() {
    controller->updateProgress();
    return findView<ProgressIndicator>(controller->view())->state();
  }

  std::string container() const { return temp / "data/group-containers/K7QZ4MRX2P.ex.quillop.mac"; }
  std::string inbox() const { return container() + "/quillop-share-inbox"; }
  // The batch folders in the inbox, sorted.
  std::vector<std::string> batches() const { return listFolder(inbox()); }
  // The one batch folder's path; a test failure when there is not exactly one.
  std::string onlyBatch() const {
    EXPECT_EQ(batches().size(), 1u);
    return inbox() + "/" + (batches().empty() ? "<none>" : batches().front());
  }

  TempDir temp;
  FaultFileSystem fs;
  FakePlatform fakes;
  std::shared_ptr<ShareRequest> request;
  std::shared_ptr<ShareViewController> controller;
  std::vector<std::string> statuses;  // every text set, in order (the initial one not included)
  std::thread::id mainThread = std::this_thread::get_id();  // the harness's maker
  std::atomic<int> offMain = 0, ends = 0, idleCalls = 0;    // statuses set elsewhere; the two ends
};

// The progress line for item `done` of `total`.
inline std::string progressLine(size_t done, size_t total) {
  return "Preparati " + std::to_string(done) + " di " + std::to_string(total) + " file\u2026";
}

// The request's end, as text ("open", "completed", "cancelled: <domain> <code> <message>").
inline std::string requestState(const ShareRequest& request) {
  if (request.outcome() != ShareRequest::Outcome::cancelled) {
    return request.outcome() == ShareRequest::Outcome::open ? "open" : "completed";
  }
  const Error error = *request.error();
  return "cancelled: " + error.domain() + " " + std::to_string(error.code()) + " " +
         error.message();
}

}  // namespace quillop::testing
