#include "terminal_front_end.h"

#include <unistd.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <chrono>

namespace quillop {

TerminalFrontEnd::TerminalFrontEnd(ShareSession& session)
    : session_(session), status_(STDERR_FILENO) {}

int TerminalFrontEnd::run() {
  const std::shared_ptr<View> view = session_.load();
  label_ = findView<TextField>(view);
  progress_ = findView<ProgressIndicator>(view);
  redraw(true);
  label_->setObserver([this](const std::string&) { redraw(true); });
  if (status_.terminal()) session_.setTickAction([this] { redraw(false); });
  QMetaObject::invokeMethod(
      QCoreApplication::instance(), [this] { session_.appeared(); }, Qt::QueuedConnection);

  const int status = session_.exec();
  status_.finish();
  label_->setObserver({});
  return status;
}

void TerminalFrontEnd::redraw(bool always) {
  std::string text = label_->text();
  if (status_.terminal()) {
    text += progressText_.suffix(progress_->state(), std::chrono::steady_clock::now());
  }
  if (!always && text == shown_) return;
  shown_ = text;
  status_.show(text);
}

}  // namespace quillop
