// The main queue on the Qt event loop: jobs are posted to the application object and run by
// its event loop on the main thread, in submission order. Needs a QCoreApplication for as long
// as jobs are submitted; jobs still pending when it is destroyed are dropped unrun.
// `async` is thread-safe.
#pragma once

#include "share/services/queues.h"

namespace quillop {

class QtMainQueue final : public MainQueue {
 public:
  void async(Job job) override;
};

}  // namespace quillop
