// The one error type of the system: a domain, a code and a user-visible message.
//
// Our own failures use the domain "QuillopShare" with code 2 (code 1 is reserved for the missing
// App Group container). Errors of the operating system carry the domain "POSIX", the errno as
// code, and a message naming the path with the system's text in the user's locale. Errors are
// thrown as exceptions and passed on unchanged; nothing in the core rewrites a platform error.
// A cancellation is such a failure ("Preparazione annullata.") that also says what it is, so that
// callers recognise it by kind rather than by its text. Thread-safe: values are immutable once
// built.
#pragma once

#include <exception>
#include <string>
#include <string_view>

namespace quillop {

class Error : public std::exception {
 public:
  static constexpr std::string_view kShareDomain = "QuillopShare";
  static constexpr std::string_view kPosixDomain = "POSIX";
  static constexpr long kFailureCode = 2;
  static constexpr long kContainerCode = 1;

  Error(std::string domain, long code, std::string message)
      : domain_(std::move(domain)), code_(code), message_(std::move(message)) {}

  const std::string& domain() const noexcept { return domain_; }
  long code() const noexcept { return code_; }
  // The localized description: what the status line shows.
  const std::string& message() const noexcept { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

  bool isPosix(int err) const noexcept { return domain_ == kPosixDomain && code_ == err; }
  // True for the value `cancellation()` returns and its copies.
  bool isCancellation() const noexcept { return cancellation_; }

 private:
  friend Error cancellation();

  std::string domain_;
  long code_;
  std::string message_;
  bool cancellation_ = false;
};

// The system's own failure value: domain "QuillopShare", code 2, the message as given.
Error failure(std::string message);

// The failure "Preparazione annullata.", marked as a cancellation.
Error cancellation();

// An operating-system error for `path`: domain "POSIX", code `err`, message
// "<path>: <strerror in the user's locale>" (just the system text when `path` is empty).
Error systemError(int err, std::string_view path);

// The system's text for `err` in the user's locale (LC_MESSAGES), falling back to "C".
std::string systemMessage(int err);

}  // namespace quillop
