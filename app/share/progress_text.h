// The progress bar in text form, for the status line on a terminal: while determinate
// "  42% · 1,3 GB di 3,0 GB · 180 MB/s", while not a turning bar and the bytes so far
// ("  / 1,3 GB · 180 MB/s"), nothing while hidden. The rate is measured over a second or more
// of the states it is shown, and left out until then, while nothing moves and once at 100%.
// One object per status line; main thread only.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "share/view_tree.h"

namespace quillop {

class ProgressText {
 public:
  using Clock = std::chrono::steady_clock;

  // The text to append to the status line for `state`, seen at `now`.
  std::string suffix(const ProgressIndicator::State& state, Clock::time_point now);

 private:
  std::optional<Clock::time_point> since_;
  std::uint64_t sinceBytes_ = 0;
  double rate_ = 0;  // bytes per second; 0 while not measured
  unsigned turn_ = 0;
};

// A byte count in decimal units, as Italian writes numbers: "950 B", "9,5 kB", "17 MB", "1,3 GB".
std::string byteCount(double bytes);

}  // namespace quillop
