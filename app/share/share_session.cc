#include "share_session.h"

#include <QCoreApplication>

namespace quillop {
namespace {

// "A few times a second": often enough to look alive, rare enough to cost nothing.
constexpr int kProgressIntervalMs = 200;

}  // namespace

ShareSession::ShareSession(std::shared_ptr<ShareViewController> controller,
                           std::shared_ptr<ShareRequest> request,
                           std::shared_ptr<MainQueue> mainQueue, AfterFailure afterFailure)
    : controller_(std::move(controller)),
      request_(std::move(request)),
      mainQueue_(std::move(mainQueue)),
      afterFailure_(afterFailure),
      self_(std::make_shared<ShareSession*>(this)) {
  progressTimer_.setInterval(kProgressIntervalMs);
  QObject::connect(&progressTimer_, &QTimer::timeout, [this] { tick(); });
  grace_.setSingleShot(true);
  grace_.setInterval(kCancelGrace);
  QObject::connect(&grace_, &QTimer::timeout, [this] { abandon(); });
}

ShareSession::~ShareSession() {
  controller_->setIdleObserver({});
  request_->setEndObserver({});
}

void ShareSession::postCheck(const std::shared_ptr<MainQueue>& mainQueue,
                             std::weak_ptr<ShareSession*> weak) {
  mainQueue->async([weak = std::move(weak)] {
    if (const auto self = weak.lock()) (*self)->check();
  });
}

void ShareSession::post() { postCheck(mainQueue_, self_); }

std::shared_ptr<View> ShareSession::load() {
  // The idle observer runs on whichever thread let go of the last job.
  controller_->setIdleObserver(
      [mainQueue = mainQueue_, weak = std::weak_ptr(self_)] { postCheck(mainQueue, weak); });
  // The controller ends the request on the main thread, from "Annulla" or after the opening.
  request_->setEndObserver([this] {
    if (request_->outcome() == ShareRequest::Outcome::cancelled) {
      // Nothing left to run while the request was open: a failure was on screen.
      cancelledAfterFailure_ = appeared_ && !controller_->busy();
    }
    post();
  });
  controller_->loadView();
  signals_ = std::make_unique<CancelSignals>([this] {
    if (request_->outcome() == ShareRequest::Outcome::cancelled) {
      abandon();  // the user insists
    } else {
      cancel();
    }
  });
  return controller_->view();
}

void ShareSession::appeared() {
  if (appeared_ || finished_) return;
  appeared_ = true;
  controller_->viewDidAppear();
  progressTimer_.start();
  check();  // a share that submitted nothing is idle already
}

void ShareSession::cancel() {
  if (request_->outcome() != ShareRequest::Outcome::open) return;
  if (const auto button = findView<Button>(controller_->view())) button->press();
}

int ShareSession::exec() {
  if (!finished_) QCoreApplication::exec();
  return exitStatus_;
}

void ShareSession::tick() {
  controller_->updateProgress();
  if (tickAction_) tickAction_();
}

void ShareSession::abandon() {
  if (finished_) return;
  controller_->abandon();
  abandoned_ = true;
  finish(exit_status::kInterrupted);
}

void ShareSession::check() {
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
      if (afterFailure_ == AfterFailure::cancel) cancel();  // its end brings us back here
      return;
    case ShareRequest::Outcome::completed:
      finish(exit_status::kCompleted);
      return;
    case ShareRequest::Outcome::cancelled:
      finish(cancelledAfterFailure_ ? exit_status::kFailed : exit_status::kInterrupted);
      return;
  }
}

void ShareSession::finish(int status) {
  exitStatus_ = status;
  finished_ = true;
  progressTimer_.stop();
  grace_.stop();
  tick();  // the last word of the progress: where the share ended
  if (finishAction_) finishAction_();
  QCoreApplication::exit(exitStatus_);
}

}  // namespace quillop
