// The status line of the terminal front end, on one descriptor (stderr). On a terminal each
// new text replaces the previous one in place; otherwise each text is one line of its own.
// Control characters in a text (C1 included) and bytes of ill-formed UTF-8 are shown as "?", so a
// file name cannot move the cursor or split the line. Main thread only.
#pragma once

#include <string>

namespace quillop {

class StatusLine {
 public:
  explicit StatusLine(int fd);
  // True when the descriptor is a terminal.
  bool terminal() const { return terminal_; }
  void show(const std::string& text);
  // Ends the line on a terminal, so that the shell prompt starts on a line of its own.
  void finish();

 private:
  int columns() const;
  void write(const std::string& bytes);

  int fd_;
  bool terminal_;
  int rows_ = 0;  // rows the text on screen takes, 0 when nothing is shown
};

}  // namespace quillop
