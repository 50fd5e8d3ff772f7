// The exit statuses of the programs: quillop-share (the same for both front ends) and the
// Movarix stand-in.
#pragma once

namespace quillop::exit_status {

// quillop-share: the request was completed, the batch went to Movarix. Movarix: every batch
// checked out.
constexpr int kCompleted = 0;
// quillop-share: cancelled while a failure was on screen. Movarix: a batch failed its check, or
// the container or the ticket could not be used.
constexpr int kFailed = 1;
constexpr int kUsage = 2;          // invalid command line
constexpr int kInterrupted = 130;  // quillop-share: cancelled by the user while it was running

}  // namespace quillop::exit_status
