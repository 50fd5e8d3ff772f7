// The terminal front end of the extension host: it shows the controller's view on a terminal.
// The status line goes to stderr; SIGINT, SIGTERM and SIGHUP press "Annulla". When nothing of
// the controller is left to run while the request is still open (a failure is on screen), it
// presses "Annulla" for the user. It stops once the request has ended and nothing is left to
// run, so that a cancelled batch is removed before the process exits; a share still running
// kCancelGrace after "Annulla", or at a second signal, is abandoned instead: its batch folder
// is removed here and the front end stops with kInterrupted, leaving the stuck work behind
// (`abandoned`: the caller must end the process without waiting for it).
//
// Needs a QCoreApplication, whose event loop is the main queue. Main thread only.
#pragma once

#include <QObject>
#include <QTimer>
#include <memory>

#include "cancel_signals.h"
#include "exit_status.h"
#include "share/platform/queues.h"
#include "share/share_request.h"
#include "share/share_view_controller.h"
#include "status_line.h"

namespace quillop {

class TerminalFrontEnd {
 public:
  TerminalFrontEnd(std::shared_ptr<ShareViewController> controller,
                   std::shared_ptr<ShareRequest> request, std::shared_ptr<MainQueue> mainQueue);
  ~TerminalFrontEnd();
  TerminalFrontEnd(const TerminalFrontEnd&) = delete;
  TerminalFrontEnd& operator=(const TerminalFrontEnd&) = delete;

  // Loads the view, shows it, runs the share to its end and returns the exit status.
  int run();
  bool abandoned() const { return abandoned_; }

 private:
  void pressCancel();
  void onSignal();
  void abandon();
  // Called on the main thread whenever the controller may have gone idle or the request ended.
  void check();

  std::shared_ptr<ShareViewController> controller_;
  std::shared_ptr<ShareRequest> request_;
  std::shared_ptr<MainQueue> mainQueue_;
  StatusLine status_;
  std::unique_ptr<CancelSignals> signals_;
  QTimer grace_;
  bool pressedForUser_ = false;
  bool finished_ = false;
  bool abandoned_ = false;
  int exitStatus_ = exit_status::kFailed;
};

}  // namespace quillop
