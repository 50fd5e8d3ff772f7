// One share driven by the fake platform in a temporary App Group container: the test thread
// plays the main thread and the work queue, and releases the attachments' deliveries.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fake_platform.h"
#include "share/share_request.h"
#include "share/share_view_controller.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop::testing {

class ShareHarness {
 public:
  // Points XDG_DATA_HOME at a fresh folder for the lifetime of the harness.
  ShareHarness();
  ~ShareHarness();

  // A file below the harness's "sources" folder (parents made); returns its absolute path.
  std::string file(const std::string& relative, const std::string& contents = "dati");
  std::shared_ptr<ItemProvider> fileAttachment(const std::string& path);
  std::shared_ptr<ItemProvider> attachment(bool fileUrl, LoadedItem item,
                                           std::optional<Error> error = std::nullopt);

  // Makes the controller for a request with these input items (one item for `start(Attachments)`),
  // loads its view and records every status-line change.
  void start(std::vector<InputItem> items, bool withContext = true);
  void start(Attachments attachments);
  // `start` with one attachment per path, then `viewDidAppear` and `settle`.
  void share(const std::vector<std::string>& paths);

  // Runs queued jobs, deliveries and workspace answers (with `openingError`) until nothing moves.
  void settle(std::optional<Error> openingError = std::nullopt);

  // The progress bar as `updateProgress` leaves it now.
  ProgressIndicator::State progress();

  std::string container() const;
  std::string inbox() const;
  // The batch folders in the inbox, sorted.
  std::vector<std::string> batches() const;
  // The one batch folder's path; a test failure when there is not exactly one.
  std::string onlyBatch() const;

  TempDir temp;
  FaultFileSystem fs;
  FakePlatform fakes;
  std::shared_ptr<ShareRequest> request;
  std::shared_ptr<ShareViewController> controller;
  std::vector<std::string> statuses;  // every text set, in order (the initial one not included)
  std::vector<std::thread::id> statusThreads;

 private:
  std::optional<std::string> savedDataHome_;
};

// The progress line for item `done` of `total`. (Built by appending: GCC 12 warns wrongly,
// -Wrestrict, about "literal" + std::string temporaries in release builds.)
std::string progressLine(size_t done, size_t total);
// A numbered name: prefix, number, suffix.
std::string numbered(const std::string& prefix, size_t number, const std::string& suffix = "");

// Convenience: the request's end, as text ("open", "completed", "cancelled: <message>").
std::string requestState(const ShareRequest& request);

}  // namespace quillop::testing
