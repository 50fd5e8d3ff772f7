// The 50,000,000,000-byte limit. Each case streams about 50 GB through SHA-256 (some 30 s), so
// this binary is labelled slow and run on its own. Nothing of that size is ever written to disk:
// a sparse file, or the fault-injecting file system's virtual contents.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>


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

// An output that counts the bytes written to it and stores none.
class CountingOutput : public ForwardingFileSystem {
 public:
  long write(int, const void*, size_t count) override {
    written += count;
    return static_cast<long>(count);
  }
  std::uint64_t written = 0;
};

TEST(LimitTest, TheCrossingChunkIsNeitherWrittenNorHashed) {
  TempDir dir;
  writeFile(dir / "huge", "");
  FaultFileSystem fs;
  fs.virtualContent("huge", kMaxBytes + 1, false);
  CountingOutput sink;
  FileHandle output = FileHandle::open(sink, "/dev/null", O_WRONLY);
  EXPECT_FAILURE(DirectoryWriter::stream(dir / "huge", &output, kNever, fs),
                 "Cartella oltre 50 GB.");
  // Every full chunk up to the limit was written; the one that crosses it was not.
  EXPECT_EQ(sink.written, kMaxBytes / kChunkSize * kChunkSize);
}

TEST(LimitTest, FolderTotalAboveTheLimitFailsDuringTheWalk) {
  TempDir dir;
  makeFolder(dir / "shared");
  writeFile(dir / "shared/a", "");
  writeFile(dir / "shared/b", std::string(11, 'b'));
  FaultFileSystem fs;
  fs.virtualContent("shared/a", kMaxBytes - 10, false);
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
  fs.virtualContent("shared/a", kMaxBytes, false);
  EXPECT_FAILURE(DirectoryWriter::write(dir / "shared", dir / "out", kNever, fs),
                 "Cartella oltre 50 GB.");
  EXPECT_FALSE(exists(dir / "out"));
}

}  // namespace
}  // namespace quillop::testing
