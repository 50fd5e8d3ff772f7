#include "line_limited_label.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QTextLayout>
#include <QTextOption>
#include <QToolTip>

namespace quillop {
namespace {

const QChar kEllipsis(0x2026);

struct Layout {
  QStringList lines;
  bool cut = false;  // text left out at the end
};

Layout layoutLines(const QString& text, const QFont& font, int width, int maximumLines) {
  // QTextLayout breaks only at its own line separator; a newline in a message starts a line.
  QString prepared = text;
  prepared.replace(QLatin1Char('\n'), QChar::LineSeparator);

  QTextLayout layout(prepared, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.setCacheEnabled(true);

  Layout result;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    const int start = line.textStart();
    if (maximumLines > 0 && result.lines.size() == maximumLines - 1) {
      // The last allowed line: what is left up to the next line break, cut with "…" when
      // anything at all is left out.
      const QString rest = prepared.mid(start);
      const qsizetype lineBreak = rest.indexOf(QChar::LineSeparator);
      const QString part = rest.left(lineBreak).trimmed();
      const QFontMetrics metrics(font);
      QString shown = metrics.elidedText(part, Qt::ElideRight, width);
      if (lineBreak >= 0 && !rest.mid(lineBreak).trimmed().isEmpty() &&
          !shown.endsWith(kEllipsis)) {
        shown =
            metrics.elidedText(part, Qt::ElideRight, width - metrics.horizontalAdvance(kEllipsis));
        if (!shown.endsWith(kEllipsis)) shown += kEllipsis;
      }
      result.cut = shown != part || (lineBreak >= 0 && !rest.mid(lineBreak).trimmed().isEmpty());
      result.lines.append(shown);
      break;
    }
    QString shown = prepared.mid(start, line.textLength());
    shown.remove(QChar::LineSeparator);
    result.lines.append(shown.trimmed());
  }
  layout.endLayout();
  return result;
}

// The path in a message: from the start of the word holding its first "/" up to the last ": "
// after it (what follows is the reason), or to the end. Empty when there is none.
std::pair<qsizetype, qsizetype> pathSpan(const QString& text) {
  const qsizetype slash = text.indexOf(QLatin1Char('/'));
  if (slash < 0) return {0, 0};
  qsizetype start = slash;
  while (start > 0 && !text.at(start - 1).isSpace()) --start;
  qsizetype end = text.lastIndexOf(QLatin1String(": "));
  if (end < slash) end = text.size();
  return {start, end};
}

struct Shortened {
  Layout layout;
  bool shortened = false;
};

Shortened layoutText(const QString& text, const QFont& font, int width, int maximumLines) {
  Layout plain = layoutLines(text, font, width, maximumLines);
  const auto [start, end] = pathSpan(text);
  if (!plain.cut || end - start < 2) return {plain, plain.cut};
  // The longest middle-shortened path with which nothing is cut; of what is kept, the end (the
  // file's own name, whole while it fits) gets two thirds or more, the start the rest.
  const QString path = text.mid(start, end - start);
  const qsizetype name = path.size() - path.lastIndexOf(QLatin1Char('/'));
  const auto with = [&](qsizetype kept) {
    const qsizetype head = kept - std::min(kept, std::max(kept - kept / 3, name));
    const QString shortPath = path.left(head) + kEllipsis + path.right(kept - head);
    return layoutLines(text.left(start) + shortPath + text.mid(end), font, width, maximumLines);
  };
  qsizetype low = 0, high = path.size() - 1;  // with(low) is the fallback, high may fit
  Layout best = with(0);
  if (best.cut) return {best, true};
  while (low < high) {
    const qsizetype middle = (low + high + 1) / 2;
    Layout tried = with(middle);
    if (tried.cut) {
      high = middle - 1;
    } else {
      low = middle;
      best = std::move(tried);
    }
  }
  return {best, true};
}

// The label as assistive technologies see it: its whole text, not the lines drawn.
class LabelAccessible : public QAccessibleWidget, public QAccessibleTextInterface {
 public:
  explicit LabelAccessible(LineLimitedLabel* label)
      : QAccessibleWidget(label, QAccessible::StaticText) {}

