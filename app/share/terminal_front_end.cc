#include "terminal_front_end.h"

#include <unistd.h>

#include <QCoreApplication>

namespace quillop {
TerminalFrontEnd::TerminalFrontEnd(std::shared_ptr<ShareViewController> controller,
                                   std::shared_ptr<ShareRequest> request,
                                   std::shared_ptr<MainQueue> mainQueue)
    : controller_(std::move(controller)),
      request_(std::move(request)),
      mainQueue_(std::move(mainQueue)),
      status_(STDERR_FILENO) {
  grace_.setSingleShot(true);
  grace_.setInterval(kCancelGrace);
  QObject::connect(&grace_, &QTimer::timeout, [this] { abandon(); });
}

TerminalFrontEnd::~TerminalFrontEnd() = default;

int TerminalFrontEnd::run() {
  signals_ = std::make_unique<CancelSignals>([this] { onSignal(); });

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

void TerminalFrontEnd::onSignal() {
  if (request_->outcome() == ShareRequest::Outcome::cancelled) {
    abandon();  // the user insists
  } else {
    pressCancel();
  }
}

void TerminalFrontEnd::abandon() {
  if (finished_) return;
  controller_->abandon();
  abandoned_ = finished_ = true;
  exitStatus_ = exit_status::kInterrupted;
  QCoreApplication::exit(exitStatus_);
}

void TerminalFrontEnd::check() {
  if (finished_) return;
  if (controller_->busy()) {
    if (request_->outcome() == ShareRequest::Outcome::cancelled && !grace_.isActive()) {
      grace_.start();
    }
    return;
  }
  switch (request_->outcome()) {
    case ShareRequest::Outcome::open:
      // Nothing left to run and the request still open: a failure is on screen.
      pressedForUser_ = true;
      pressCancel();
      return;  // the request's end brings us back here
    case ShareRequest::Outcome::completed:
      exitStatus_ = exit_status::kCompleted;
      break;
    case ShareRequest::Outcome::cancelled:
      exitStatus_ = pressedForUser_ ? exit_status::kFailed : exit_status::kInterrupted;
      break;
  }
  finished_ = true;
  QCoreApplication::exit(exitStatus_);
}

}  // namespace quillop
