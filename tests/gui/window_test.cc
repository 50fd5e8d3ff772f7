// The window front end on a real controller, real queues and real files: the window against
// its table, the progress bar and its text, the ways a share ends and their exit statuses, the
// two-line status text, and screenshots of the window during a share, halfway through a large
// copy and after a failure (in <build>/screenshots).
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QFontMetrics>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <atomic>
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
const QString kEllipsis = QString(QChar(0x2026));

// One QApplication for the whole binary: Qt allows one per process.
[[maybe_unused]] ::testing::Environment* const qt = ::testing::AddGlobalTestEnvironment([] {
  struct Qt : ::testing::Environment {
    int argc = 1;
    char name[9] = "gui_test";
    char* argv[2] = {name, nullptr};
    std::unique_ptr<QApplication> application;
    void SetUp() override { application = std::make_unique<QApplication>(argc, argv); }
    void TearDown() override { application.reset(); }
  };
  return new Qt;
}());

// Runs the event loop until `done` holds or `timeoutMs` has passed; returns `done()`.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done() && !deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return done();
}

void saveScreenshot(QWidget& widget, const std::string& name) {
  std::filesystem::create_directories(QUILLOP_SCREENSHOT_DIR);
  EXPECT_TRUE(
      widget.grab().save(QString::fromStdString(QUILLOP_SCREENSHOT_DIR "/" + name + ".png")));
}

// Holds back whoever passes it (a load on the controller's work queue, a read) until opened.
struct Gate {
  std::promise<void> opened;
  std::shared_future<void> future = opened.get_future().share();
  std::atomic<bool> held{false};
  void pass() {
    held = true;
    future.wait();
  }
};

class GatedAttachment final : public ItemProvider {
 public:
  GatedAttachment(std::shared_ptr<ItemProvider> inner, std::shared_ptr<Gate> gate)
      : inner_(std::move(inner)), gate_(std::move(gate)) {}
  bool hasFileUrl() const override { return inner_->hasFileUrl(); }
  void loadFileUrl(Completion completion) override {
    gate_->pass();
    inner_->loadFileUrl(std::move(completion));
  }

 private:
  std::shared_ptr<ItemProvider> inner_;
  std::shared_ptr<Gate> gate_;
};

class GuiShareTest : public ::testing::Test {
 protected:
  GuiShareTest() {
    temp.setEnv("XDG_DATA_HOME", temp / "data");
    makeFolder(temp / "src");
  }
  ~GuiShareTest() override {
    frontEnd.reset();
    // Let the jobs still queued for the main thread run, so the controller goes with the test.
    std::weak_ptr<ShareViewController> gone = controller;
    controller.reset();
    waitUntil([&] { return gone.expired(); }, 5000);
  }

  std::shared_ptr<ItemProvider> attachment(const std::string& name,
                                           std::shared_ptr<Gate> gate = {}) {
    writeFile(temp / ("src/" + name), "dati");
    auto plain = argumentAttachment(temp / ("src/" + name), "/", delivery);
    return gate ? std::make_shared<GatedAttachment>(plain, gate) : plain;
  }
  // Shows the window for these attachments, the extension inside the host bundle `host`.
  void show(Attachments attachments,
            std::shared_ptr<Workspace> workspace = std::make_shared<FakeWorkspace>(true),
            const std::string& host = "/opt/Movarix.app") {
    std::vector<InputItem> items;
    if (!attachments.empty()) items.push_back(InputItem{true, std::move(attachments)});
    request = std::make_shared<ShareRequest>(std::move(items));
    SharePlatform platform = linuxSharePlatform(mainQueue);
    auto bundle = std::make_shared<FakeBundle>();
    bundle->path = host + "/Contents/PlugIns/QuillopShare.appex";
    platform.bundle = bundle;
    platform.workspace = std::move(workspace);
    platform.fileSystem = &fs;
    controller = ShareViewController::create(platform);
    controller->setExtensionContext(request);
    frontEnd = std::make_unique<GuiFrontEnd>(controller, request, mainQueue);
    frontEnd->show();
  }

  // The window's one widget of type T (dynamic_cast: the label has no meta-object of its own).
  template <typename T>
  T& only() const {
    std::vector<T*> found;
    for (QWidget* child : frontEnd->window()->findChildren<QWidget*>())
      if (auto* match = dynamic_cast<T*>(child)) found.push_back(match);
    EXPECT_EQ(found.size(), 1u);
    return *found.at(0);
  }
  LineLimitedLabel& label() const { return only<LineLimitedLabel>(); }
  QPushButton& button() const { return only<QPushButton>(); }
  QProgressBar& bar() const { return only<QProgressBar>(); }
  bool shows(const std::string& text) const {
    return label().text() == QString::fromStdString(text);
  }
  bool idle() {
    return waitUntil([this] { return !controller->busy(); });
  }
  std::string cancelMessage() const {
    return request->error() ? request->error()->message() : "(not cancelled)";
  }
  std::vector<std::string> batches() const { return listFolder(inboxIn(temp / "data")); }

