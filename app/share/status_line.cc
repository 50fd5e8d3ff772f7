#include "status_line.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/unicode.h"

namespace quillop {

StatusLine::StatusLine(int fd) : fd_(fd), terminal_(isatty(fd) == 1) {}

int StatusLine::columns() const {
  winsize size{};
  if (ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

void StatusLine::show(const std::string& text) {
  const std::string line = printableText(text);
  if (!terminal_) {
    write(line + "\n");
    return;
  }
  std::string bytes = "\r";
  for (int row = 1; row < rows_; ++row) bytes += "\033[A";
  bytes += "\033[J" + line;
  write(bytes);
  rows_ = terminalRows(line, columns());
}

void StatusLine::finish() {
  if (terminal_ && rows_ > 0) write("\n");
  rows_ = 0;
}

void StatusLine::write(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to report to: the status line is the only report
    done += static_cast<size_t>(n);
  }
}

}  // namespace quillop
