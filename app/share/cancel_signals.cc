#include "cancel_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>

namespace quillop {
namespace {

int signalPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

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
    ssize_t count = 0;
    while ((count = read(signalPipe[0], drained, sizeof drained)) > 0) {
      for (ssize_t i = 0; i < count; ++i) action();
    }
  });
  struct sigaction handler {};
  handler.sa_handler = onSignal;
  sigemptyset(&handler.sa_mask);
  handler.sa_flags = SA_RESTART;
  for (const int number : kSignals) sigaction(number, &handler, nullptr);
}

CancelSignals::~CancelSignals() {
  if (!notifier_) return;
  for (const int number : kSignals) signal(number, SIG_DFL);
  notifier_.reset();
  close(signalPipe[0]);
  close(signalPipe[1]);
  signalPipe[0] = signalPipe[1] = -1;
}

}  // namespace quillop
