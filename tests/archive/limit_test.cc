// The 50,000,000,000-byte limit. Each case streams about 50 GB through SHA-256 (some 30 s), so
// this binary is labelled slow and run on its own. Nothing of that size is ever written to disk:
// a sparse file, or the fault-injecting file system's virtual contents.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>

#include "archive/directory_writer.h"
#include "archive_test_support.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

TEST(LimitTest, SparseFileOfExactlyTheLimitStreamsCompletely) {
  TempDir dir;
  const int fd = ::open((dir / "sparse").c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kMaxBytes)), 0);
  ::close(fd);
  const auto result = DirectoryWriter::stream(dir / "sparse", nullptr, kNever);
  EXPECT_EQ(result.count, kMaxBytes);
  EXPECT_EQ(result.sha256.size(), 64u);
}

TEST(LimitTest, TheCrossingChunkIsNeitherWrittenNorPassed) {
  TempDir dir;
  writeFile(dir / "huge", "");
  FaultFileSystem fs;
  fs.virtualContent("huge", kMaxBytes + 1);
  FileHandle output = FileHandle::open(fs, "/dev/null", O_WRONLY);
  EXPECT_FAILURE(DirectoryWriter::stream(dir / "huge", &output, kNever, fs),
                 "Cartella oltre 50 GB.");
  // Every full chunk below the limit was written, one write each; the crossing one was not.
  const auto log = fs.log();
  EXPECT_EQ(std::count(log.begin(), log.end(), "write /dev/null"),
            static_cast<long>(kMaxBytes / kChunkSize));
}

TEST(LimitTest, FolderTotalAboveTheLimitFailsDuringTheWalk) {
  TempDir dir;
  makeFolder(dir / "shared");
  writeFile(dir / "shared/a", "");
  writeFile(dir / "shared/b", std::string(11, 'b'));
  FaultFileSystem fs;
  fs.virtualContent("shared/a", kMaxBytes - 10);
  EXPECT_FAILURE(DirectoryWriter::write(dir / "shared", dir / "out", kNever, fs),
                 "Cartella oltre 50 GB.");
  EXPECT_FALSE(exists(dir / "out"));
}

TEST(LimitTest, ArchiveLengthAboveTheLimitFailsBeforeCreation) {
  // The member itself is exactly at the limit and passes; header and index push the archive over.
  TempDir dir;
  makeFolder(dir / "shared");
  writeFile(dir / "shared/a", "");
  FaultFileSystem fs;
  fs.virtualContent("shared/a", kMaxBytes);
  EXPECT_FAILURE(DirectoryWriter::write(dir / "shared", dir / "out", kNever, fs),
                 "Cartella oltre 50 GB.");
  EXPECT_FALSE(exists(dir / "out"));
}

}  // namespace
}  // namespace quillop::testing
