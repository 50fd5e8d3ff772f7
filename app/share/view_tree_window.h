// A top-level Qt dialog that renders a toolkit-neutral view tree: the root view gives the
// window's fixed size, each text field becomes a LineLimitedLabel (its maximum number of lines
// kept), each button a QPushButton that presses the tree's button, each progress indicator a
// QProgressBar without text named "Avanzamento" (busy while indeterminate), every other view a
// plain container. Frames are converted from the tree's bottom-left origin to Qt's top-left one
// (y = parent height - y - height). The labels and bars follow every later change of their view;
// once a bar hides (a failure replaces the progress), the labels become alerts.
//
// The frames hold at the standard font. Where the font needs more room, a direct child of the
// window grows to fit (a label to its lines at the font's line spacing, a button to its size
// hint), and the window with it: what lies below a grown view moves down, what lies right of it
// moves right, what shares its right edge widens, what sits beside it stays centred on its row.
//
// Return or Enter presses the focused button, or the first one; Escape and closing the window
// run the cancel action (when one is set); the close is accepted, so the window hides. The first
// time the window is exposed on screen (mapped, not merely asked to show), the appear action
// runs once, from the event loop.
//
// Qt main thread only; the tree must be changed on that thread too. The window holds the views
// it renders and removes its observers when it is destroyed, so the tree may outlive it.
#pragma once

#include <QDialog>
#include <functional>
#include <memory>
#include <vector>

#include "share/view_tree.h"

namespace quillop {

class ViewTreeWindow : public QDialog {
 public:
  explicit ViewTreeWindow(std::shared_ptr<View> root, QWidget* parent = nullptr);
  ~ViewTreeWindow() override;

  void setCancelAction(std::function<void()> action) { cancelAction_ = std::move(action); }
  void setAppearAction(std::function<void()> action) { appearAction_ = std::move(action); }

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void reject() override;

 private:
  void render(const std::shared_ptr<View>& view, QWidget* parent, double parentHeight);
  // Grows the children whose content does not fit their frame at the current font.
  void fitContent();
  void grow(QWidget* widget, QSize by);

  std::shared_ptr<View> root_;
  // Whose observers point into this window.
  std::vector<std::shared_ptr<TextField>> fields_;
  std::vector<std::shared_ptr<ProgressIndicator>> indicators_;
  std::function<void()> cancelAction_;
  std::function<void()> appearAction_;
  bool appeared_ = false;
};

}  // namespace quillop
