// What the GUI tests share: one QApplication on Qt's offscreen platform for the whole test
// binary, waiting on the event loop, screenshots, and finding the ink in a rendered image.
#pragma once

#include <QImage>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace quillop::testing {

// Runs the event loop until `done` holds or `timeoutMs` has passed; returns `done()`.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000);

// Saves `widget` as "<screenshot folder>/<name>.png" and returns that path.
std::string saveScreenshot(QWidget& widget, const std::string& name);

// The rows of `image` that hold at least one pixel clearly darker than `background`.
std::vector<int> inkRows(const QImage& image, QRgb background);

}  // namespace quillop::testing
