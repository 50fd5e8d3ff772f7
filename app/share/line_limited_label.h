// A read-only text that wraps at word boundaries (inside a word only when the word alone is
// wider than the label) onto at most `maximumLines` lines; when the text needs more, the last
// line shown ends with "…" (U+2026) and the rest is not drawn. Lines start at the top-left
// corner; nothing is ever drawn below the last allowed line. Line breaks in the text start a new
// line. While text is left out, the whole text is the label's tool tip.
//
// Qt main thread only, like every widget.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QFont;

namespace quillop {

class LineLimitedLabel : public QWidget {
 public:
  explicit LineLimitedLabel(QWidget* parent = nullptr);

  const QString& text() const { return text_; }
  void setText(const QString& text);
  // 0: no limit.
  int maximumLines() const { return maximumLines_; }
  void setMaximumLines(int lines);

  // The lines as drawn at the label's current width and font.
  QStringList displayedLines() const;

  // The layout itself: `text` in `font`, wrapped to `width` pixels, at most `maximumLines`
  // lines (0: no limit), the last one elided when text is left over.
  static QStringList wrap(const QString& text, const QFont& font, int width, int maximumLines);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void updateToolTip();

  QString text_;
  int maximumLines_ = 0;
};

}  // namespace quillop
