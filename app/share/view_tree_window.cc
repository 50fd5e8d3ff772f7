#include "view_tree_window.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QWindow>
#include <algorithm>
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
    : QDialog(parent), root_(std::move(root)) {
  const Rect& frame = root_->frame();
  resize(static_cast<int>(std::lround(frame.width)), static_cast<int>(std::lround(frame.height)));
  for (const auto& child : root_->subviews()) render(child, this, frame.height);
  fitContent();
  setFixedSize(size());
}

void ViewTreeWindow::fitContent() {
  // Top to bottom, so that a view moved down by one above it grows from its new place.
  std::vector<QWidget*> children;
  for (QObject* child : this->children()) {
    if (child->isWidgetType()) children.push_back(static_cast<QWidget*>(child));
  }
  std::ranges::sort(children, {}, [](QWidget* w) { return w->y(); });
  for (QWidget* child : children) {
    QSize need = child->size();
    if (auto* label = dynamic_cast<LineLimitedLabel*>(child); label && label->maximumLines() > 0) {
      need.setHeight(label->maximumLines() * QFontMetrics(label->font()).lineSpacing());
    } else if (qobject_cast<QPushButton*>(child)) {
      need = child->sizeHint();
    }
    grow(child, (need - child->size()).expandedTo(QSize(0, 0)));
  }
}

void ViewTreeWindow::grow(QWidget* widget, QSize by) {
  if (by == QSize(0, 0)) return;
  const QRect old = widget->geometry();
  for (QObject* object : children()) {
    auto* other = object->isWidgetType() ? static_cast<QWidget*>(object) : nullptr;
    if (!other || other == widget) continue;
    QRect r = other->geometry();
    if (r.top() > old.bottom()) {
      r.translate(0, by.height());
    } else if (r.bottom() >= old.top()) {  // on the same row: stays centred on it
      r.translate(0, by.height() / 2);
    }
    if (r.left() > old.right()) {
      r.translate(by.width(), 0);
    } else if (r.right() >= old.right()) {
      r.setRight(r.right() + by.width());
    }
    other->setGeometry(r);
  }
  widget->setGeometry(QRect(old.topLeft(), old.size() + by));
  resize(size() + by);
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
    bar->setAccessibleName(QStringLiteral("Avanzamento"));
    const auto show = [this, bar](const ProgressIndicator::State& state) {
      bar->setVisible(!state.hidden);
      if (state.hidden) {
        for (QWidget* child : findChildren<QWidget*>()) {
          if (auto* label = dynamic_cast<LineLimitedLabel*>(child)) label->setAlert(true);
        }
      }
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
  QDialog::showEvent(event);
  // The widget hears of its window's exposure only through the window itself.
  if (!appeared_ && windowHandle()) windowHandle()->installEventFilter(this);
}

bool ViewTreeWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Expose && !appeared_ && watched == windowHandle() &&
      windowHandle()->isExposed()) {
    appeared_ = true;
    windowHandle()->removeEventFilter(this);
    // Queued, so that it runs once the expose itself has been handled (the first frame drawn).
    QMetaObject::invokeMethod(
        this,
        [this] {
          if (appearAction_) appearAction_();
        },
        Qt::QueuedConnection);
  }
  return QDialog::eventFilter(watched, event);
}

void ViewTreeWindow::closeEvent(QCloseEvent* event) {
  if (cancelAction_) cancelAction_();
  event->accept();
}

void ViewTreeWindow::reject() {
  // Escape: "Annulla"; the window stays until the share has ended.
  if (cancelAction_) cancelAction_();
}

}  // namespace quillop
