// The exit statuses of quillop-share, the same for both front ends.
#pragma once

namespace quillop::exit_status {

constexpr int kCompleted = 0;      // the request was completed: the batch went to Movarix
constexpr int kFailed = 1;         // cancelled while a failure was on screen
constexpr int kUsage = 2;          // invalid command line
constexpr int kInterrupted = 130;  // cancelled by the user while the share was running

}  // namespace quillop::exit_status
