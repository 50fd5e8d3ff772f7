// One share request as a front end of the extension host runs it: the wiring of the controller
// that the window and the terminal share. `load` builds the controller's view for the front end
// to render; `appeared`, once the front end has put it on screen, starts the share. SIGINT,
// SIGTERM, SIGHUP and the front end's own ways out press "Annulla" (`cancel`). While the share
// runs, the progress bar is brought up to date a few times a second.
//
// A failure leaves the request open with nothing of the controller left to run. The window
// leaves the message on screen until the user cancels (AfterFailure::wait); the terminal, where
// there is no button to press, presses "Annulla" for the user (AfterFailure::cancel).
//
// The session finishes once the request has ended and nothing of the controller is left to run
// (so that a cancelled batch is removed before the process exits), with the exit status:
// kCompleted for a completed request; for a cancelled one kFailed when a failure was on screen
// (nothing was left to run when it was cancelled), kInterrupted when the share was still running.
// A share still running kCancelGrace after the request was cancelled, or at a further signal,
// is abandoned: its batch folder is removed here and the session finishes with kInterrupted,
// leaving the stuck work behind (`abandoned`: the caller must end the process without waiting
// for it).
//
//   loaded -- appeared --> running -- request ended, nothing left to run --> finished
//   running -- failure, nothing left to run --> waits for "Annulla" (window) or presses it
//   running, cancelled -- still running after kCancelGrace, or a further signal --> abandoned
//
// Needs a QCoreApplication, whose event loop is the main queue. Main thread only.
#pragma once

#include <QTimer>
#include <functional>
#include <memory>

#include "cancel_signals.h"
#include "exit_status.h"
#include "share/services/queues.h"
#include "share/share_request.h"
#include "share/share_view_controller.h"

namespace quillop {

class ShareSession {
 public:
  enum class AfterFailure { wait, cancel };

  ShareSession(std::shared_ptr<ShareViewController> controller,
               std::shared_ptr<ShareRequest> request, std::shared_ptr<MainQueue> mainQueue,
               AfterFailure afterFailure);
  ~ShareSession();
  ShareSession(const ShareSession&) = delete;
  ShareSession& operator=(const ShareSession&) = delete;

  // Loads the controller's view and returns it; from now on SIGINT and SIGTERM cancel.
  std::shared_ptr<View> load();
  // The view is on screen: starts the share.
  void appeared();
  // "Annulla", unless the request has already ended.
  void cancel();
  // Called after each update of the progress bar, and once more when the session finishes.
  void setTickAction(std::function<void()> action) { tickAction_ = std::move(action); }
  // Called once, when the session finishes, before the event loop is told to stop.
  void setFinishAction(std::function<void()> action) { finishAction_ = std::move(action); }
  // Runs the event loop until the session has finished; returns the exit status.
  int exec();

  bool abandoned() const { return abandoned_; }

 private:
  // Queues `check` on the main queue; harmless after the session is gone. The static form
  // takes no session pointer, so any thread may call it.
  static void postCheck(const std::shared_ptr<MainQueue>& mainQueue,
                        std::weak_ptr<ShareSession*> weak);
  void post();
  void check();
  void abandon();
  // Stops the event loop with `status`, once.
  void finish(int status);
  void tick();

  std::shared_ptr<ShareViewController> controller_;
  std::shared_ptr<ShareRequest> request_;
  std::shared_ptr<MainQueue> mainQueue_;
  const AfterFailure afterFailure_;
  std::unique_ptr<CancelSignals> signals_;
  QTimer progressTimer_;
  QTimer grace_;
  std::function<void()> tickAction_;
  std::function<void()> finishAction_;
  std::shared_ptr<ShareSession*> self_;  // expires with the session; queued checks hold it weakly
  bool appeared_ = false;
  bool cancelledAfterFailure_ = false;
  bool finished_ = false;
  bool abandoned_ = false;
  int exitStatus_ = exit_status::kInterrupted;
};

}  // namespace quillop
