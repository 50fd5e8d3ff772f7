// The window front end on a real controller, real queues and real files: the window against
// its table, the progress bar and its text, the ways a share ends and their exit statuses, and
// screenshots during a share, halfway through a large copy and after a failure.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <csignal>
#include <filesystem>
#include <future>

#include "archive/limits.h"
#include "e2e_support.h"
#include "fake_platform.h"
#include "gui_front_end.h"
#include "line_limited_label.h"
#include "linux/linux_share_platform.h"
#include "linux/process_workspace.h"
#include "linux/qt_main_queue.h"
#include "progress_text.h"
#include "share/argument_attachments.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

const std::string kInitial = "Preparazione dei file per Movarix\u2026";

bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done() && !deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

// Holds back the thread that passes it (a read on the controller's work queue) until opened.
struct Gate {
  std::promise<void> opened;
  std::shared_future<void> future = opened.get_future().share();
  std::atomic<bool> held{false};
  void pass() { held = true, future.wait(); }
};

class GuiShareTest : public ::testing::Test {
 protected:
  GuiShareTest() { temp.setEnv("XDG_DATA_HOME", temp / "data"); }
  ~GuiShareTest() override {
    frontEnd.reset();  // the jobs still queued for the main thread run, the controller goes
    std::weak_ptr<ShareViewController> gone = std::exchange(controller, nullptr);
    waitUntil([&] { return gone.expired(); }, 5000);
  }

