// DirectoryWriter::open and ::stream: what is opened, read, hashed, written and closed.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>

#include "archive/directory_writer.h"
#include "archive_test_support.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

const std::string kEmptyDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

long count(const std::vector<std::string>& log, const std::string& line) {
  return std::count(log.begin(), log.end(), line);
}

TEST(StreamTest, CountsHashesAndCopiesEveryChunk) {
  TempDir dir;
  // Two full chunks and a partial one.
  const std::string bytes = patternBytes(2 * kChunkSize + 1000);
  writeFile(dir / "src", bytes);
  FileHandle output = FileHandle::open(FileSystem::posix(), dir / "out", O_WRONLY | O_CREAT, 0600);
  writeFile(dir / "src-abc", "abc");

  const auto copied = DirectoryWriter::stream(dir / "src", &output, kNever);
  output.close();
  const auto hashed = DirectoryWriter::stream(dir / "src", nullptr, kNever);

  EXPECT_EQ(copied.count, bytes.size());
  EXPECT_EQ(copied.sha256, sha256Of(bytes));
  EXPECT_EQ(hashed.count, copied.count);
  EXPECT_EQ(hashed.sha256, copied.sha256);
  EXPECT_EQ(readFile(dir / "out"), bytes);
  // A published test vector, so both implementations cannot be wrong the same way.
  EXPECT_EQ(DirectoryWriter::stream(dir / "src-abc", nullptr, kNever).sha256,
            "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(StreamTest, EmptyFileGivesTheEmptyDigestAndWritesNothing) {
  TempDir dir;
  writeFile(dir / "empty", "");
  FileHandle output = FileHandle::open(FileSystem::posix(), dir / "out", O_WRONLY | O_CREAT, 0600);
  const auto result = DirectoryWriter::stream(dir / "empty", &output, kNever);
  EXPECT_EQ(result.count, 0u);
  EXPECT_EQ(result.sha256, kEmptyDigest);
  EXPECT_EQ(readFile(dir / "out"), "");
}

TEST(StreamTest, OpenRefusesAFinalLinkButFollowsEarlierOnes) {
  TempDir dir;
  makeFolder(dir / "real");
  writeFile(dir / "real/file", "data");
  makeLink("real/file", dir / "link-to-file");
  makeLink("real", dir / "link-to-folder");

  EXPECT_FAILURE(DirectoryWriter::open(dir / "link-to-file"), "Sorgente non leggibile.");
  EXPECT_FAILURE(DirectoryWriter::stream(dir / "link-to-file", nullptr, kNever),
                 "Sorgente non leggibile.");
  EXPECT_EQ(DirectoryWriter::stream(dir / "link-to-folder/file", nullptr, kNever).count, 4u);
  EXPECT_FAILURE(DirectoryWriter::open(dir / "missing"), "Sorgente non leggibile.");
}

TEST(StreamTest, OpenRefusesSpecialFilesWithoutBlockingAndClosesThem) {
  TempDir dir;
  makeFolder(dir / "folder");
  makePipe(dir / "pipe");  // no writer: a blocking open would hang here
  FaultFileSystem fs;
  EXPECT_FAILURE(DirectoryWriter::open(dir / "folder", fs), "File speciale non supportato.");
  EXPECT_FAILURE(DirectoryWriter::stream(dir / "pipe", nullptr, kNever, fs),
                 "File speciale non supportato.");
  EXPECT_EQ(count(fs.log(), "close " + dir / "folder"), 1);
  EXPECT_EQ(count(fs.log(), "close " + dir / "pipe"), 1);
}

TEST(StreamTest, OpenAsksForNoFollowAndNonBlockingThenClearsNonBlocking) {
  TempDir dir;
  writeFile(dir / "file", "x");
  FaultFileSystem fs;
  int flags = 0;
  fs.onOpen([&](const std::string&, int f) { flags = f; });
  FileHandle handle = DirectoryWriter::open(dir / "file", fs);
  EXPECT_EQ(flags & (O_ACCMODE | O_NOFOLLOW | O_NONBLOCK | O_CREAT),
            O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
  EXPECT_EQ(::fcntl(handle.descriptor(), F_GETFL) & O_NONBLOCK, 0);
}

TEST(StreamTest, CancellationIsPolledBeforeTheFirstReadAndAfterEveryChunk) {
  TempDir dir;
  writeFile(dir / "src", patternBytes(3 * kChunkSize));
  FaultFileSystem fs;
  int reads = 0;
  fs.onRead("src", [&](const std::string&) { ++reads; });

  EXPECT_FAILURE(DirectoryWriter::stream(dir / "src", nullptr, [] { return true; }, fs),
                 "Preparazione annullata.");
  EXPECT_EQ(reads, 0);
  EXPECT_EQ(count(fs.log(), "close " + dir / "src"), 1);

  int polls = 0;
  EXPECT_FAILURE(DirectoryWriter::stream(dir / "src", nullptr, [&] { return ++polls == 3; }, fs),
                 "Preparazione annullata.");
  EXPECT_EQ(reads, 2);  // the poll before reading, then one after each of two chunks
  EXPECT_EQ(count(fs.log(), "close " + dir / "src"), 2);
}

TEST(StreamTest, ReadAndWriteErrorsPassUnchangedAndTheSourceIsClosed) {
  TempDir dir;
  writeFile(dir / "src", patternBytes(2 * kChunkSize));
  FaultFileSystem fs;
  fs.inject({Op::read, "src", EIO, 2});
  Error error = thrownError([&] { DirectoryWriter::stream(dir / "src", nullptr, kNever, fs); });
  EXPECT_TRUE(error.isPosix(EIO)) << error.message();
  EXPECT_EQ(count(fs.log(), "close " + dir / "src"), 1);

  FaultFileSystem full;
  full.inject({Op::write, "out", ENOSPC});
  FileHandle output = FileHandle::open(full, dir / "out", O_WRONLY | O_CREAT, 0600);
  error = thrownError([&] { DirectoryWriter::stream(dir / "src", &output, kNever, full); });
  EXPECT_TRUE(error.isPosix(ENOSPC)) << error.message();
  EXPECT_EQ(count(full.log(), "close " + dir / "src"), 1);
  EXPECT_TRUE(output.isOpen());  // the caller's handle is never closed by stream
}

}  // namespace
}  // namespace quillop::testing
