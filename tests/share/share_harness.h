// One share driven by the fake platform in a temporary App Group container: the test thread
// plays the main thread and the work queue, and releases the attachments' deliveries.
#pragma once

#include <gtest/gtest.h>

#include "fake_platform.h"
#include "linux/linux_services.h"
#include "share/share_request.h"
#include "share/share_view_controller.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop::testing {

class ShareHarness {
 public:
  // Points XDG_DATA_HOME at a fresh folder for the lifetime of the harness. Syncs are skipped:
  // durability is the store's to test, and shares here run by the hundred.
  ShareHarness() { temp.setEnv("XDG_DATA_HOME", temp / "data"), fs.skipSyncs = true; }

  // A file in the harness's temporary folder; returns its absolute path.
  std::string file(const std::string& name, const std::string& contents = "dati") {
    return writeFile(temp / name, contents), temp / name;
  }
  std::shared_ptr<ItemProvider> attachment(LoadedItem item, std::optional<Error> error = {}) {
    return std::make_shared<FakeItemProvider>(deliveries, std::move(item), error);
  }
  // Makes the controller for a request with these input items (one item for `start(Attachments)`),
  // loads its view, records each status-line change, end of the request and idle report, and shows
  // it. The clock is the system's; the work queue is a copy of `work`, or, with `workerThreads`, a
  // thread of its own.
  void start(std::vector<InputItem> items, bool withContext = true) {
    request = std::make_shared<ShareRequest>(std::move(items));
    request->setEndObserver([this] { ++ends; });
    auto makeQueue = [work = work, threads = workerThreads](auto& label) {
      return threads ? std::unique_ptr<SerialQueue>(std::make_unique<WorkerQueue>(label))
                     : std::make_unique<ManualQueue>(work);
    };
    controller = ShareViewController::create(
        {std::make_shared<ManualQueue>(main), makeQueue, std::make_shared<FakeMediaTypes>(), scope,
         std::make_shared<SystemClock>(), bundle, workspace, &fs});
    controller->setIdleObserver([this] { ++idleCalls; });
    if (withContext) controller->setExtensionContext(request);
    controller->loadView();
    findView<TextField>(controller->view())->setObserver([this](const std::string& text) {
      offMain += std::this_thread::get_id() != mainThread;
      statuses.push_back(text);
    });
    controller->viewDidAppear();
  }
  void start(Attachments attachments) { start({InputItem{true, std::move(attachments)}}); }
  // Starts a share of one attachment for each of `items` and settles it.
  void run(const std::vector<LoadedItem>& items) {
    Attachments attachments;
    for (const LoadedItem& item : items) attachments.push_back(attachment(item));
    start(attachments), settle();
  }
  // Runs queued jobs and deliveries, each delivery on a thread of its own, until nothing moves,
  // one at a time: a main-thread job if any, else a work job, else a delivery.
  void settle() {
    while (main.runOne() || work.runOne() || deliveries.runOne(true)) continue;
  }

  std::string container() const { return temp / "data/group-containers/K7QZ4MRX2P.ex.quillop.mac"; }
  std::string inbox() const { return container() + "/quillop-share-inbox"; }
  std::vector<std::string> batches() const { return listFolder(inbox()); }  // sorted

  TempDir temp;
  FaultFileSystem fs;
  ManualQueue main, work, deliveries;  // the controller's copies; the loads asked for
  std::shared_ptr<FakeScope> scope = std::make_shared<FakeScope>();
  std::shared_ptr<FakeBundle> bundle = std::make_shared<FakeBundle>();
  std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
  bool workerThreads = false;
  std::shared_ptr<ShareRequest> request;
  std::shared_ptr<ShareViewController> controller;
  std::vector<std::string> statuses;  // every text set, in order (the initial one not included)
  std::thread::id mainThread = std::this_thread::get_id();  // the harness's maker
  std::atomic<int> offMain = 0, ends = 0, idleCalls = 0;    // statuses set elsewhere; the two ends
};

const std::string kUserCancel = "QuillopShare 2 Preparazione annullata.";  // requestState's
const std::string kNoGroup =
    "Condivisione Mac non configurata: serve un profilo con App Group autorizzato.";

// The progress line for item `done` of `total`.
inline std::string progressLine(size_t done, size_t total) {
  return "Preparati " + std::to_string(done) + " di " + std::to_string(total) + " file\u2026";
}

// The request's end, as text: "open", "completed", or the cancelling error's domain, code and
// message.
inline std::string requestState(const ShareRequest& request) {
  const std::optional<Error> error = request.error();
  if (!error) return request.outcome() == ShareRequest::Outcome::open ? "open" : "completed";
  return error->domain() + " " + std::to_string(error->code()) + " " + error->message();
}

}  // namespace quillop::testing
