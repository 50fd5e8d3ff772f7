// The window front end on a real controller, real queues and real files: the window against
// the table, the progress bar, the ways a share ends and the exit statuses, and screenshots of
// the window during a share, halfway through a large copy and after a failure.
#include <gtest/gtest.h>

#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "archive/limits.h"
#include "gui_front_end.h"
#include "gui_support.h"
#include "line_limited_label.h"
#include "linux/linux_services.h"
#include "linux/linux_share_platform.h"
#include "linux/process_workspace.h"
#include "linux/qt_main_queue.h"
#include "linux/qt_media_types.h"
#include "linux/worker_queue.h"
#include "progress_text.h"
#include "share/argument_attachments.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

const std::string kInitial = "Preparazione dei file per Movarix\u2026";

class FixedBundle final : public Bundle {
 public:
  explicit FixedBundle(std::string path) : path_(std::move(path)) {}
  std::string mainBundlePath() override { return path_; }

 private:
  std::string path_;
};

// Opens nothing and reports success from a thread of its own.
class SucceedingWorkspace final : public Workspace {
 public:
  void openApplication(const std::string&, const OpenConfiguration&,
                       Completion completion) override {
    queue_.async([completion = std::move(completion)] { completion(std::nullopt); });
  }

 private:
  WorkerQueue queue_{"workspace"};
};

// Holds back every load until opened.
class Gate {
 public:
  void open() {
    std::lock_guard<std::mutex> guard(lock_);
    open_ = true;
    opened_.notify_all();
  }
  void wait() {
    std::unique_lock<std::mutex> guard(lock_);
    ++waiting_;
    opened_.wait(guard, [this] { return open_; });
  }
  bool held() {
    std::lock_guard<std::mutex> guard(lock_);
    return waiting_ > 0;
  }

 private:
  std::mutex lock_;
  std::condition_variable opened_;
  bool open_ = false;
  int waiting_ = 0;
};

class GatedAttachment final : public ItemProvider {
 public:
  GatedAttachment(std::shared_ptr<ItemProvider> inner, std::shared_ptr<Gate> gate)
      : inner_(std::move(inner)), gate_(std::move(gate)) {}
  bool hasFileUrl() const override { return inner_->hasFileUrl(); }
  void loadFileUrl(Completion completion) override {
    gate_->wait();  // on the controller's work queue, never the main thread
    inner_->loadFileUrl(std::move(completion));
  }

 private:
  std::shared_ptr<ItemProvider> inner_;
  std::shared_ptr<Gate> gate_;
};

class GuiShareTest : public ::testing::Test {
 protected:
  GuiShareTest() {
    if (const char* previous = std::getenv("XDG_DATA_HOME")) savedDataHome_ = previous;
    setenv("XDG_DATA_HOME", (temp / "data").c_str(), 1);
  }
  ~GuiShareTest() override {
    frontEnd.reset();
    // Let the jobs still queued for the main thread run, so the controller goes with the test.
    std::weak_ptr<ShareViewController> gone = controller;
    controller.reset();
    waitUntil([&] { return gone.expired(); }, 5000);
    if (savedDataHome_) {
      setenv("XDG_DATA_HOME", savedDataHome_->c_str(), 1);
    } else {
      unsetenv("XDG_DATA_HOME");
    }
  }

  std::string file(const std::string& name, const std::string& contents = "dati") {
    makeFolder(temp / "sources");
    const std::string path = temp / ("sources/" + name);
    writeFile(path, contents);
    return path;
  }
  std::shared_ptr<ItemProvider> attachment(const std::string& path) {
    return argumentAttachment(path, temp.path(), delivery);
  }

  // Shows the window for a request with these attachments; `bundle` is the extension's bundle,
  // inside a host "Movarix.app" unless the test says otherwise.
  void show(Attachments attachments, std::shared_ptr<Workspace> workspace,
            const std::string& bundle = "/opt/Movarix.app/Contents/PlugIns/QuillopShare.appex") {
    std::vector<InputItem> items;
    if (!attachments.empty()) items.push_back(InputItem{true, std::move(attachments)});
    request = std::make_shared<ShareRequest>(std::move(items));
    SharePlatform platform = linuxSharePlatform(mainQueue);
    platform.bundle = std::make_shared<FixedBundle>(bundle);
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
    for (QWidget* child : frontEnd->window()->findChildren<QWidget*>()) {
      if (auto* match = dynamic_cast<T*>(child)) found.push_back(match);
    }
    EXPECT_EQ(found.size(), 1u);
    return *found.at(0);
  }
  LineLimitedLabel& label() const { return only<LineLimitedLabel>(); }
  QPushButton& button() const { return only<QPushButton>(); }
  QProgressBar& bar() const { return only<QProgressBar>(); }
  bool shows(const std::string& text) const {
    return label().text() == QString::fromStdString(text);
  }
  // Waits until the controller has nothing left to run.
  bool idle() {
    return waitUntil([this] { return !controller->busy(); });
  }
  std::string cancelMessage() const {
    return request->error() ? request->error()->message() : "(not cancelled)";
  }
  std::vector<std::string> batches() const {
    return listFolder(temp / "data/group-containers/K7QZ4MRX2P.ex.quillop.mac/quillop-share-inbox");
  }

