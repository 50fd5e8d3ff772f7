// The current time. Thread-safe.
#pragma once

namespace quillop {

class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds since 1970-01-01 00:00:00 UTC, with a fraction.
  virtual double now() = 0;
};

}  // namespace quillop
