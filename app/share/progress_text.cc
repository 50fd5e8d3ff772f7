#include "progress_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quillop {

std::string ProgressText::suffix(const ProgressIndicator::State& state, Clock::time_point now) {
  if (state.hidden) return "";
  if (!since_) {
    since_ = now;
    sinceBytes_ = state.bytes;
  } else if (now - *since_ >= std::chrono::seconds(1)) {
    const double seconds = std::chrono::duration<double>(now - *since_).count();
    rate_ = static_cast<double>(state.bytes - std::min(state.bytes, sinceBytes_)) / seconds;
    since_ = now;
    sinceBytes_ = state.bytes;
  }

  std::string text = "  ";
  if (state.indeterminate) {
    text += "|/-\\"[turn_++ % 4];
    if (state.bytes == 0) return text;
    text += " ";
  } else {
    const int percent = static_cast<int>(std::clamp(std::floor(state.fraction * 100), 0.0, 100.0));
    text += std::to_string(percent) + "% \u00b7 ";
  }
  text += byteCount(static_cast<double>(state.bytes));
  if (!state.indeterminate && state.totalBytes > 0) {
    text += " di " + byteCount(static_cast<double>(state.totalBytes));
  }
  const bool done = !state.indeterminate && state.fraction >= 1;  // the rate would only fall
  if (rate_ > 0 && !done) text += " \u00b7 " + byteCount(rate_) + "/s";
  return text;
}

std::string byteCount(double bytes) {
  static const char* const kUnits[] = {"B", "kB", "MB", "GB", "TB"};
  std::size_t unit = 0;
  while (unit + 1 < std::size(kUnits) && bytes >= 999.5) {
    bytes /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit > 0 && bytes < 9.95 ? "%.1f %s" : "%.0f %s", bytes,
                kUnits[unit]);
  std::string result = text;
  std::replace(result.begin(), result.end(), '.', ',');
  return result;
}

}  // namespace quillop
