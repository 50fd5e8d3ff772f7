// The terminal front end of the extension host: it shows the controller's view on stderr. The
// status line carries the label's text; on a terminal, the progress bar follows it in text form
// (progress_text.h), redrawn a few times a second; elsewhere only the label's texts are written,
// one line each. SIGINT, SIGTERM and SIGHUP press "Annulla", and so does the front end itself
// when a failure is on screen, as no one can press it here. The share session (share_session.h)
// says when it stops, with which exit status, and when it abandons a stuck share.
//
// Needs a QCoreApplication, whose event loop is the main queue. Main thread only.
#pragma once

#include <memory>
#include <string>

#include "progress_text.h"
#include "share_session.h"
#include "status_line.h"

namespace quillop {

class TerminalFrontEnd {
 public:
  // `session` outlives the front end; it presses "Annulla" after a failure
  // (AfterFailure::cancel), as no one can here.
  explicit TerminalFrontEnd(ShareSession& session);

  // Loads the view, shows it, runs the share to its end and returns the exit status.
  int run();

 private:
  // Shows the label's text, followed on a terminal by the progress; unless `always`, only when
  // that changed.
  void redraw(bool always);

  ShareSession& session_;
  StatusLine status_;
  ProgressText progressText_;
  std::shared_ptr<TextField> label_;
  std::shared_ptr<ProgressIndicator> progress_;
  std::string shown_;
};

}  // namespace quillop
