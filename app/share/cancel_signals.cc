#include "cancel_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace quillop {
namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] ssize_t written = write(signalPipe[1], &byte, 1);
  errno = saved;
}

}  // namespace

CancelSignals::CancelSignals(std::function<void()> action) {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, [action = std::move(action)] {
    char drained[64];
    while (read(signalPipe[0], drained, sizeof drained) > 0) {
    }
    action();
  });
  struct sigaction handler {};
  handler.sa_handler = onSignal;
  sigemptyset(&handler.sa_mask);
  handler.sa_flags = SA_RESTART;
  sigaction(SIGINT, &handler, nullptr);
  sigaction(SIGTERM, &handler, nullptr);
}

CancelSignals::~CancelSignals() {
  if (!notifier_) return;
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  notifier_.reset();
  close(signalPipe[0]);
  close(signalPipe[1]);
  signalPipe[0] = signalPipe[1] = -1;
}

}  // namespace quillop
