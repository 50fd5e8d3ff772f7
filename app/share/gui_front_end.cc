#include "gui_front_end.h"

#include <QApplication>
#include <QIcon>
#include <QStyle>

namespace quillop {

void GuiFrontEnd::show() {
  // The window hides when closed, but the process must live on until the batch is cleaned up.
  QApplication::setQuitOnLastWindowClosed(false);
  window_ = std::make_unique<ViewTreeWindow>(session_.load());
  // The title is the action the user picked, as the desktop entry names it.
  window_->setWindowTitle(QStringLiteral("Invia con Movarix"));
  window_->setCancelAction([this] { session_.cancel(); });
  window_->setAppearAction([this] {
    // The desktop entry's icon from the user's theme; the style's own arrow where no theme has
    // it. Set once the window is on screen: the style's icons cost a few milliseconds to load,
    // and the first frame does not need one.
    QIcon icon = QIcon::fromTheme(QStringLiteral("document-send"));
    if (icon.isNull()) icon = window_->style()->standardIcon(QStyle::SP_ArrowUp);
    window_->setWindowIcon(icon);
    session_.appeared();
  });
  session_.setFinishAction([this] { window_->hide(); });
  window_->show();
  window_->raise();
  window_->activateWindow();
}

}  // namespace quillop
