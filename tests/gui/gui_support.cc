#include "gui_support.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QWidget>
#include <filesystem>

#ifndef QUILLOP_SCREENSHOT_DIR
#error "QUILLOP_SCREENSHOT_DIR names the folder of the screenshots"
#endif

namespace quillop::testing {
namespace {

// The application lives from the first test to the last; Qt allows only one per process.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    application_ = new QApplication(argc_, argv_);
  }
  void TearDown() override {
    delete application_;
    application_ = nullptr;
  }

 private:
  int argc_ = 1;
  char name_[9] = "gui_test";
  char* argv_[2] = {name_, nullptr};
  QApplication* application_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
  QDeadlineTimer deadline(timeoutMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

std::string saveScreenshot(QWidget& widget, const std::string& name) {
  std::filesystem::create_directories(QUILLOP_SCREENSHOT_DIR);
  const std::string path = std::string(QUILLOP_SCREENSHOT_DIR) + "/" + name + ".png";
  EXPECT_TRUE(widget.grab().save(QString::fromStdString(path), "PNG")) << path;
  return path;
}

std::vector<int> inkRows(const QImage& image, QRgb background) {
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  const int backgroundGray = qGray(background);
  std::vector<int> rows;
  for (int y = 0; y < rgb.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    for (int x = 0; x < rgb.width(); ++x) {
      if (backgroundGray - qGray(line[x]) > 60) {
        rows.push_back(y);
        break;
      }
    }
  }
  return rows;
}

}  // namespace quillop::testing
