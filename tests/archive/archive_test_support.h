// Helpers shared by the archive tests: failure matching, digests, and small trees on disk.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "archive/directory_writer.h"
#include "platform/error.h"

namespace quillop::testing {

// Runs `call` and returns the Error it throws; fails the test when nothing is thrown.
Error thrownBy(const std::function<void()>& call);

// Expects `call` to throw the system's failure value (domain "QuillopShare", code 2) with
// exactly `expected`.
#define EXPECT_FAILURE(call, expected)                                            \
  do {                                                                           \
    const ::quillop::Error thrown_ = ::quillop::testing::thrownBy([&] { call; }); \
    EXPECT_EQ(thrown_.domain(), "QuillopShare");                                 \
    EXPECT_EQ(thrown_.code(), 2);                                                \
    EXPECT_EQ(thrown_.message(), expected);                                      \
  } while (false)

// SHA-256 of `bytes` as 64 lower-case hex digits, computed independently of the code under test.
std::string sha256Of(const std::string& bytes);

// Bytes that differ from chunk to chunk, so misplaced chunks change the digest.
std::string patternBytes(std::size_t length, unsigned seed = 1);

void makeLink(const std::string& target, const std::string& path);
void makePipe(const std::string& path);
// Creates a listening-less Unix socket file at `path` (a bound socket, closed again).
void makeSocket(const std::string& path);

// Output of a shell command; fails the test when it exits non-zero.
std::string run(const std::string& command);

// A cancellation predicate that never fires.
inline const Cancelled kNever = [] { return false; };

}  // namespace quillop::testing
