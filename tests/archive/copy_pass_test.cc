// The copy pass of DirectoryWriter::write: changes made to the folder after the walk. The hook
// runs exactly between the passes, when the archive is created.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "archive/archive_format.h"
#include "archive/archive_reader.h"
#include "archive/directory_writer.h"
#include "archive/folder_chain.h"
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

// A folder or file at every level swapped between the passes for a link to its twin outside, for
// a copy, or with the twin itself (RENAME_EXCHANGE). The twin holds the same bytes, so only the
// device and inode checks can tell; for the shared folder itself it holds others, so reading it
// would fail. The chain is deeper than the descriptors kept open, so folders are reopened too.
TEST_F(CopyPassTest, SwapsAtEveryLevelNeverReachTheTwinOutside) {
  std::vector<std::string> folders{"d0"};
  while (folders.size() < FolderChain::kMaxOpen + 2) {
    folders.push_back(folders.back() + "/d" + std::to_string(folders.size()));
  }
  const auto plant = [&](const std::string& root, const std::string& bytes) {
    makeFolder(root + "/" + folders.back());
    writeFile(root + "/first", bytes);
    for (const std::string& folder : folders) writeFile(root + "/" + folder + "/f", bytes);
  };
  const std::string moved = "Sorgente spostata fuori dalla cartella.",
                    changed = "Cartella cambiata durante la preparazione. Riprova.";
  // Path, then the outcome of the link, the copy and the exchange ("" for a complete archive).
  const std::vector<std::array<std::string, 4>> rows = {
      {"", "", "", ""},
      {folders[0], moved, moved, moved},
      {folders[20], moved, moved, moved},
      {folders.back(), moved, moved, moved},
      {"first", "Sorgente non leggibile.", changed, changed},
      {folders[0] + "/f", "Sorgente non leggibile.", changed, changed},
      {folders.back() + "/f", "Sorgente non leggibile.", changed, changed}};
  const std::string twins = dir / "outside", away = dir / "away";
  for (const auto& row : rows) {
    for (int how = 1; how <= 3; ++how) {
      SCOPED_TRACE(row[0] + " " + std::to_string(how));
      for (const std::string& path : {shared(), twins, away, target()}) {
        removeTree(FileSystem::posix(), path);
      }
      plant(shared(), "same");
      plant(twins, row[0].empty() ? "else" : "same");
      const std::string inside = shared() + (row[0].empty() ? "" : "/" + row[0]);
      const std::string twin = twins + (row[0].empty() ? "" : "/" + row[0]);
      betweenPasses([&] {
        if (how == 3) {
          ASSERT_EQ(::renameat2(AT_FDCWD, inside.c_str(), AT_FDCWD, twin.c_str(), RENAME_EXCHANGE),
                    0);
          return;
        }
        ASSERT_EQ(std::rename(inside.c_str(), away.c_str()), 0);
        how == 1 ? makeLink(twin, inside) : (void)run("cp -R '" + away + "' '" + inside + "'");
      });
      if (row[how].empty()) {
        DirectoryWriter::write(shared(), target(), kNever, fs);
        ArchiveReader::open(target()).verify();
      } else {
        expectCopyFailure(row[how]);
      }
    }
  }
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
  EXPECT_FAILURE(DirectoryWriter::write(
                     shared(), target(), [&] { return cancelled; }, fs),
                 "Preparazione annullata.");
  EXPECT_TRUE(exists(target()));
}

TEST_F(CopyPassTest, ArchiveWriteErrorsPassUnchanged) {
  fs.inject({Op::write, "out.bin", ENOSPC});
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