  TempDir temp;
  FaultFileSystem fs;  // declared before the controller's queues, which use it
  std::shared_ptr<WorkerQueue> delivery = std::make_shared<WorkerQueue>("item-loading");
  std::shared_ptr<QtMainQueue> mainQueue = std::make_shared<QtMainQueue>();
  std::shared_ptr<ShareRequest> request;
  std::shared_ptr<ShareViewController> controller;
  std::unique_ptr<GuiFrontEnd> frontEnd;
};

TEST_F(GuiShareTest, TheWindowMatchesTheTableAndACompletedShareClosesIt) {
  show({attachment("lettera.txt")});
  ViewTreeWindow& window = *frontEnd->window();
  EXPECT_TRUE(waitUntil([&] { return window.isActiveWindow(); }, 2000));
  EXPECT_EQ(window.windowTitle(), "Movarix");
  EXPECT_EQ(window.minimumSize(), QSize(430, 130));
  EXPECT_EQ(window.maximumSize(), QSize(430, 130));
  EXPECT_EQ(label().geometry(), QRect(24, 22, 382, 40));
  EXPECT_EQ(button().geometry(), QRect(320, 80, 86, 30));
  EXPECT_EQ(bar().geometry(), QRect(24, 85, 284, 20));
  EXPECT_EQ(button().text(), "Annulla");
  EXPECT_TRUE(shows(kInitial));
  EXPECT_EQ(window.findChildren<QWidget*>().size(), 3);

  EXPECT_EQ(frontEnd->exec(), 0);
  EXPECT_EQ(request->outcome(), ShareRequest::Outcome::completed);
  EXPECT_TRUE(shows("Preparati 1 di 1 file\u2026"));
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(batches().size(), 1u);
}

// A 1 GiB file that never touches the disk, held a quarter and half of the way through its
// copy: the bar fills by bytes, the status line and the button stay as they are.
TEST_F(GuiShareTest, TheBarFillsByBytesDuringALargeCopy) {
  const std::uint64_t size = 1ULL << 30, chunks = size / kChunkSize;
  fs.reportSize("grande.iso", size);
  fs.virtualContent("grande.iso", size, false);
  fs.discardWrites(".bin");
  fs.setFreeSpace(2 * size);
  fs.inject({Op::copyRange, "", EXDEV});  // chunks through read(), where the hook sits
  Gate gates[2];
  std::atomic<std::uint64_t> reads{0};
  fs.onRead("grande.iso", [&](const std::string&) {
    if (const std::uint64_t n = ++reads; n == chunks / 4 || n == chunks / 2)
      gates[n == chunks / 2].pass();
  });
  show({attachment("grande.iso")});
  for (const int permille : {250, 500}) {  // held after reading chunk n, n - 1 written
    EXPECT_TRUE(waitUntil([&] { return bar().maximum() > 0 && bar().value() >= permille - 1; }));
    EXPECT_NEAR(bar().value(), permille, 1);
    EXPECT_TRUE(bar().isVisible());
    EXPECT_TRUE(shows(kInitial));
    if (permille == 500) saveScreenshot(*frontEnd->window(), "share-large-copy-half");
    gates[permille == 500].opened.set_value();
  }
  EXPECT_EQ(frontEnd->exec(), 0);
  EXPECT_EQ(bar().value(), bar().maximum());
}

