#include "gui_front_end.h"

#include <QApplication>

namespace quillop {

GuiFrontEnd::GuiFrontEnd(std::shared_ptr<ShareViewController> controller,
                         std::shared_ptr<ShareRequest> request,
                         std::shared_ptr<MainQueue> mainQueue)
    : session_(std::move(controller), std::move(request), std::move(mainQueue),
               ShareSession::AfterFailure::wait) {}

void GuiFrontEnd::show() {
  // The window hides when closed, but the process must live on until the batch is cleaned up.
  QApplication::setQuitOnLastWindowClosed(false);
  window_ = std::make_unique<ViewTreeWindow>(session_.load());
  window_->setWindowTitle(QStringLiteral("Movarix"));
  window_->setCancelAction([this] { session_.cancel(); });
  window_->setAppearAction([this] { session_.appeared(); });
  session_.setFinishAction([this] { window_->hide(); });
  window_->show();
  window_->raise();
  window_->activateWindow();
}

}  // namespace quillop
