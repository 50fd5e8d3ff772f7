// A real tree that no one here wrote: the digests in the index agree with coreutils' sha256sum,
// and the archive extracts to the same bytes.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "archive/archive_reader.h"
#include "archive/directory_writer.h"
#include "archive_test_support.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

TEST(RealTreeTest, DigestsAgreeWithSha256sumAndExtractionIsExact) {
  TempDir dir;
  const std::string src = dir / "src";
  makeFolder(src);
  // Python's json and email packages: text, bytecode, nested folders.
  run("for p in /usr/lib/python3*/json /usr/lib/python3*/email; do "
      "[ -d \"$p\" ] && cp -R \"$p\" '" + src + "/'; done; true");
  if (listFolder(src).empty()) GTEST_SKIP() << "no Python library folder on this machine";

  DirectoryWriter::write(src, dir / "a.bin", kNever);
  const ArchiveReader reader = ArchiveReader::open(dir / "a.bin");

  std::map<std::string, std::string> expected;  // path -> digest, from sha256sum
  std::istringstream lines(
      run("cd '" + src + "' && find . -type f -print0 | xargs -0 sha256sum"));
  for (std::string line; std::getline(lines, line);) {
    expected[line.substr(66 + 2)] = line.substr(0, 64);  // "<digest>  ./<path>"
  }
  ASSERT_GT(expected.size(), 20u);
  std::map<std::string, std::string> archived;
  for (const auto& member : reader.members()) {
    if (!member.directory) archived[member.path] = member.sha256;
  }
  EXPECT_EQ(archived, expected);

  makeFolder(dir / "out");
  reader.extract(dir / "out");
  run("diff -r --no-dereference '" + src + "' '" + dir / "out" + "'");
}

}  // namespace
}  // namespace quillop::testing
