// The two-line status text: wrapping, elision with "…", and what is really painted.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>

#include "gui_support.h"
#include "line_limited_label.h"

namespace quillop::testing {
namespace {

const QString kEllipsis = QString(QChar(0x2026));

const QString kLongFailure = QString::fromUtf8(
    "File preparati. Apri Movarix. Impossibile avviare "
    "/home/utente/Applicazioni/Movarix.app/Contents/MacOS/Movarix: il file eseguibile non "
    "esiste oppure non è accessibile con i permessi dell'utente corrente (errore di sistema 2)");
const QString kUnbroken = QString(300, QLatin1Char('x')).prepend(QString::fromUtf8("àèìòù"));
const QString kWithLineBreaks =
    QString::fromUtf8("Prima riga del messaggio\nseconda riga\nterza riga\nquarta riga");

TEST(LineLimitedLabelTest, LongTextsShowTwoLinesAndEndWithAnEllipsis) {
  const QFont font = QApplication::font();
  const QFontMetrics metrics(font);
  for (const QString& text : {kLongFailure, kUnbroken, kWithLineBreaks}) {
    SCOPED_TRACE(text.toStdString());
    const QStringList lines = LineLimitedLabel::wrap(text, font, 382, 2);
    ASSERT_EQ(lines.size(), 2);
    for (const QString& line : lines)
      EXPECT_LE(metrics.horizontalAdvance(line), 382) << line.toStdString();
    EXPECT_TRUE(text.startsWith(lines[0]));
    EXPECT_TRUE(lines[1].endsWith(kEllipsis)) << lines[1].toStdString();
    // The second line carries on where the first stopped.
    const QString shownStart = lines[1].left(lines[1].size() - 1);
    EXPECT_NE(text.indexOf(shownStart, lines[0].size()), -1) << shownStart.toStdString();
  }
  // The unbroken word is cut inside the word, filling the first line.
  const QStringList unbroken = LineLimitedLabel::wrap(kUnbroken, font, 382, 2);
  EXPECT_GT(metrics.horizontalAdvance(unbroken[0] + "xx"), 382);
}

TEST(LineLimitedLabelTest, TextsThatFitAreShownWhole) {
  const QFont font = QApplication::font();
  const QString progress = QString::fromUtf8("Preparati 3 di 12 file\u2026");
  EXPECT_EQ(LineLimitedLabel::wrap(progress, font, 382, 2), QStringList{progress});
  // No limit: every line is kept and none is elided.
  const QStringList all = LineLimitedLabel::wrap(kLongFailure, font, 382, 0);
  EXPECT_GE(all.size(), 3);
  // Lines break at spaces or, inside the long path, anywhere: nothing is lost but spaces.
  EXPECT_EQ(all.join(QString()).remove(QLatin1Char(' ')).toStdString(),
            QString(kLongFailure).remove(QLatin1Char(' ')).toStdString());
}

// The painted pixels, not only the computed lines: ink in both line bands and nowhere below.
TEST(LineLimitedLabelTest, NothingIsPaintedBelowTheSecondLine) {
  LineLimitedLabel label;
  label.setMaximumLines(2);
  label.setGeometry(0, 0, 382, 120);  // room for many lines, so that a third would show
  const QFontMetrics metrics(label.font());
  const QRgb background = label.palette().color(QPalette::Window).rgb();
  for (const QString& text : {kLongFailure, kUnbroken, kWithLineBreaks}) {
    SCOPED_TRACE(text.toStdString());
    label.setText(text);
    const std::vector<int> rows = inkRows(label.grab().toImage(), background);
    ASSERT_FALSE(rows.empty()) << "no text was painted: are fonts installed?";
    EXPECT_LT(rows.back(), 2 * metrics.lineSpacing());
    EXPECT_GE(rows.back(), metrics.lineSpacing()) << "the second line is missing";
  }
}

}  // namespace
}  // namespace quillop::testing