  TempDir temp;
  FaultFileSystem fs;  // declared before the controller's queues, which use it
  std::optional<std::string> savedDataHome_;
  std::shared_ptr<WorkerQueue> delivery = std::make_shared<WorkerQueue>("item-loading");
  std::shared_ptr<QtMainQueue> mainQueue = std::make_shared<QtMainQueue>();
  std::shared_ptr<ShareRequest> request;
  std::shared_ptr<ShareViewController> controller;
  std::unique_ptr<GuiFrontEnd> frontEnd;
};

TEST_F(GuiShareTest, TheWindowMatchesTheTableAndACompletedShareClosesIt) {
  show({attachment(file("lettera.txt"))}, std::make_shared<SucceedingWorkspace>());
  ViewTreeWindow& window = *frontEnd->window();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(waitUntil([&] { return window.isActiveWindow(); }, 2000));
  EXPECT_EQ(window.windowTitle(), "Movarix");
  EXPECT_EQ(window.size(), QSize(430, 130));
  EXPECT_EQ(window.minimumSize(), QSize(430, 130));
  EXPECT_EQ(window.maximumSize(), QSize(430, 130));
  EXPECT_EQ(label().geometry(), QRect(24, 22, 382, 40));
  EXPECT_EQ(label().maximumLines(), 2);
  EXPECT_TRUE(shows(kInitial));
  EXPECT_EQ(button().geometry(), QRect(320, 80, 86, 30));
  EXPECT_EQ(button().text(), "Annulla");
  EXPECT_EQ(bar().geometry(), QRect(24, 85, 284, 20));
  EXPECT_EQ(window.findChildren<QWidget*>().size(), 3);

  EXPECT_EQ(frontEnd->exec(), 0);
  EXPECT_EQ(request->outcome(), ShareRequest::Outcome::completed);
  EXPECT_TRUE(shows("Preparati 1 di 1 file\u2026"));
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(batches().size(), 1u);
}

// A 1 GiB file that never touches the disk, held by the test a quarter and half of the way
// through its copy: the bar fills by bytes, the status line and the button stay as they are.
TEST_F(GuiShareTest, TheBarFillsByBytesDuringALargeCopy) {
  const std::uint64_t size = 1ULL << 30, chunks = size / kChunkSize;
  const std::string big = file("grande.iso", "");
  fs.reportSize("grande.iso", size);
  fs.virtualContent("grande.iso", size, false);
  fs.discardWrites(".bin");
  fs.setFreeSpace(2 * size);
  fs.inject({Op::copyRange, "", EXDEV});  // chunks through read(), where the hook sits
  Gate quarter, half;
  std::atomic<std::uint64_t> reads{0};
  fs.onRead("grande.iso", [&](const std::string&) {
    if (const std::uint64_t n = ++reads; n == chunks / 4 || n == chunks / 2) {
      (n == chunks / 4 ? quarter : half).wait();
    }
  });
  show({attachment(big)}, std::make_shared<SucceedingWorkspace>());
  // Held after reading chunk n, of which n - 1 are written.
  for (const int permille : {250, 500}) {
    EXPECT_TRUE(waitUntil([&] { return bar().maximum() > 0 && bar().value() >= permille - 1; }));
    EXPECT_NEAR(bar().value(), permille, 1);
    EXPECT_TRUE(bar().isVisible());
    EXPECT_TRUE(shows(kInitial));
    if (permille == 500) saveScreenshot(*frontEnd->window(), "share-large-copy-half");
    (permille == 250 ? quarter : half).open();
  }
  EXPECT_EQ(frontEnd->exec(), 0);
  EXPECT_EQ(bar().value(), bar().maximum());
  EXPECT_TRUE(shows("Preparati 1 di 1 file\u2026"));
}

