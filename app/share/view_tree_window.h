// A top-level Qt window that renders a toolkit-neutral view tree: the root view gives the
// window's fixed size, each text field becomes a LineLimitedLabel (its maximum number of lines
// kept), each button a QPushButton that presses the tree's button, each progress indicator a
// QProgressBar without text (busy while indeterminate), every other view a plain container.
// Frames are converted from the tree's bottom-left origin to Qt's top-left one
// (y = parent height - y - height). The labels and bars follow every later change of their view.
//
// Closing the window or pressing Escape runs the cancel action (when one is set); the close is
// accepted, so the window hides. After the window has been shown for the first time, the appear
// action runs once, from the event loop, after the show has been handled.
//
// Qt main thread only; the tree must be changed on that thread too. The window holds the views
// it renders and removes its observers when it is destroyed, so the tree may outlive it.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "share/view_tree.h"

namespace quillop {

class ViewTreeWindow : public QWidget {
 public:
  explicit ViewTreeWindow(std::shared_ptr<View> root, QWidget* parent = nullptr);
  ~ViewTreeWindow() override;

  void setCancelAction(std::function<void()> action) { cancelAction_ = std::move(action); }
  void setAppearAction(std::function<void()> action) { appearAction_ = std::move(action); }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void render(const std::shared_ptr<View>& view, QWidget* parent, double parentHeight);

  std::shared_ptr<View> root_;
  // Whose observers point into this window.
  std::vector<std::shared_ptr<TextField>> fields_;
  std::vector<std::shared_ptr<ProgressIndicator>> indicators_;
  std::function<void()> cancelAction_;
  std::function<void()> appearAction_;
  bool appeared_ = false;
};

}  // namespace quillop
