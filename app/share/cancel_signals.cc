#include "cancel_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <iterator>

namespace quillop {
namespace {

int signalPipe[2] = {-1, -1};
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
// Whether each of kSignals is caught: one ignored on entry (nohup, a background job of a
// non-interactive shell) stays ignored, as the shell's convention has it.
bool caught[std::size(kSignals)] = {};

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
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    struct sigaction previous {};
    caught[i] = sigaction(kSignals[i], nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN &&
                sigaction(kSignals[i], &handler, nullptr) == 0;
  }
}

CancelSignals::~CancelSignals() {
  if (!notifier_) return;
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    if (caught[i]) signal(kSignals[i], SIG_DFL);
    caught[i] = false;
  }
  notifier_.reset();
  close(signalPipe[0]);
  close(signalPipe[1]);
  signalPipe[0] = signalPipe[1] = -1;
}

}  // namespace quillop
