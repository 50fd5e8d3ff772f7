// The window front end on a real controller, real queues and real files: the window against
// its table, the progress bar, the ways a share ends and their exit statuses, the window at
// larger fonts, and screenshots during a share, halfway through a large copy and after a failure
// (at every font and scale). What assistive technologies read is accessibility_test.py's, over
// the real accessibility bus.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <array>
#include <csignal>

#include "archive/copy_rules.h"
#include "e2e_support.h"
#include "fake_platform.h"
#include "gui_front_end.h"
#include "line_limited_label.h"
#include "linux/linux_share_platform.h"
#include "linux/qt_main_queue.h"
#include "share/argument_attachments.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

class GuiShareTest : public ::testing::Test {
 protected:
  GuiShareTest() { temp.setEnv("XDG_DATA_HOME", temp / "data"); }
  ~GuiShareTest() override {
    frontEnd.reset();
    session.reset();  // the jobs still queued for the main thread run, the controller goes
    std::weak_ptr<ShareViewController> gone = std::exchange(controller, nullptr);
    (void)QTest::qWaitFor([&] { return gone.expired(); });
  }

  // Shows the window for files of these names.
  void show(const std::vector<std::string>& names) {
    InputItem item{true, {}};
    for (const std::string& name : names) {
      writeFile(temp / name, "dati");
      item.attachments.push_back(argumentAttachment(temp / name, "/", delivery));
    }
    request = std::make_shared<ShareRequest>(std::vector<InputItem>(!names.empty(), item));
    SharePlatform platform = linuxSharePlatform(mainQueue);
    platform.bundle = std::make_shared<FakeBundle>();
    platform.workspace = workspace;
    platform.fileSystem = &fs;
    controller = ShareViewController::create(platform);
    controller->setExtensionContext(request);
    session = std::make_unique<ShareSession>(controller, request, mainQueue,
                                             ShareSession::AfterFailure::wait);
    frontEnd = std::make_unique<GuiFrontEnd>(*session);
    frontEnd->show();
  }
  LineLimitedLabel& label() const {  // no meta-object of its own: no findChild
    for (QWidget* child : frontEnd->window()->findChildren<QWidget*>())
      if (auto* label = dynamic_cast<LineLimitedLabel*>(child)) return *label;
    throw std::logic_error("no status label");
  }
  QPushButton& button() const { return *frontEnd->window()->findChild<QPushButton*>(); }
  QProgressBar& bar() const { return *frontEnd->window()->findChild<QProgressBar*>(); }
  bool shows(const std::string& text) const { return label().text().toStdString() == text; }
  bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 20000); }
  void screenshot(const std::string& name) {  // the folder is made by the build
    const std::string scale = qApp->devicePixelRatio() > 1 ? "-scale2" : "";
    EXPECT_TRUE(frontEnd->window()->grab().save(
        QString::fromStdString(QUILLOP_SCREENSHOT_DIR "/" + name + scale + ".png")));
  }
  std::string cancelMessage() const { return request->error() ? request->error()->message() : ""; }
  size_t batches() const { return listFolder(inboxIn(temp / "data")).size(); }

  TempDir temp;
  FaultFileSystem fs;  // declared before the controller's queues, which use it
  std::shared_ptr<WorkerQueue> delivery = std::make_shared<WorkerQueue>("item-loading");
  std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
  std::shared_ptr<QtMainQueue> mainQueue = std::make_shared<QtMainQueue>();
  std::shared_ptr<ShareRequest> request;
  std::shared_ptr<ShareViewController> controller;
  std::unique_ptr<ShareSession> session;
  std::unique_ptr<GuiFrontEnd> frontEnd;
};

// The window against its table, then a 1 GiB file that never touches the disk, held half way
// through its copy for longer than the cancel grace: the bar fills by bytes, the status line stays
// as it is, a share that runs long is not abandoned; once complete, the window closes.
TEST_F(GuiShareTest, TheWindowMatchesTheTableAndItsBarFillsByBytes) {
  const std::uint64_t size = 1ULL << 30;
  fs.reportSize("grande.iso", size);
  fs.virtualContent("grande.iso", size);
  fs.discardWrites(".bin");
  fs.setFreeSpace(2 * size);
  Gate gate;
  std::atomic<std::uint64_t> reads{0};
  fs.onRead("grande.iso", [&](const std::string&) {
    if (++reads == size / kChunkSize / 2) gate.pass();  // chunk n read, n - 1 written
  });
  show({"grande.iso"});
  ViewTreeWindow& window = *frontEnd->window();
  EXPECT_TRUE(waitFor([&] { return window.isActiveWindow(); }));
  EXPECT_EQ(window.minimumSize(), QSize(430, 130));
  EXPECT_EQ(window.maximumSize(), window.minimumSize());
  EXPECT_EQ((std::array{label().geometry(), button().geometry(), bar().geometry()}),
            (std::array{QRect(24, 22, 382, 40), QRect(320, 80, 86, 30), QRect(24, 85, 284, 20)}));
  EXPECT_TRUE(waitFor([&] { return bar().maximum() > 0 && bar().value() >= 499; }));
  EXPECT_NEAR(bar().value(), 500, 1);
  EXPECT_TRUE(bar().isVisible());
  EXPECT_TRUE(shows("Preparazione dei file per Movarix\u2026"));
  screenshot("share-large-copy-half");
  QTest::qWait(static_cast<int>(kCancelGrace.count()) + 200);
  gate.opened.count_down();
  EXPECT_EQ(session->exec(), 0);  // completed
  EXPECT_TRUE(shows("Preparati 1 di 1 file\u2026"));
  EXPECT_EQ(bar().value(), bar().maximum());
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(batches(), 1u);
}

