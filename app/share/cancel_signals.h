// SIGINT, SIGTERM and SIGHUP (a closed terminal) as the user's "Annulla": while an instance
// lives, each delivery runs the action once on the main thread, from the Qt event loop (the
// signal handler itself only writes a byte to a pipe). Without a pipe the signals keep their
// default action; a signal ignored on entry (nohup) stays ignored.
//
// One instance at a time; needs a QCoreApplication. Main thread only. Destruction restores the
// default actions of the signals it caught.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace quillop {

// How long a share may take to stop after "Annulla" before the front end removes its batch
// folder itself and ends: a read on a stalled mount may never return. A second signal does not
// wait.
inline constexpr std::chrono::milliseconds kCancelGrace{2000};

class CancelSignals {
 public:
  explicit CancelSignals(std::function<void()> action);
  ~CancelSignals();
  CancelSignals(const CancelSignals&) = delete;
  CancelSignals& operator=(const CancelSignals&) = delete;

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace quillop
