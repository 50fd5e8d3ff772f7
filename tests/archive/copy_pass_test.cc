// The copy pass of DirectoryWriter::write: changes made to the folder after the walk. The hook
// runs exactly between the passes, when the archive is created.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>

#include "archive/archive_format.h"
#include "archive/archive_reader.h"
#include "archive/directory_writer.h"
#include "archive_test_support.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

class CopyPassTest : public ::testing::Test {
 protected:
  void SetUp() override {
    makeFolder(shared() + "/sub");
    writeFile(shared() + "/first", "first file");
    writeFile(shared() + "/sub/file", "original");
  }
  std::string shared() const { return dir / "shared"; }
  std::string target() const { return dir / "out.bin"; }

  // Runs `change` once, right before the archive is created.
  void betweenPasses(std::function<void()> change) {
    fs.onOpen([this, change = std::move(change)](const std::string& path, int flags) {
      if (path == target() && (flags & O_CREAT)) change();
    });
  }

  // Expects the copy pass to fail with `message`, leaving the partial archive in place.
  void expectCopyFailure(const std::string& message) {
    EXPECT_FAILURE(DirectoryWriter::write(shared(), target(), kNever, fs), message);
    const std::string partial = readFile(target());
    EXPECT_EQ(partial.substr(0, 14), kMagic);
  }

  TempDir dir;
  FaultFileSystem fs;
};

TEST_F(CopyPassTest, SameLengthRewriteIsDetected) {
  betweenPasses([&] { writeFile(shared() + "/sub/file", "ORIGINAL"); });
  expectCopyFailure("Cartella cambiata durante la preparazione. Riprova.");
  // The file before it was copied in full: the partial archive ends in its bytes.
  const std::string partial = readFile(target());
  EXPECT_EQ(partial.substr(partial.size() - 10 - 8), "first fileORIGINAL");
}

TEST_F(CopyPassTest, LengthChangeIsDetected) {
  betweenPasses([&] { writeFile(shared() + "/sub/file", "original+"); });
  expectCopyFailure("Cartella cambiata durante la preparazione. Riprova.");
}

TEST_F(CopyPassTest, FileRemovedOrReplacedByALinkIsUnreadable) {
  betweenPasses([&] { ::unlink((shared() + "/sub/file").c_str()); });
  expectCopyFailure("Sorgente non leggibile.");
  ::unlink(target().c_str());
  writeFile(shared() + "/sub/file", "original");

  writeFile(dir / "elsewhere", "original");
  betweenPasses([&] {
    ::unlink((shared() + "/sub/file").c_str());
    makeLink(dir / "elsewhere", shared() + "/sub/file");
  });
  expectCopyFailure("Sorgente non leggibile.");
}

TEST_F(CopyPassTest, FileReplacedByAFolderOrAPipeIsSpecial) {
  betweenPasses([&] {
    ::unlink((shared() + "/sub/file").c_str());
    makeFolder(shared() + "/sub/file");
  });
  expectCopyFailure("File speciale non supportato.");
  ::unlink(target().c_str());
  removeTree(FileSystem::posix(), shared() + "/sub/file");
  writeFile(shared() + "/sub/file", "original");

  betweenPasses([&] {
    ::unlink((shared() + "/sub/file").c_str());
    makePipe(shared() + "/sub/file");  // no writer: a blocking open would hang
  });
  expectCopyFailure("File speciale non supportato.");
}

TEST_F(CopyPassTest, SubfolderSwappedForALinkOutsideIsCaught) {
  makeFolder(dir / "outside");
  writeFile(dir / "outside/file", "original");  // identical bytes: only the escape check can tell
  betweenPasses([&] {
    removeTree(FileSystem::posix(), shared() + "/sub");
    makeLink(dir / "outside", shared() + "/sub");
  });
  expectCopyFailure("Sorgente spostata fuori dalla cartella.");
}

TEST_F(CopyPassTest, EntriesAddedAfterTheWalkAreNotArchived) {
  betweenPasses([&] { writeFile(shared() + "/sub/late", "late"); });
  DirectoryWriter::write(shared(), target(), kNever, fs);
  const ArchiveReader reader = ArchiveReader::open(target());
  EXPECT_EQ(reader.members().size(), 3u);
  reader.verify();
}

TEST_F(CopyPassTest, CancellationDuringTheCopyPassLeavesThePartialArchive) {
  bool cancelled = false;
  betweenPasses([&] { cancelled = true; });
  EXPECT_FAILURE(DirectoryWriter::write(shared(), target(), [&] { return cancelled; }, fs),
                 "Preparazione annullata.");
  EXPECT_TRUE(exists(target()));
}

TEST_F(CopyPassTest, ArchiveWriteErrorsPassUnchanged) {
  fs.failWrite("out.bin", ENOSPC);
  const Error error = thrownError([&] { DirectoryWriter::write(shared(), target(), kNever, fs); });
  EXPECT_TRUE(error.isPosix(ENOSPC)) << error.message();
  EXPECT_TRUE(exists(target()));
}

TEST_F(CopyPassTest, ShortWritesStillProduceTheWholeArchive) {
  fs.shortWrites("out.bin", 7);
  const std::uint64_t length = DirectoryWriter::write(shared(), target(), kNever, fs);
  EXPECT_EQ(readFile(target()).size(), length);
  ArchiveReader::open(target()).verify();
}

}  // namespace
}  // namespace quillop::testing
