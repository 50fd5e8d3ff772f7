// A toolkit-neutral view tree: what a front end renders. Frames are in points, origin at the
// parent's lower-left corner, y growing upwards (a top-left toolkit flips y).
//
// Views are created and changed on the main thread only; the observer of a text field or a
// progress indicator is called there, synchronously, after each change.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillop {

struct Rect {
  double x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Rect&) const = default;
};

class View {
 public:
  explicit View(Rect frame = {}) : frame_(frame) {}
  virtual ~View() = default;
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  const Rect& frame() const { return frame_; }
  void setFrame(Rect frame) { frame_ = frame; }
  const std::vector<std::shared_ptr<View>>& subviews() const { return subviews_; }
  void addSubview(std::shared_ptr<View> view) { subviews_.push_back(std::move(view)); }

 private:
  Rect frame_;
  std::vector<std::shared_ptr<View>> subviews_;
};

// A label: non-editable text shown on at most `maximumNumberOfLines` lines (0: no limit).
class TextField : public View {
 public:
  using Observer = std::function<void(const std::string& text)>;

  static std::shared_ptr<TextField> labelWithString(std::string text);

  const std::string& text() const { return text_; }
  void setText(std::string text);
  int maximumNumberOfLines() const { return maximumNumberOfLines_; }
  void setMaximumNumberOfLines(int lines) { maximumNumberOfLines_ = lines; }
  // One observer; a new one replaces the old.
  void setObserver(Observer observer) { observer_ = std::move(observer); }

 private:
  std::string text_;
  int maximumNumberOfLines_ = 0;
  Observer observer_;
};

// A push button; `press` runs its action (nothing when it has none).
class Button : public View {
 public:
  static std::shared_ptr<Button> buttonWithTitle(std::string title, std::function<void()> action);

  const std::string& title() const { return title_; }
  void press() const;

 private:
  std::string title_;
  std::function<void()> action_;
};

// A bar for long work: determinate (`fraction` of the work done, 0 to 1) or indeterminate
// (busy, how much is left not known), or hidden. It also carries the byte counts behind it, for
// front ends that print them.
class ProgressIndicator : public View {
 public:
  struct State {
    bool hidden = false;
    bool indeterminate = false;
    double fraction = 0;           // when determinate
    std::uint64_t bytes = 0;       // done so far
    std::uint64_t totalBytes = 0;  // of the whole work; 0 while not known
    bool operator==(const State&) const = default;
  };
  using Observer = std::function<void(const State& state)>;

  explicit ProgressIndicator(Rect frame) : View(frame) {}
  const State& state() const { return state_; }
  // Calls the observer when the state changes.
  void setState(const State& state);
  // One observer; a new one replaces the old.
  void setObserver(Observer observer) { observer_ = std::move(observer); }

 private:
  State state_;
  Observer observer_;
};

// The first view of type T in `root`'s tree, depth first (root included); null when none.
template <typename T>
std::shared_ptr<T> findView(const std::shared_ptr<View>& root) {
  if (auto match = std::dynamic_pointer_cast<T>(root)) return match;
  for (const auto& child : root->subviews()) {
    if (auto match = findView<T>(child)) return match;
  }
  return nullptr;
}

}  // namespace quillop
