#include "view_tree_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <cmath>

#include "line_limited_label.h"

namespace quillop {
namespace {

// Steps of a determinate bar: finer than any bar's width in pixels.
constexpr int kProgressSteps = 1000;

QRect flipped(const Rect& frame, double parentHeight) {
  return QRect(static_cast<int>(std::lround(frame.x)),
               static_cast<int>(std::lround(parentHeight - frame.y - frame.height)),
               static_cast<int>(std::lround(frame.width)),
               static_cast<int>(std::lround(frame.height)));
}

}  // namespace

ViewTreeWindow::ViewTreeWindow(std::shared_ptr<View> root, QWidget* parent)
    : QWidget(parent, Qt::Window), root_(std::move(root)) {
  const Rect& frame = root_->frame();
  setFixedSize(static_cast<int>(std::lround(frame.width)),
               static_cast<int>(std::lround(frame.height)));
  for (const auto& child : root_->subviews()) render(child, this, frame.height);
}

ViewTreeWindow::~ViewTreeWindow() {
  for (const auto& field : fields_) field->setObserver({});
  for (const auto& indicator : indicators_) indicator->setObserver({});
}

void ViewTreeWindow::render(const std::shared_ptr<View>& view, QWidget* parent,
                            double parentHeight) {
  QWidget* widget = nullptr;
  if (auto field = std::dynamic_pointer_cast<TextField>(view)) {
    auto* label = new LineLimitedLabel(parent);
    label->setText(QString::fromStdString(field->text()));
    label->setMaximumLines(field->maximumNumberOfLines());
    field->setObserver(
        [label](const std::string& text) { label->setText(QString::fromStdString(text)); });
    fields_.push_back(std::move(field));
    widget = label;
  } else if (auto indicator = std::dynamic_pointer_cast<ProgressIndicator>(view)) {
    auto* bar = new QProgressBar(parent);
    bar->setTextVisible(false);
    const auto show = [bar](const ProgressIndicator::State& state) {
      bar->setVisible(!state.hidden);
      // A range of 0 to 0 is Qt's busy bar.
      bar->setRange(0, state.indeterminate ? 0 : kProgressSteps);
      bar->setValue(static_cast<int>(std::lround(state.fraction * kProgressSteps)));
    };
    show(indicator->state());
    indicator->setObserver(show);
    indicators_.push_back(std::move(indicator));
    widget = bar;
  } else if (auto button = std::dynamic_pointer_cast<Button>(view)) {
    auto* push = new QPushButton(QString::fromStdString(button->title()), parent);
    connect(push, &QPushButton::clicked, this, [button] { button->press(); });
    widget = push;
  } else {
    widget = new QWidget(parent);
    for (const auto& child : view->subviews()) render(child, widget, view->frame().height);
  }
  widget->setGeometry(flipped(view->frame(), parentHeight));
}

void ViewTreeWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (appeared_ || event->spontaneous()) return;
  appeared_ = true;
  // Queued, so that it runs once the show itself has been handled.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (appearAction_) appearAction_();
      },
      Qt::QueuedConnection);
}

void ViewTreeWindow::closeEvent(QCloseEvent* event) {
  if (cancelAction_) cancelAction_();
  event->accept();
}

void ViewTreeWindow::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (cancelAction_) cancelAction_();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace quillop
