// A read-only text that wraps at word boundaries (inside a word only when the word alone is
// wider than the label) onto at most `maximumLines` lines; when the text needs more, the last
// line shown ends with "…" (U+2026) and the rest is not drawn. A text that names a path (from its
// first "/" to the last ": " after it, or to its end) first has that path shortened in its middle
// ("/opt/Cartella…/Movarix.app: No such file or directory"), so that what follows the path, the
// reason, stays whole; only when the reason alone does not fit is the end cut. Lines start at the
// top-left corner; nothing is ever drawn below the last allowed line. Line breaks in the text
// start a new line.
//
// While anything is shortened, the whole text is the tool tip, and the label takes keyboard
// focus (Tab), showing the whole text as a tool tip while it has it. To assistive technologies
// the label is a static text whose name and text are always the whole text; each change is
// announced (name and text changed). `setAlert(true)` makes it an alert and announces the text
// as one: the text is a failure.
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
  bool alert() const { return alert_; }
  void setAlert(bool alert);

  // The lines as drawn at the label's current width and font.
  QStringList displayedLines() const;
  // True while the lines drawn leave out or shorten anything of the text.
  bool shortened() const;

  // The layout itself: `text` in `font`, wrapped to `width` pixels, at most `maximumLines`
  // lines (0: no limit), a path in it shortened in its middle first, then the last line elided
  // when text is left over.
  static QStringList wrap(const QString& text, const QFont& font, int width, int maximumLines);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  void textChanged();
  void updateToolTip();

  QString text_;
  int maximumLines_ = 0;
  bool alert_ = false;
};

}  // namespace quillop
