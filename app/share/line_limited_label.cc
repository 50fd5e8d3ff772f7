#include "line_limited_label.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextLayout>
#include <QTextOption>

namespace quillop {

LineLimitedLabel::LineLimitedLabel(QWidget* parent) : QWidget(parent) {}

void LineLimitedLabel::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  updateToolTip();
  update();
}

void LineLimitedLabel::setMaximumLines(int lines) {
  maximumLines_ = lines;
  updateToolTip();
  update();
}

void LineLimitedLabel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  updateToolTip();
}

void LineLimitedLabel::updateToolTip() {
  const QStringList lines = displayedLines();
  const bool cut =
      !lines.isEmpty() && lines.last().endsWith(QChar(0x2026)) && !text_.endsWith(QChar(0x2026));
  setToolTip(cut ? text_ : QString());
}

QStringList LineLimitedLabel::displayedLines() const {
  return wrap(text_, font(), width(), maximumLines_);
}

QStringList LineLimitedLabel::wrap(const QString& text, const QFont& font, int width,
                                   int maximumLines) {
  // QTextLayout breaks only at its own line separator; a newline in a message starts a line.
  QString prepared = text;
  prepared.replace(QLatin1Char('\n'), QChar::LineSeparator);

  QTextLayout layout(prepared, font);
  QTextOption option;
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  layout.setCacheEnabled(true);

  QStringList lines;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(width);
    const int start = line.textStart();
    if (maximumLines > 0 && lines.size() == maximumLines - 1) {
      // The last allowed line: what is left up to the next line break, cut with "…" when
      // anything at all is left out.
      const QString rest = prepared.mid(start);
      const qsizetype lineBreak = rest.indexOf(QChar::LineSeparator);
      const QString part = rest.left(lineBreak).trimmed();
      const QFontMetrics metrics(font);
      const QString ellipsis(QChar(0x2026));
      QString shown = metrics.elidedText(part, Qt::ElideRight, width);
      if (lineBreak >= 0 && !rest.mid(lineBreak).trimmed().isEmpty() && !shown.endsWith(ellipsis)) {
        shown =
            metrics.elidedText(part, Qt::ElideRight, width - metrics.horizontalAdvance(ellipsis));
        if (!shown.endsWith(ellipsis)) shown += ellipsis;
      }
      lines.append(shown);
      break;
    }
    QString shown = prepared.mid(start, line.textLength());
    shown.remove(QChar::LineSeparator);
    lines.append(shown.trimmed());
  }
  layout.endLayout();
  return lines;
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
}

}  // namespace quillop