  QAccessible::Role role() const override {
    return label()->alert() ? QAccessible::AlertMessage : QAccessible::StaticText;
  }
  QString text(QAccessible::Text t) const override {
    if (t == QAccessible::Name || t == QAccessible::Value) return label()->text();
    return QAccessibleWidget::text(t);
  }
  QAccessible::State state() const override {
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    return state;
  }
  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TextInterface) return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
  }

  // Read-only, no caret, no selection.
  QString text(int start, int end) const override {
    return label()->text().mid(start, end - start);
  }
  int characterCount() const override { return static_cast<int>(label()->text().size()); }
  void selection(int, int* start, int* end) const override { *start = *end = 0; }
  int selectionCount() const override { return 0; }
  void addSelection(int, int) override {}
  void removeSelection(int) override {}
  void setSelection(int, int, int) override {}
  int cursorPosition() const override { return 0; }
  void setCursorPosition(int) override {}
  QRect characterRect(int) const override { return {}; }
  int offsetAtPoint(const QPoint&) const override { return -1; }
  void scrollToSubstring(int, int) override {}
  QString attributes(int, int* start, int* end) const override {
    *start = 0;
    *end = characterCount();
    return {};
  }

 private:
  LineLimitedLabel* label() const { return static_cast<LineLimitedLabel*>(widget()); }
};

QAccessibleInterface* labelAccessible(const QString&, QObject* object) {
  auto* label = dynamic_cast<LineLimitedLabel*>(object);
  return label ? new LabelAccessible(label) : nullptr;
}

}  // namespace

LineLimitedLabel::LineLimitedLabel(QWidget* parent) : QWidget(parent) {
  static const bool installed = (QAccessible::installFactory(labelAccessible), true);
  (void)installed;
}

void LineLimitedLabel::setText(const QString& text) {
  if (text == text_) return;
  const QString old = std::exchange(text_, text);
  textChanged();
  QAccessibleEvent name(this, QAccessible::NameChanged);
  QAccessible::updateAccessibility(&name);
  QAccessibleTextUpdateEvent update(this, 0, old, text_);
  QAccessible::updateAccessibility(&update);
  if (alert_) {
    QAccessibleEvent event(this, QAccessible::Alert);
    QAccessible::updateAccessibility(&event);
  }
}

void LineLimitedLabel::setMaximumLines(int lines) {
  maximumLines_ = lines;
  textChanged();
}

void LineLimitedLabel::setAlert(bool alert) {
  if (alert == alert_) return;
  alert_ = alert;
  if (!alert_) return;
  // Screen readers present an alert when it shows; on the accessibility bus the label shows
  // anew as one.
  for (const QAccessible::Event type : {QAccessible::Alert, QAccessible::ObjectShow}) {
    QAccessibleEvent event(this, type);
    QAccessible::updateAccessibility(&event);
  }
}

void LineLimitedLabel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  updateToolTip();
}

void LineLimitedLabel::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange) updateToolTip();
}

void LineLimitedLabel::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  QToolTip::showText(mapToGlobal(QPoint(0, height())), toolTip(), this);
}

void LineLimitedLabel::textChanged() {
  updateToolTip();
  update();
}

void LineLimitedLabel::updateToolTip() {
  const bool cut = shortened();
  setToolTip(cut ? text_ : QString());
  // Reachable from the keyboard only while there is more to read than is drawn.
  setFocusPolicy(cut ? Qt::TabFocus : Qt::NoFocus);
}

QStringList LineLimitedLabel::displayedLines() const {
  return wrap(text_, font(), width(), maximumLines_);
}

bool LineLimitedLabel::shortened() const {
  return layoutText(text_, font(), width(), maximumLines_).shortened;
}

QStringList LineLimitedLabel::wrap(const QString& text, const QFont& font, int width,
                                   int maximumLines) {
  return layoutText(text, font, width, maximumLines).layout.lines;
}

void LineLimitedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(palette().color(QPalette::WindowText));
  const QFontMetrics metrics(font());
  int baseline = metrics.ascent();
  for (const QString& line : displayedLines()) {
    painter.drawText(QPoint(0, baseline), line);
    baseline += metrics.lineSpacing();
  }
  if (hasFocus()) {
    QStyleOptionFocusRect option;
    option.initFrom(this);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
  }
}

}  // namespace quillop