// The bar on a terminal: the status line's progress text, from first sight to a failure.
TEST(ProgressTextTest, PercentBytesAndRateOrABusyBar) {
  using State = ProgressIndicator::State;
  const struct {
    State state;
    int ms;
    std::string text;
  } rows[] = {
      {{.indeterminate = true}, 0, "  |"},
      {{.indeterminate = true, .bytes = 950}, 200, "  / 950 B"},
      {{.fraction = 0.4199, .bytes = 1'300'000'000, .totalBytes = 3'060'000'000},
       1000,
       "  41% \u00b7 1,3 GB di 3,1 GB \u00b7 1,3 GB/s"},
      {{.fraction = 1, .bytes = 3'060'000'000, .totalBytes = 3'060'000'000},
       1500,
       "  100% \u00b7 3,1 GB di 3,1 GB"},
      {{.indeterminate = true, .bytes = 3'060'000'000}, 2100, "  - 3,1 GB \u00b7 1,6 GB/s"},
      {{.indeterminate = true, .bytes = 3'060'000'000}, 3200, "  \\ 3,1 GB"},
      {{.indeterminate = true, .bytes = 17'400'000}, 3300, "  | 17 MB"},
      {{.hidden = true, .bytes = 3'060'000'000}, 3400, ""},
  };
  ProgressText text;
  for (const auto& row : rows)
    EXPECT_EQ(text.suffix(row.state,
                          ProgressText::Clock::time_point() + std::chrono::milliseconds(row.ms)),
              row.text)
        << row.ms;
}

// Two lines at most, cut with "…", the second carrying on where the first stopped.
TEST(LineLimitedLabelTest, LongTextsShowTwoLinesEndingInAnEllipsis) {
  const QFont font = QApplication::font();
  const QString progress = QString::fromUtf8("Preparati 3 di 12 file\u2026");
  for (const QString& text :
       {progress, QString(300, 'x').prepend(QString::fromUtf8("àèìòù")),
        QString::fromUtf8("Prima riga del messaggio\nseconda riga\nterza riga\nquarta riga"),
        QString::fromUtf8(
            "File preparati. Apri Movarix. Impossibile avviare /home/utente/Applicazioni/"
            "Movarix.app/Contents/MacOS/Movarix: il file non esiste (errore 2)")}) {
    SCOPED_TRACE(text.toStdString());
    const QStringList lines = LineLimitedLabel::wrap(text, font, 382, 2);
    if (text == progress) {
      EXPECT_EQ(lines, QStringList{progress});
      continue;
    }
    ASSERT_EQ(lines.size(), 2);
    for (const QString& line : lines) EXPECT_LE(QFontMetrics(font).horizontalAdvance(line), 382);
    EXPECT_TRUE(text.startsWith(lines[0]));
    EXPECT_TRUE(lines[1].endsWith(kEllipsis));
    EXPECT_NE(text.indexOf(lines[1].chopped(1), lines[0].size()), -1);
    EXPECT_GE(LineLimitedLabel::wrap(text, font, 382, 0).size(), 3);  // no limit: every line
  }
}

TEST_F(GuiShareTest, EscapeDuringAShareCancelsItAndTheBatchIsRemoved) {
  auto gate = std::make_shared<Gate>();
  Attachments attachments;
  for (int i = 1; i <= 12; ++i)
    attachments.push_back(attachment(std::to_string(i) + ".txt", i > 3 ? gate : nullptr));
  show(std::move(attachments));
  ASSERT_TRUE(waitUntil([&] { return shows("Preparati 3 di 12 file\u2026"); }));
  EXPECT_EQ(label().displayedLines(),
            QStringList{QString::fromUtf8("Preparati 3 di 12 file\u2026")});
  saveScreenshot(*frontEnd->window(), "share-in-progress");

  QTest::keyClick(&button(), Qt::Key_Escape);  // from the focused button up to the window
  EXPECT_EQ(request->outcome(), ShareRequest::Outcome::cancelled);
  EXPECT_EQ(cancelMessage(), "Preparazione annullata.");
  gate->opened.set_value();
  EXPECT_EQ(frontEnd->exec(), 130);
  EXPECT_TRUE(batches().empty());
}

// A share that does not stop after "Annulla" (held here where a stalled read would hang) is
// abandoned after the grace period, or at once on a further signal: the window front end
// removes the batch folder itself and ends.
TEST_F(GuiShareTest, AShareThatDoesNotStopIsAbandonedWithoutItsBatch) {
  for (const bool insist : {false, true}) {
    SCOPED_TRACE(insist);
    auto gate = std::make_shared<Gate>();
    show({attachment("a.txt"), attachment("b.txt", gate)});
    ASSERT_TRUE(waitUntil([&] { return shows("Preparati 1 di 2 file\u2026"); }));
    ASSERT_TRUE(waitUntil([&] { return gate->held.load(); }));  // else the intake stops by itself
    EXPECT_EQ(batches().size(), 1u);
    QTest::keyClick(&button(), Qt::Key_Escape);
    if (insist) raise(SIGTERM);
    EXPECT_EQ(frontEnd->exec(), 130);
    EXPECT_TRUE(frontEnd->abandoned());
    EXPECT_TRUE(controller->busy());
    EXPECT_TRUE(batches().empty());
    gate->opened.set_value();
    EXPECT_TRUE(idle());
  }
}

// A failure stays until the window is closed; its status is 1, for a failed opening (the batch,
// published, stays) as for an empty selection.
TEST_F(GuiShareTest, AFailureStaysOnScreenUntilTheWindowIsClosed) {
  // No host executable inside a deeply named host bundle: a long system message.
  const std::string host = temp /
                           "Cartella condivisa dell'ufficio amministrativo/Archivio "
                           "pratiche dell'anno in corso/Movarix.app";
  makeFolder(host + "/Contents/PlugIns/QuillopShare.appex");
  show({attachment("fattura.pdf")}, std::make_shared<ProcessWorkspace>(), host);
  ASSERT_TRUE(
      waitUntil([&] { return label().text().startsWith("File preparati. Apri Movarix. "); }));
  ASSERT_TRUE(idle());
  QApplication::processEvents();
  EXPECT_TRUE(frontEnd->window()->isVisible());
  EXPECT_EQ(request->outcome(), ShareRequest::Outcome::open);
  EXPECT_EQ(label().displayedLines().size(), 2);
  EXPECT_EQ(label().toolTip(), label().text());  // the whole message, on demand
  saveScreenshot(*frontEnd->window(), "share-failed");
  EXPECT_TRUE(frontEnd->window()->close());
  EXPECT_EQ(cancelMessage(), "Preparazione annullata.");
  EXPECT_EQ(frontEnd->exec(), 1);
  EXPECT_EQ(batches().size(), 1u);

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
