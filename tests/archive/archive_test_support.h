// Helpers shared by the archive tests: failure matching, digests, and small trees on disk.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "archive/directory_writer.h"
#include "platform/error.h"
#include "support/expect_error.h"

namespace quillop::testing {


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
