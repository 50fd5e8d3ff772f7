// Catching the system's errors in tests.
#pragma once

#include <gtest/gtest.h>

#include <utility>

#include "platform/error.h"

namespace quillop::testing {

// Runs `action` and returns the Error it throws; records a test failure when it throws none.
template <typename Action>
Error thrownError(Action&& action) {
  try {
    std::forward<Action>(action)();
  } catch (const Error& error) {
    return error;
  }
  ADD_FAILURE() << "expected an error, got none";
  return Error("", 0, "");
}

}  // namespace quillop::testing

// The statement throws the system's own failure (domain "QuillopShare", code 2) with `text`.
#define EXPECT_FAILURE(statement, text)                                                        \
  do {                                                                                         \
    const ::quillop::Error quillopError = ::quillop::testing::thrownError([&] { statement; }); \
    EXPECT_EQ(quillopError.domain(), "QuillopShare");                                          \
    EXPECT_EQ(quillopError.code(), 2);                                                         \
    EXPECT_EQ(quillopError.message(), text);                                                   \
  } while (0)