// Escape, Return or Enter on "Annulla" during a share (held in a read of the second of three
// files, the third not yet announced: the bar is busy) cancels it: a share that stops removes its
// batch itself; one that does not (as on a stalled disk) is abandoned after the grace period, or
// at once on a further signal, and the window front end removes the batch folder itself and ends.
TEST_F(GuiShareTest, EscapeCancelsAndTheBatchIsRemovedEvenIfTheShareDoesNotStop) {
  for (const auto& [stuck, key] : {std::pair{0, Qt::Key_Escape},
                                   {1, Qt::Key_Return},
                                   {2, Qt::Key_Enter}}) {  // 2: and a SIGTERM on top
    SCOPED_TRACE(stuck);
    Gate gate;
    fs.onRead("/b", [&](const std::string&) { gate.pass(); });
    show({"a", "b", "c"});
    ASSERT_TRUE(waitFor([&] { return gate.held && shows("Preparati 1 di 3 file\u2026"); }));
    EXPECT_EQ(batches(), 1u);
    EXPECT_EQ(bar().maximum(), 0);
    if (!stuck) screenshot("share-in-progress");
    QTest::keyClick(&button(), key);  // Escape goes from the focused button up to the window
    ASSERT_EQ(cancelMessage(), "Preparazione annullata.")  // else the held share goes on, to end
        << (gate.opened.count_down(), "");
    if (stuck == 2) raise(SIGTERM);
    if (!stuck) gate.opened.count_down();
    EXPECT_EQ(session->exec(), 130);
    EXPECT_EQ(session->abandoned(), stuck != 0);
    EXPECT_EQ(batches(), 0u);
    if (stuck) gate.opened.count_down();
    EXPECT_TRUE(waitFor([&] { return !controller->busy(); }));
  }
}

// A failure stays until the window is closed, on two lines, its path shortened in the middle so
// that the reason stays whole, the whole text on demand (tool tip, keyboard focus); closing it
// exits with 1, and the published batch stays. At larger fonts the window grows: two lines and
// the button fit, nothing overlaps, the frames hold at the standard font.
TEST_F(GuiShareTest, AFailureStaysOnScreenUntilTheWindowIsClosed) {
  const QFont standard = QApplication::font();
  // The file's name is kept while there is room for it; the reason always.
  const std::pair<int, QString> rows[] = {{0, "Movarix.app: No such file or directory"},
                                          {14, "Movarix.app: No such file or directory"},
                                          {20, ": No such file or directory"}};
  for (const auto& [points, end] : rows) {
    SCOPED_TRACE(points);
    QFont font = standard;
    if (points) font.setPointSize(points);
    QApplication::setFont(font);
    workspace->error = systemError(ENOENT,
                                   "/opt/Cartella condivisa dell'ufficio amministrativo/"
                                   "Archivio pratiche dell'anno in corso/Movarix.app");
    show({"fattura.pdf"});
    ASSERT_TRUE(waitFor([&] {
      return !controller->busy() && label().text().startsWith("File preparati. Apri Movarix. ");
    }));
    QApplication::processEvents();
    ViewTreeWindow& window = *frontEnd->window();
    EXPECT_TRUE(window.isVisible());
    const QStringList lines = label().displayedLines();
    EXPECT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines.last().endsWith(end)) << lines.join("|").toStdString();
    EXPECT_TRUE(lines.join(' ').contains(QChar(0x2026)));
    EXPECT_EQ(label().toolTip(), label().text());
    EXPECT_EQ(label().focusPolicy(), Qt::TabFocus);
    EXPECT_GE(label().height(), 2 * QFontMetrics(label().font()).lineSpacing());
    EXPECT_TRUE(button().geometry().contains(QRect(button().pos(), button().sizeHint())));
    EXPECT_FALSE(label().geometry().intersects(button().geometry()));
    EXPECT_TRUE(window.rect().contains(button().geometry().marginsAdded({24, 0, 24, 20})));
    EXPECT_TRUE(points || window.size() == QSize(430, 130));
    screenshot(points ? "share-failed-" + std::to_string(points) + "pt" : "share-failed");
    EXPECT_TRUE(window.close());
    EXPECT_EQ(cancelMessage(), "Preparazione annullata.");
    EXPECT_EQ(session->exec(), 1);
  }
  QApplication::setFont(standard);
  EXPECT_EQ(batches(), 3u);
}

}  // namespace
}  // namespace quillop::testing

// One QApplication for the whole binary: Qt allows one per process.
int main(int argc, char** argv) {
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