  // Shows the window for files of these names, inside the host bundle `host`.
  void show(const std::vector<std::string>& names, const std::string& host = "/opt/Movarix.app",
            std::shared_ptr<Workspace> workspace = std::make_shared<FakeWorkspace>(true)) {
    InputItem item{true, {}};
    for (const std::string& name : names) {
      writeFile(temp / name, "dati");
      item.attachments.push_back(argumentAttachment(temp / name, "/", delivery));
    }
    request = std::make_shared<ShareRequest>(names.empty() ? std::vector<InputItem>{}
                                                           : std::vector<InputItem>{item});
    SharePlatform platform = linuxSharePlatform(mainQueue);
    auto bundle = std::make_shared<FakeBundle>();
    bundle->path = host + "/Contents/PlugIns/QuillopShare.appex";
    platform.bundle = bundle;
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
  void screenshot(const std::string& name) {
    std::filesystem::create_directories(QUILLOP_SCREENSHOT_DIR);
    EXPECT_TRUE(frontEnd->window()->grab().save(
        QString::fromStdString(QUILLOP_SCREENSHOT_DIR "/" + name + ".png")));
  }
  bool idle() {
    return waitUntil([this] { return !controller->busy(); });
  }
  std::string cancelMessage() const {
    return request->error() ? request->error()->message() : "(not cancelled)";
  }
  size_t batches() const { return listFolder(inboxIn(temp / "data")).size(); }

  TempDir temp;
  FaultFileSystem fs;  // declared before the controller's queues, which use it
  std::shared_ptr<WorkerQueue> delivery = std::make_shared<WorkerQueue>("item-loading");
  std::shared_ptr<QtMainQueue> mainQueue = std::make_shared<QtMainQueue>();
  std::shared_ptr<ShareRequest> request;
  std::shared_ptr<ShareViewController> controller;
  std::unique_ptr<GuiFrontEnd> frontEnd;
};

TEST_F(GuiShareTest, TheWindowMatchesTheTableAndACompletedShareClosesIt) {
  show({"lettera.txt"});
  ViewTreeWindow& window = *frontEnd->window();
  EXPECT_TRUE(waitUntil([&] { return window.isActiveWindow(); }, 2000));
  EXPECT_EQ(window.windowTitle(), "Movarix");
  EXPECT_EQ(window.minimumSize(), QSize(430, 130));
  EXPECT_EQ(window.maximumSize(), QSize(430, 130));
  EXPECT_EQ(window.findChildren<QWidget*>().size(), 3);
  EXPECT_EQ(label().geometry(), QRect(24, 22, 382, 40));
  EXPECT_EQ(button().geometry(), QRect(320, 80, 86, 30));
  EXPECT_EQ(bar().geometry(), QRect(24, 85, 284, 20));
  EXPECT_EQ(button().text(), "Annulla");
  EXPECT_TRUE(shows(kInitial));
  EXPECT_EQ(frontEnd->exec(), 0);
  EXPECT_EQ(request->outcome(), ShareRequest::Outcome::completed);
  EXPECT_TRUE(shows("Preparati 1 di 1 file\u2026"));
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(batches(), 1u);
}

// A 1 GiB file that never touches the disk, held a quarter and half of the way through its
// copy: the bar fills by bytes, the status line stays as it is.
TEST_F(GuiShareTest, TheBarFillsByBytesDuringALargeCopy) {
  const std::uint64_t size = 1ULL << 30, chunks = size / kChunkSize;
  fs.reportSize("grande.iso", size);
  fs.virtualContent("grande.iso", size, false);
  fs.discardWrites(".bin");
  fs.setFreeSpace(2 * size);
  Gate gates[2];
  std::atomic<std::uint64_t> reads{0};
  fs.onRead("grande.iso", [&](const std::string&) {
    if (const std::uint64_t n = ++reads; n == chunks / 4 || n == chunks / 2)
      gates[n == chunks / 2].pass();
  });
  show({"grande.iso"});
  for (const int permille : {250, 500}) {  // held after reading chunk n, n - 1 written
    EXPECT_TRUE(waitUntil([&] { return bar().maximum() > 0 && bar().value() >= permille - 1; }));
    EXPECT_NEAR(bar().value(), permille, 1);
    EXPECT_TRUE(bar().isVisible());
    EXPECT_TRUE(shows(kInitial));
    if (permille == 500) screenshot("share-large-copy-half");
    gates[permille == 500].opened.set_value();
  }
  EXPECT_EQ(frontEnd->exec(), 0);
  EXPECT_EQ(bar().value(), bar().maximum());
}

// The bar on a terminal: the status line's progress text, from first sight to a failure.
TEST(ProgressTextTest, PercentBytesAndRateOrABusyBar) {
  using State = ProgressIndicator::State;
  const std::uint64_t total = 3'060'000'000;
  const struct {
    State state;
    int ms;
    std::string text;
  } rows[] = {
      {{.indeterminate = true}, 0, "  |"},
      {{.indeterminate = true, .bytes = 950}, 200, "  / 950 B"},
      {{.fraction = 0.4199, .bytes = 1'300'000'000, .totalBytes = total},
       1000,
       "  41% \u00b7 1,3 GB di 3,1 GB \u00b7 1,3 GB/s"},
      {{.fraction = 1, .bytes = total, .totalBytes = total},
       1500,
       "  100% \u00b7 3,1 GB di 3,1 GB"},
      {{.indeterminate = true, .bytes = total}, 2100, "  - 3,1 GB \u00b7 1,6 GB/s"},
      {{.indeterminate = true, .bytes = total}, 3200, "  \\ 3,1 GB"},
      {{.indeterminate = true, .bytes = 17'400'000}, 3300, "  | 17 MB"},
      {{.hidden = true, .bytes = total}, 3400, ""},
  };
  ProgressText text;
  for (const auto& [state, ms, expected] : rows)
    EXPECT_EQ(text.suffix(state, ProgressText::Clock::time_point(std::chrono::milliseconds(ms))),
              expected);
}

TEST_F(GuiShareTest, EscapeDuringAShareCancelsItAndTheBatchIsRemoved) {
  Gate gate;
  fs.onRead("/4", [&](const std::string&) { gate.pass(); });
  show({"1", "2", "3", "4", "5"});
  ASSERT_TRUE(waitUntil([&] { return shows("Preparati 3 di 5 file\u2026"); }));
  EXPECT_EQ(label().displayedLines(),
            QStringList{QString::fromUtf8("Preparati 3 di 5 file\u2026")});
  screenshot("share-in-progress");
  QTest::keyClick(&button(), Qt::Key_Escape);  // from the focused button up to the window
  EXPECT_EQ(request->outcome(), ShareRequest::Outcome::cancelled);
  EXPECT_EQ(cancelMessage(), "Preparazione annullata.");
  gate.opened.set_value();
  EXPECT_EQ(frontEnd->exec(), 130);
  EXPECT_EQ(batches(), 0u);
}

// A share that does not stop after "Annulla" (held in a read, as a stalled disk would) is
// abandoned after the grace period, or at once on a further signal: the window front end
// removes the batch folder itself and ends.
TEST_F(GuiShareTest, AShareThatDoesNotStopIsAbandonedWithoutItsBatch) {
  for (const bool insist : {false, true}) {
    SCOPED_TRACE(insist);
    Gate gate;
    fs.onRead("/b", [&](const std::string&) { gate.pass(); });
    show({"a", "b"});
    ASSERT_TRUE(waitUntil([&] { return gate.held.load(); }));  // else the intake ends by itself
    EXPECT_EQ(batches(), 1u);
    QTest::keyClick(&button(), Qt::Key_Escape);
    if (insist) raise(SIGTERM);
    EXPECT_EQ(frontEnd->exec(), 130);
    EXPECT_TRUE(frontEnd->abandoned());
    EXPECT_TRUE(controller->busy());
    EXPECT_EQ(batches(), 0u);
    gate.opened.set_value();
    EXPECT_TRUE(idle());
  }
}

// A failure stays until the window is closed, on two lines cut with "…", the whole text on
// demand; closing it exits with 1, for a failed opening (the published batch stays) as for an
// empty selection.
TEST_F(GuiShareTest, AFailureStaysOnScreenUntilTheWindowIsClosed) {
  const std::string host = temp /
                           "Cartella condivisa dell'ufficio amministrativo/Archivio "
                           "pratiche dell'anno in corso/Movarix.app";  // no executable
  show({"fattura.pdf"}, host, std::make_shared<ProcessWorkspace>());
  ASSERT_TRUE(
      waitUntil([&] { return label().text().startsWith("File preparati. Apri Movarix. "); }));
  ASSERT_TRUE(idle());
  QApplication::processEvents();
  EXPECT_TRUE(frontEnd->window()->isVisible());
  EXPECT_EQ(request->outcome(), ShareRequest::Outcome::open);
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
  ASSERT_TRUE(waitUntil([&] { return shows("Seleziona da 1 a 100 file."); }));
  ASSERT_TRUE(idle());
  QApplication::processEvents();
  EXPECT_FALSE(frontEnd->finished());
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
