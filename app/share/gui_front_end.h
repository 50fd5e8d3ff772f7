// The window front end of the extension host: it shows the controller's view in a small dialog
// titled "Invia con Movarix" with the entry's icon, brought to the front when it appears, and
// starts the share once the window is on screen (mapped), so that no byte is copied before the
// user can see and cancel it. "Annulla", Escape, closing the window, SIGINT, SIGTERM and SIGHUP
// cancel the request. After a failure the window stays open with the message until the user
// cancels. When the share session finishes (share_session.h: when, with which exit status, and when
// it abandons a stuck share) the window hides.
//
// Needs a QApplication, whose event loop is the main queue. Main thread only.
#pragma once

#include <memory>

#include "share_session.h"
#include "view_tree_window.h"

namespace quillop {

class GuiFrontEnd {
 public:
  // `session` outlives the front end; its failures wait for the user (AfterFailure::wait).
  explicit GuiFrontEnd(ShareSession& session) : session_(session) {}

  // Loads the view and shows the window; the share starts from the event loop.
  void show();
  // Shows the window and runs the event loop until the share has ended; returns the exit status.
  int run() {
    show();
    return session_.exec();
  }

  // The window; null before `show`.
  ViewTreeWindow* window() const { return window_.get(); }

 private:
  ShareSession& session_;
  std::unique_ptr<ViewTreeWindow> window_;
};

}  // namespace quillop
