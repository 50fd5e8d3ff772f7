#include "share/view_tree.h"

namespace quillop {

std::shared_ptr<TextField> TextField::labelWithString(std::string text) {
  auto label = std::make_shared<TextField>();
  label->text_ = std::move(text);
  return label;
}

void TextField::setText(std::string text) {
  text_ = std::move(text);
  if (observer_) observer_(text_);
}

std::shared_ptr<Button> Button::buttonWithTitle(std::string title, std::function<void()> action) {
  auto button = std::make_shared<Button>();
  button->title_ = std::move(title);
  button->action_ = std::move(action);
  return button;
}

void ProgressIndicator::setState(const State& state) {
  if (state == state_) return;
  state_ = state;
  if (observer_) observer_(state_);
}

void Button::press() const {
  if (action_) action_();
}

}  // namespace quillop
