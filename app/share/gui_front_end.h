// The window front end of the extension host: it shows the controller's view in a small fixed
// window titled "Movarix", brought to the front when it appears, and calls `viewDidAppear`
// once the window is on screen. "Annulla", Escape, closing the window, SIGINT, SIGTERM and
// SIGHUP cancel the request.
// After a failure the window stays open with the message until the user cancels.
//
// It stops once the request has ended and nothing of the controller is left to run (so that a
// cancelled batch is removed before the process exits): a completed request hides the window
// and gives kCompleted; a cancelled one gives kFailed when a failure was on screen (nothing
// was left to run when it was cancelled), kInterrupted when the share was still running.
// A share still running kCancelGrace after the request was cancelled, or at a further signal,
// is abandoned: its batch folder is removed here and the front end stops with kInterrupted,
// leaving the stuck work behind (`abandoned`: the caller must end the process without waiting
// for it).
//
// Needs a QApplication, whose event loop is the main queue. Main thread only.
#pragma once

#include <QTimer>
#include <memory>

#include "cancel_signals.h"
#include "exit_status.h"
#include "share/platform/queues.h"
#include "share/share_request.h"
#include "share/share_view_controller.h"
#include "view_tree_window.h"

namespace quillop {

class GuiFrontEnd {
 public:
  GuiFrontEnd(std::shared_ptr<ShareViewController> controller,
              std::shared_ptr<ShareRequest> request, std::shared_ptr<MainQueue> mainQueue);
  ~GuiFrontEnd();
  GuiFrontEnd(const GuiFrontEnd&) = delete;
  GuiFrontEnd& operator=(const GuiFrontEnd&) = delete;

  // Loads the view and shows the window; the share starts from the event loop.
  void show();
  // Runs the event loop until the share has ended; returns the exit status. After `show`.
  int exec();
  int run() {
    show();
    return exec();
  }

  // The window; null before `show`.
  ViewTreeWindow* window() const { return window_.get(); }
  // True once the request has ended and nothing is left to run.
  bool finished() const { return finished_; }
  bool abandoned() const { return abandoned_; }
  int exitStatus() const { return exitStatus_; }

 private:
  // Queues `check` on the main queue; harmless after this front end is gone.
  void post();
  void check();
  // "Annulla", unless the request has already ended.
  void cancel();
  void abandon();

  std::shared_ptr<ShareViewController> controller_;
  std::shared_ptr<ShareRequest> request_;
  std::shared_ptr<MainQueue> mainQueue_;
  std::unique_ptr<ViewTreeWindow> window_;
  std::unique_ptr<CancelSignals> signals_;
  std::shared_ptr<GuiFrontEnd*> self_;  // expires with this front end; queued checks hold it weakly
  QTimer grace_;
  bool appeared_ = false;
  bool abandoned_ = false;
  bool cancelledAfterFailure_ = false;
  bool finished_ = false;
  int exitStatus_ = exit_status::kInterrupted;
};

}  // namespace quillop
