// The controller of one share request: it builds the small window, starts the share once its
// view is on screen, runs the intake of the attachments on its private serial queue, shows
// progress and failures in the status line, the bytes copied in a progress bar, cancels the
// request on "Annulla" and, once the batch is published, opens the host application and
// completes the request.
//
// Threads: `loadView`, `viewDidAppear`, `cancelShare`, `setExtensionContext`,
// `updateProgress` and every change of the view run on the main thread; the preparation job and the
// `load` steps run on the serial queue "ex.quillop.mac.share"; each import runs on the thread on
// which its attachment delivers. `busy` and `setIdleObserver` may be called from any thread.
//
// Ownership: made by `create` and held by `std::shared_ptr`. Every job the controller submits
// (queue jobs, load completions, the workspace's completion) holds it, so it lives until the
// last of them has run. Failures never escape: they end in `fail`, which cancels the
// preparation and shows the error's message; the request then stays open until "Annulla".
//
// The jobs of one share, on the serial queue unless said otherwise:
//
//   viewDidAppear (main) --> prepare --> load 0 --> loaded 0 --> ... --> load n (context,
//   publish) --> launchHost (main) --> workspace opens the host --> completeRequest (main)
//   any step fails --> fail: preparation cancelled, message shown, request open until "Annulla"
//   "Annulla" (main) --> preparation cancelled, request cancelled; pending steps stop at once
//   last job gone --> idle observer; an unpublished batch folder is gone by then
//
// The code is in three files: this class's own (share_view_controller.cc: view, jobs, failures),
// intake.cc (attachments, preparation, load steps) and host_launch.cc (opening the host).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/copy_progress.h"
#include "platform/error.h"
#include "platform/limits.h"
#include "platform/mutex.h"
#include "share/services/extension_context.h"
#include "share/services/share_platform.h"
#include "share/share_preparation.h"
#include "share/view_tree.h"

namespace quillop {

class ShareStore;

class ShareViewController : public std::enable_shared_from_this<ShareViewController> {
 public:
  static constexpr const char* workQueueLabel = "ex.quillop.mac.share";
  static constexpr std::size_t maxAttachments = kMaxItems;

  static std::shared_ptr<ShareViewController> create(SharePlatform platform);
  ShareViewController(const ShareViewController&) = delete;
  ShareViewController& operator=(const ShareViewController&) = delete;
  ~ShareViewController();

  // The request; none until the host sets one.
  void setExtensionContext(std::shared_ptr<ExtensionContext> context);

  // Builds the view tree: root 0,0,430,130; status line 24,68,382,40 (2 lines); button
  // "Annulla" 320,20,86,30 whose action is `cancelShare`; progress bar 24,25,284,20, in the
  // free space left of the button.
  void loadView();
  // The root view; null before `loadView`.
  std::shared_ptr<View> view() const { return view_; }

  // Starts the share, once: begins the preparation, checks that 1 to 100 attachments came and
  // submits the preparation job. Later calls do nothing.
  void viewDidAppear();
  // "Annulla": cancels the preparation and the request with "Preparazione annullata.".
  void cancelShare();

  SharePreparation::State preparationState() const { return preparation_->state(); }

  // For a front end that must end while the share's work may be stuck (a read on a stalled
  // mount never returns): cancels the preparation, waits up to `grace` for the intake to let go
  // of its batch, then removes the batch folder, unless it was published, from the calling
  // thread. The stuck work is left to the end of the process. Any thread.
  void abandon(std::chrono::milliseconds grace = std::chrono::milliseconds(0)) EXCLUDES(jobsLock_);

  // Shows in the progress bar how far the copying has got: determinate by bytes over the whole
  // selection once the size of every item is known (a single item: from the start of its
  // copy), indeterminate before that and while a folder is walked; hidden, and no longer
  // changed, once a failure is in the status line. The copy loops only count (CopyProgress);
  // the front end calls this a few times a second while the share runs.
  void updateProgress();

  // True while a job of this controller is pending or running anywhere.
  bool busy() const EXCLUDES(jobsLock_);
  // Called, on the thread that released it, each time the last pending job has gone. The
  // observer must not call back into the controller synchronously.
  void setIdleObserver(std::function<void()> observer) EXCLUDES(jobsLock_);

 private:
  using AttachmentList = std::shared_ptr<const Attachments>;
  using Self = std::shared_ptr<ShareViewController>;
  struct Jobs;

  explicit ShareViewController(SharePlatform platform);

  // A reference for a job: keeps the controller alive and counts as pending work.
  Self retain() EXCLUDES(jobsLock_);
  void fail(const Error& error);
  // On the main thread: `message` in the status line, and the progress bar hidden for good.
  void showFailure(const std::string& message);
  // Calls `fail` with whatever the current exception is.
  void failWithCurrentException();
  void launchHost();
  // Records that the intake's batch folder is `folder` (empty: none, or none any longer).
  void setBatchFolder(std::string folder) EXCLUDES(jobsLock_);

  // The intake (intake.cc).
  AttachmentList attachmentList() const;
  void prepare(const AttachmentList& attachments);
  void load(const AttachmentList& attachments, size_t index, std::shared_ptr<ShareStore> store,
            const std::string& ticket);
  void loaded(const AttachmentList& attachments, size_t index, std::shared_ptr<ShareStore> store,
              const std::string& ticket, const LoadedItem& item, const std::optional<Error>& error);

  SharePlatform platform_;
  // The five fields of the controller, in this order.
  std::unique_ptr<SerialQueue> work_;
  std::shared_ptr<SharePreparation> preparation_;
  std::shared_ptr<TextField> label_;
  bool started_ = false;
  std::vector<std::string> sources_;

  std::shared_ptr<ExtensionContext> extensionContext_;
  std::shared_ptr<View> view_;
  std::shared_ptr<ProgressIndicator> progress_;
  CopyProgress copied_;              // written by the imports, read by `updateProgress`
  std::size_t attachmentCount_ = 0;  // main thread, from `viewDidAppear`
  bool failureShown_ = false;        // main thread

  mutable Mutex jobsLock_;
  std::weak_ptr<Jobs> jobs_ GUARDED_BY(jobsLock_);
  std::function<void()> idleObserver_ GUARDED_BY(jobsLock_);
  // For `abandon`: the intake's store is being made, or its batch folder until the store is
  // destroyed. `batchSettled_` is notified at each change.
  bool makingBatch_ GUARDED_BY(jobsLock_) = false;
  std::string batchFolder_ GUARDED_BY(jobsLock_);
  CondVar batchSettled_;
};

}  // namespace quillop
