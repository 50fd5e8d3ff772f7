// The window front end on a real controller, real queues and real files: the window against
// its table, the progress bar and its text, the ways a share ends and their exit statuses, and
// screenshots during a share, halfway through a large copy and after a failure.
#include <gtest/gtest.h>

#include <QApplication>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <array>
#include <csignal>

#include "archive/limits.h"
#include "e2e_support.h"
#include "fake_platform.h"
#include "gui_front_end.h"
#include "line_limited_label.h"
#include "linux/linux_share_platform.h"
#include "linux/qt_main_queue.h"
#include "progress_text.h"
#include "share/argument_attachments.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

class GuiShareTest : public ::testing::Test {
 protected:
  GuiShareTest() { temp.setEnv("XDG_DATA_HOME", temp / "data"); }
  ~GuiShareTest() override {
    frontEnd.reset();  // the jobs still queued for the main thread run, the controller goes
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
    frontEnd = std::make_unique<GuiFrontEnd>(controller, request, mainQueue);
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
    EXPECT_TRUE(frontEnd->window()->grab().save(
        QString::fromStdString(QUILLOP_SCREENSHOT_DIR "/" + name + ".png")));
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
  std::unique_ptr<GuiFrontEnd> frontEnd;
};

// The window against its table, then a 1 GiB file that never touches the disk, held half way
// through its copy: the bar fills by bytes, the status line stays as it is; once complete, the
// window closes.
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
  EXPECT_EQ(window.windowTitle(), "Movarix");
  EXPECT_EQ(button().text(), "Annulla");
  EXPECT_EQ(window.minimumSize(), QSize(430, 130));
  EXPECT_EQ(window.maximumSize(), window.minimumSize());
  EXPECT_EQ((std::array{label().geometry(), button().geometry(), bar().geometry()}),
            (std::array{QRect(24, 22, 382, 40), QRect(320, 80, 86, 30), QRect(24, 85, 284, 20)}));
  EXPECT_TRUE(waitFor([&] { return bar().maximum() > 0 && bar().value() >= 499; }));
  EXPECT_NEAR(bar().value(), 500, 1);
  EXPECT_TRUE(bar().isVisible());
  EXPECT_TRUE(shows("Preparazione dei file per Movarix\u2026"));
  screenshot("share-large-copy-half");
  gate.opened.count_down();
  EXPECT_EQ(frontEnd->exec(), 0);  // completed
  EXPECT_TRUE(shows("Preparati 1 di 1 file\u2026"));
  EXPECT_EQ(bar().value(), bar().maximum());
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(batches(), 1u);
}

// The bar on a terminal: the status line's progress text, from first sight to a failure.
TEST(ProgressTextTest, PercentBytesAndRateOrABusyBar) {
  const std::uint64_t all = 3'060'000'000;
  // clang-format off
  const std::tuple<ProgressIndicator::State, int, std::string> rows[] = {
      {{.indeterminate = true}, 0, "  |"},
      {{.indeterminate = true, .bytes = 950}, 200, "  / 950 B"},
      {{.fraction = .4199, .bytes = 1'300'000'000, .totalBytes = all}, 1000, "  41% · 1,3 GB di 3,1 GB · 1,3 GB/s"},
      {{.fraction = 1, .bytes = all, .totalBytes = all}, 1500, "  100% · 3,1 GB di 3,1 GB"},
      {{.indeterminate = true, .bytes = all}, 2100, "  - 3,1 GB · 1,6 GB/s"},
      {{.indeterminate = true, .bytes = all}, 3200, "  \\ 3,1 GB"},
      {{.indeterminate = true, .bytes = 17'400'000}, 3300, "  | 17 MB"},
      {{.hidden = true, .bytes = all}, 3400, ""},
  };
  // clang-format on
  ProgressText text;
  for (const auto& [state, ms, expected] : rows)
    EXPECT_EQ(text.suffix(state, ProgressText::Clock::time_point(std::chrono::milliseconds(ms))),
              expected);
}

// Escape during a share (held in a read) cancels it: a share that stops removes its batch itself;
// one that does not (as on a stalled disk) is abandoned after the grace period, or at once on a
// further signal, and the window front end removes the batch folder itself and ends.
TEST_F(GuiShareTest, EscapeCancelsAndTheBatchIsRemovedEvenIfTheShareDoesNotStop) {
  for (const int stuck : {0, 1, 2}) {  // 2: and a SIGTERM on top
    SCOPED_TRACE(stuck);
    Gate gate;
    fs.onRead("/b", [&](const std::string&) { gate.pass(); });
    show({"a", "b"});
    ASSERT_TRUE(waitFor([&] { return gate.held && shows("Preparati 1 di 2 file\u2026"); }));
    EXPECT_EQ(batches(), 1u);
    if (!stuck) screenshot("share-in-progress");
    QTest::keyClick(&button(), Qt::Key_Escape);  // from the focused button up to the window
    EXPECT_EQ(cancelMessage(), "Preparazione annullata.");
    if (stuck == 2) raise(SIGTERM);
    if (!stuck) gate.opened.count_down();
    EXPECT_EQ(frontEnd->exec(), 130);
    EXPECT_EQ(frontEnd->abandoned(), stuck != 0);
    EXPECT_EQ(batches(), 0u);
    if (stuck) gate.opened.count_down();
    EXPECT_TRUE(waitFor([&] { return !controller->busy(); }));
  }
}

// A failure stays until the window is closed, on two lines cut with "…", the whole text on
// demand; closing it exits with 1, for a failed opening (the published batch stays) as for an
// empty selection.
TEST_F(GuiShareTest, AFailureStaysOnScreenUntilTheWindowIsClosed) {
  workspace->error = systemError(ENOENT,
                                 "/opt/Cartella condivisa dell'ufficio amministrativo/"
                                 "Archivio pratiche dell'anno in corso/Movarix.app");
  show({"fattura.pdf"});
  ASSERT_TRUE(waitFor([&] {
    return !controller->busy() && label().text().startsWith("File preparati. Apri Movarix. ");
  }));
  QApplication::processEvents();
  EXPECT_TRUE(frontEnd->window()->isVisible());
  const QStringList lines = label().displayedLines();
  EXPECT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines.last().endsWith(QChar(0x2026))) << lines.join("|").toStdString();
  EXPECT_EQ(label().toolTip(), label().text());
  screenshot("share-failed");
  EXPECT_TRUE(frontEnd->window()->close());
  EXPECT_EQ(cancelMessage(), "Preparazione annullata.");
  EXPECT_EQ(frontEnd->exec(), 1);
  EXPECT_EQ(batches(), 1u);

  show({});
  ASSERT_TRUE(waitFor([&] { return !controller->busy() && shows("Seleziona da 1 a 100 file."); }));
  QTest::mouseClick(&button(), Qt::LeftButton);
  EXPECT_EQ(frontEnd->exec(), 1);
}

}  // namespace
}  // namespace quillop::testing

// One QApplication for the whole binary: Qt allows one per process.
int main(int argc, char** argv) {
  QApplication application(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
