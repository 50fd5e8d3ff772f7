// SIGINT and SIGTERM as the user's "Annulla": while an instance lives, either signal runs the
// action on the main thread, from the Qt event loop (the signal handler itself only writes a
// byte to a pipe). Without a pipe the signals keep their default action.
//
// One instance at a time; needs a QCoreApplication. Main thread only. Destruction restores the
// default actions of both signals.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace quillop {

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
