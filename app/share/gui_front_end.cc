#include "gui_front_end.h"

#include <QApplication>

namespace quillop {
GuiFrontEnd::GuiFrontEnd(std::shared_ptr<ShareViewController> controller,
                         std::shared_ptr<ShareRequest> request,
                         std::shared_ptr<MainQueue> mainQueue)
    : controller_(std::move(controller)),
      request_(std::move(request)),
      mainQueue_(std::move(mainQueue)),
      self_(std::make_shared<GuiFrontEnd*>(this)) {
  grace_.setSingleShot(true);
  grace_.setInterval(kCancelGrace);
  QObject::connect(&grace_, &QTimer::timeout, [this] { abandon(); });
}

GuiFrontEnd::~GuiFrontEnd() {
  controller_->setIdleObserver({});
  request_->setEndObserver({});
}

void GuiFrontEnd::post() {
  mainQueue_->async([weak = std::weak_ptr<GuiFrontEnd*>(self_)] {
    if (const auto self = weak.lock()) (*self)->check();
  });
}

void GuiFrontEnd::show() {
  // The window hides when closed, but the process must live on until the batch is cleaned up.
  QApplication::setQuitOnLastWindowClosed(false);

  std::shared_ptr<MainQueue> mainQueue = mainQueue_;
  std::weak_ptr<GuiFrontEnd*> weak = self_;
  controller_->setIdleObserver([mainQueue, weak] {
    mainQueue->async([weak] {
      if (const auto self = weak.lock()) (*self)->check();
    });
  });
  // The controller ends the request on the main thread, from "Annulla" or after the opening.
  request_->setEndObserver([this] {
    if (request_->outcome() == ShareRequest::Outcome::cancelled) {
      // Nothing left to run while the request was open: a failure was on screen.
      cancelledAfterFailure_ = appeared_ && !controller_->busy();
    }
    post();
  });

  controller_->loadView();
  window_ = std::make_unique<ViewTreeWindow>(controller_->view());
  window_->setWindowTitle(QStringLiteral("Movarix"));
  window_->setCancelAction([this] { cancel(); });
  signals_ = std::make_unique<CancelSignals>([this] {
    if (request_->outcome() == ShareRequest::Outcome::cancelled) {
      abandon();  // the user insists
    } else {
      cancel();
    }
  });
  window_->setAppearAction([this] {
    appeared_ = true;
    controller_->viewDidAppear();
    check();  // a share that submitted nothing is idle already
  });
  window_->show();
  window_->raise();
  window_->activateWindow();
}

void GuiFrontEnd::cancel() {
  if (request_->outcome() != ShareRequest::Outcome::open) return;
  if (const auto button = findView<Button>(controller_->view())) button->press();
}

int GuiFrontEnd::exec() {
  if (!finished_) QApplication::exec();
  return exitStatus_;
}

void GuiFrontEnd::abandon() {
  if (finished_) return;
  controller_->abandon();
  abandoned_ = finished_ = true;
  exitStatus_ = exit_status::kInterrupted;
  window_->hide();
  QApplication::exit(exitStatus_);
}

void GuiFrontEnd::check() {
  if (finished_) return;
  if (controller_->busy()) {
    if (request_->outcome() == ShareRequest::Outcome::cancelled && !grace_.isActive()) {
      grace_.start();
    }
    return;
  }
  switch (request_->outcome()) {
    case ShareRequest::Outcome::open:
      return;  // a failure is on screen until the user cancels
    case ShareRequest::Outcome::completed:
      exitStatus_ = exit_status::kCompleted;
      break;
    case ShareRequest::Outcome::cancelled:
      exitStatus_ = cancelledAfterFailure_ ? exit_status::kFailed : exit_status::kInterrupted;
      break;
  }
  finished_ = true;
  window_->hide();
  QApplication::exit(exitStatus_);
}

}  // namespace quillop
