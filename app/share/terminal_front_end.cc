#include "terminal_front_end.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
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

template <typename T>
std::shared_ptr<T> findView(const std::shared_ptr<View>& root) {
  if (auto match = std::dynamic_pointer_cast<T>(root)) return match;
  for (const auto& child : root->subviews()) {
    if (auto match = findView<T>(child)) return match;
  }
  return nullptr;
}

}  // namespace

TerminalFrontEnd::TerminalFrontEnd(std::shared_ptr<ShareViewController> controller,
                                   std::shared_ptr<ShareRequest> request,
                                   std::shared_ptr<MainQueue> mainQueue)
    : controller_(std::move(controller)),
      request_(std::move(request)),
      mainQueue_(std::move(mainQueue)),
      status_(STDERR_FILENO) {}

TerminalFrontEnd::~TerminalFrontEnd() {
  if (signalPipe[0] >= 0) {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signals_.reset();
    close(signalPipe[0]);
    close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
  }
}

int TerminalFrontEnd::run() {
  // "Annulla" from the keyboard or a kill: the handler only wakes the event loop.
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    signals_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(signals_.get(), &QSocketNotifier::activated, [this] {
      char drained[64];
      while (read(signalPipe[0], drained, sizeof drained) > 0) {
      }
      pressCancel();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
  }

  MainQueue* mainQueue = mainQueue_.get();
  controller_->setIdleObserver([mainQueue, this] { mainQueue->async([this] { check(); }); });
  request_->setEndObserver([mainQueue, this] { mainQueue->async([this] { check(); }); });

  controller_->loadView();
  const std::shared_ptr<TextField> label = findView<TextField>(controller_->view());
  status_.show(label->text());
  label->setObserver([this](const std::string& text) { status_.show(text); });
  mainQueue_->async([this] {
    controller_->viewDidAppear();
    check();  // a share that submitted nothing is idle already
  });

  QCoreApplication::exec();
  status_.finish();
  controller_->setIdleObserver({});
  label->setObserver({});
  return exitStatus_;
}

void TerminalFrontEnd::pressCancel() {
  if (const auto button = findView<Button>(controller_->view())) button->press();
}

void TerminalFrontEnd::check() {
  if (finished_ || controller_->busy()) return;
  switch (request_->outcome()) {
    case ShareRequest::Outcome::open:
      // Nothing left to run and the request still open: a failure is on screen.
      pressedForUser_ = true;
      pressCancel();
      return;  // the request's end brings us back here
    case ShareRequest::Outcome::completed:
      exitStatus_ = kCompleted;
      break;
    case ShareRequest::Outcome::cancelled:
      exitStatus_ = pressedForUser_ ? kFailed : kInterrupted;
      break;
  }
  finished_ = true;
  QCoreApplication::exit(exitStatus_);
}

}  // namespace quillop