// The bar on a terminal: the status line's progress text, from first sight to a failure.
TEST(ProgressTextTest, PercentBytesAndRateOrABusyBar) {
  using State = ProgressIndicator::State;
  const auto start = ProgressText::Clock::time_point();
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
      {{.hidden = true, .bytes = 3'060'000'000}, 3400, ""},
  };
  ProgressText text;
  for (const auto& row : rows) {
    EXPECT_EQ(text.suffix(row.state, start + std::chrono::milliseconds(row.ms)), row.text)
        << row.ms;
  }
  EXPECT_EQ(byteCount(17'400'000), "17 MB");
}

TEST_F(GuiShareTest, EscapeDuringAShareCancelsItAndTheBatchIsRemoved) {
  auto gate = std::make_shared<Gate>();
  Attachments attachments;
  for (int i = 1; i <= 12; ++i) {
    std::string name = "Documento ";  // appended: GCC 12 -Wrestrict false positive otherwise
    name += std::to_string(i) + ".txt";
    std::shared_ptr<ItemProvider> plain = attachment(file(name));
    attachments.push_back(i <= 3 ? plain : std::make_shared<GatedAttachment>(plain, gate));
  }
  show(std::move(attachments), std::make_shared<SucceedingWorkspace>());
  ASSERT_TRUE(waitUntil([&] { return shows("Preparati 3 di 12 file\u2026"); }));
  EXPECT_EQ(label().displayedLines(),
            QStringList{QString::fromUtf8("Preparati 3 di 12 file\u2026")});
  saveScreenshot(*frontEnd->window(), "share-in-progress");

  QTest::keyClick(&button(), Qt::Key_Escape);  // from the focused button up to the window
  EXPECT_EQ(request->outcome(), ShareRequest::Outcome::cancelled);
  EXPECT_EQ(cancelMessage(), "Preparazione annullata.");
  gate->open();
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
    show({attachment(file("a.txt")),
          std::make_shared<GatedAttachment>(attachment(file("b.txt")), gate)},
         std::make_shared<SucceedingWorkspace>());
    ASSERT_TRUE(waitUntil([&] { return shows("Preparati 1 di 2 file\u2026"); }));
    ASSERT_TRUE(waitUntil([&] { return gate->held(); }));  // else the intake stops by itself
    EXPECT_EQ(batches().size(), 1u);
    QTest::keyClick(&button(), Qt::Key_Escape);
    if (insist) raise(SIGTERM);
    EXPECT_EQ(frontEnd->exec(), 130);
    EXPECT_TRUE(frontEnd->abandoned());
    EXPECT_TRUE(controller->busy());
    EXPECT_TRUE(batches().empty());
    gate->open();
    EXPECT_TRUE(idle());
  }
}

TEST_F(GuiShareTest, AFailureStaysOnScreenUntilTheWindowIsClosed) {
  // No host executable inside a deeply named host bundle: a long system message.
  const std::string host = temp /
                           "Cartella condivisa dell'ufficio amministrativo/Archivio "
                           "pratiche dell'anno in corso/Movarix.app";
  makeFolder(host + "/Contents/PlugIns/QuillopShare.appex");
  show({attachment(file("fattura.pdf"))}, std::make_shared<ProcessWorkspace>(),
       host + "/Contents/PlugIns/QuillopShare.appex");
  ASSERT_TRUE(
      waitUntil([&] { return label().text().startsWith("File preparati. Apri Movarix. "); }));
  ASSERT_TRUE(idle());
  QApplication::processEvents();
  EXPECT_TRUE(frontEnd->window()->isVisible());
  EXPECT_EQ(request->outcome(), ShareRequest::Outcome::open);
  const QStringList lines = label().displayedLines();
  EXPECT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines.last().endsWith(QChar(0x2026))) << lines.join("|").toStdString();
  EXPECT_EQ(label().toolTip(), label().text());  // the whole message, on demand
  saveScreenshot(*frontEnd->window(), "share-failed");

  EXPECT_TRUE(frontEnd->window()->close());
  EXPECT_EQ(cancelMessage(), "Preparazione annullata.");
  EXPECT_EQ(frontEnd->exec(), 1);
  EXPECT_EQ(batches().size(), 1u);  // published before the opening failed: it stays
}

TEST_F(GuiShareTest, AnnullaAfterAnEmptySelectionExitsAsAFailure) {
  show({}, std::make_shared<SucceedingWorkspace>());
  ASSERT_TRUE(waitUntil([&] { return shows("Seleziona da 1 a 100 file."); }));
  ASSERT_TRUE(idle());
  QApplication::processEvents();
  EXPECT_FALSE(frontEnd->finished());
  QTest::mouseClick(&button(), Qt::LeftButton);
  EXPECT_EQ(cancelMessage(), "Preparazione annullata.");
  EXPECT_EQ(frontEnd->exec(), 1);
}

}  // namespace
}  // namespace quillop::testing
