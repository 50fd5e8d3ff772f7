// The floors of the start-up benchmark: the least a Qt 6 Widgets program does to put a window on
// screen. With no argument an empty window (no text, so no font is ever loaded); with "text" a
// dialog of the same widgets as the share's window (two lines of text, a bar and a button).
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <cstring>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc > 1 && std::strcmp(argv[1], "text") == 0) {
    QDialog dialog;
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Preparazione dei file per Movarix\u2026\nriga")));
    layout->addWidget(new QProgressBar);
    layout->addWidget(new QPushButton(QStringLiteral("Annulla")));
    dialog.show();
    return application.exec();
  }
  QWidget window;
  window.resize(430, 130);
  window.show();
  return application.exec();
}
