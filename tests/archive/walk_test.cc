// DirectoryWriter::write up to the creation of the archive: the walk, its rules and limits, the
// index limit, free space and exclusive creation. A refused folder leaves nothing behind.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <future>

#include "archive/archive_format.h"
#include "archive/archive_reader.h"
#include "archive/directory_writer.h"
#include "archive_test_support.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

class WalkTest : public ::testing::Test {
 protected:
  std::string shared() const { return dir / "shared"; }
  std::string target() const { return dir / "out.bin"; }
  void SetUp() override { makeFolder(shared()); }

  // Expects `write` to fail with `message` and to have created nothing.
  void expectRefused(const std::string& message, FileSystem& fs = FileSystem::posix()) {
    EXPECT_FAILURE(DirectoryWriter::write(shared(), target(), kNever, fs), message);
    EXPECT_FALSE(exists(target()));
  }

  std::vector<std::string> archivedPaths() {
    const ArchiveReader reader = ArchiveReader::open(target());
    std::vector<std::string> paths;
    for (const auto& member : reader.members()) paths.push_back(member.path);
    return paths;
  }

  TempDir dir;
};

TEST_F(WalkTest, CancellationBeforeTheCallCreatesNothing) {
  writeFile(shared() + "/f", "x");
  EXPECT_FAILURE(DirectoryWriter::write(shared(), target(), [] { return true; }),
                 "Preparazione annullata.");
  EXPECT_FALSE(exists(target()));
}

TEST_F(WalkTest, LinksAreRefusedAtAnyDepthWhateverTheyPointTo) {
  const std::vector<std::pair<std::string, std::string>> links = {
      {"f", "link"}, {"/etc", "d1/d2/d3/to-folder"}, {"missing", "d1/dangling"}};
  for (const auto& [to, where] : links) {
    SCOPED_TRACE(where);
    removeTree(FileSystem::posix(), shared());
    makeFolder(shared() + "/d1/d2/d3");
    writeFile(shared() + "/f", "x");
    makeLink(to, shared() + "/" + where);
    expectRefused("La cartella contiene collegamenti.");
  }
  makeLink(shared(), dir / "shared-link");
  EXPECT_FAILURE(DirectoryWriter::write(dir / "shared-link", target(), kNever),
                 "La cartella contiene collegamenti.");
}

TEST_F(WalkTest, NamedPipeAndSocketAreRefusedUnreadAndWithoutHanging) {
  for (const char* kind : {"pipe", "socket"}) {
    SCOPED_TRACE(kind);
    removeTree(FileSystem::posix(), shared());
    makeFolder(shared() + "/sub");
    writeFile(shared() + "/sub/a", "a");
    const std::string special = shared() + "/sub/special";
    std::string(kind) == "pipe" ? makePipe(special) : makeSocket(special);
    FaultFileSystem fs;
    // A blocking open of the pipe would never return: run where a hang is detectable.
    auto done =
        std::async(std::launch::async, [&] { expectRefused("File speciale non supportato.", fs); });
    ASSERT_EQ(done.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    const auto log = fs.log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "open " + special), 0);
  }
}

TEST_F(WalkTest, HiddenEntriesAndEmptyFoldersAreMembers) {
  writeFile(shared() + "/.DS_Store", "ds");
  makeFolder(shared() + "/empty");
  makeFolder(shared() + "/.git/objects");
  DirectoryWriter::write(shared(), target(), kNever);
  EXPECT_EQ(archivedPaths(),
            (std::vector<std::string>{".DS_Store", ".git", ".git/objects", "empty"}));
  EXPECT_TRUE(ArchiveReader::open(target()).members()[3].directory);
}

TEST_F(WalkTest, NameFormRules) {
  for (const std::string name : {"trailing.", "trailing ", "co:lon", "tab\tname",
                                 "zero\xE2\x80\x8Bwidth", "bad\xC3", "ask?"}) {
    SCOPED_TRACE(name);
    writeFile(shared() + "/" + name, "x");
    expectRefused("Nome non supportato nella cartella.");
    ::unlink((shared() + "/" + name).c_str());
  }
  for (const std::string name : {".leading", " leading", "nbsp\xC2\xA0", "caf\xC3\xA9"}) {
    writeFile(shared() + "/" + name, "x");
  }
  EXPECT_NO_THROW(DirectoryWriter::write(shared(), target(), kNever));
  EXPECT_EQ(archivedPaths().size(), 4u);
}

TEST_F(WalkTest, NameLimitIs240Bytes) {
  std::string name;
  for (int i = 0; i < 80; ++i) name += "\xE2\x82\xAC";  // 80 three-byte characters
  writeFile(shared() + "/" + name, "x");
  DirectoryWriter::write(shared(), target(), kNever);
  ::unlink(target().c_str());
  writeFile(shared() + "/a" + name, "x");
  expectRefused("Nome non supportato nella cartella.");
}

TEST_F(WalkTest, PathLimitIs2048Bytes) {
  // Ten folders of 200 bytes, each with its slash, make 2,010 bytes; a name of 38 completes 2,048.
  std::string relative;
  for (int i = 0; i < 10; ++i) relative += std::string(200, static_cast<char>('a' + i)) + "/";
  makeFolder(shared() + "/" + relative);
  writeFile(shared() + "/" + relative + std::string(38, 'z'), "x");
  DirectoryWriter::write(shared(), target(), kNever);
  EXPECT_EQ(archivedPaths().back().size(), 2048u);
  ::unlink(target().c_str());
  writeFile(shared() + "/" + relative + std::string(39, 'y'), "x");
  expectRefused("Nome non supportato nella cartella.");
}

TEST_F(WalkTest, MemberLimitIs50000) {
  // The shared folder itself is not a member: 50,000 folders below it pass.
  for (int i = 0; i < 50'000; ++i) {
    ASSERT_EQ(::mkdir((shared() + "/" + std::to_string(i)).c_str(), 0700), 0);
  }
  EXPECT_EQ(DirectoryWriter::write(shared(), target(), kNever) > 44, true);
  ::unlink(target().c_str());
  ASSERT_EQ(::mkdir((shared() + "/one-more").c_str(), 0700), 0);
  expectRefused("Nome non supportato nella cartella.");
}

TEST_F(WalkTest, IndexOfExactly4MiBPassesOneByteMoreFails) {
  // Each folder member adds 49 bytes plus its path, and a comma: N = 25 + 50 * count + names.
  const std::size_t count = 20'000;
  std::size_t names = kMaxIndexBytes - 25 - 50 * count;
  std::vector<std::string> paths;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t length = names / (count - i);
    std::string name = std::to_string(i) + "-";
    name += std::string(length - name.size(), 'n');
    names -= length;
    ASSERT_EQ(::mkdir((shared() + "/" + name).c_str(), 0700), 0);
    paths.push_back(name);
  }
  EXPECT_EQ(DirectoryWriter::write(shared(), target(), kNever), 18 + kMaxIndexBytes);
  ::unlink(target().c_str());
  ::rename((shared() + "/" + paths[0]).c_str(), (shared() + "/" + paths[0] + "n").c_str());
  expectRefused("Indice cartella troppo grande.");
}

TEST_F(WalkTest, FreeSpaceMustExceedTheArchiveAndTheMargin) {
  writeFile(shared() + "/f", "12345");
  const std::uint64_t length = DirectoryWriter::write(shared(), dir / "measure", kNever);
  FaultFileSystem fs;
  fs.setFreeSpace(length + kFreeSpaceMargin);
  expectRefused("Spazio insufficiente sul Mac.", fs);
  fs.setFreeSpace(std::nullopt);
  expectRefused("Spazio insufficiente sul Mac.", fs);
  fs.setFreeSpace(length + kFreeSpaceMargin + 1);
  EXPECT_EQ(DirectoryWriter::write(shared(), target(), kNever, fs), length);

  FaultFileSystem failing;
  failing.inject({Op::freeSpace, "", EIO});
  const Error error =
      thrownError([&] { DirectoryWriter::write(shared(), dir / "other", kNever, failing); });
  EXPECT_TRUE(error.isPosix(EIO)) << error.message();
}

TEST_F(WalkTest, ListingErrorsPassUnchanged) {
  makeFolder(shared() + "/sub");
  FaultFileSystem fs;
  fs.inject({Op::list, "/sub", EACCES});
  const Error error = thrownError([&] { DirectoryWriter::write(shared(), target(), kNever, fs); });
  EXPECT_TRUE(error.isPosix(EACCES)) << error.message();
  EXPECT_FALSE(exists(target()));
}

TEST_F(WalkTest, ExistingTargetIsLeftUntouched) {
  writeFile(shared() + "/f", "new");
  writeFile(target(), "old contents");
  ::chmod(target().c_str(), 0644);
  EXPECT_FAILURE(DirectoryWriter::write(shared(), target(), kNever),
                 "Impossibile preparare la cartella.");
  EXPECT_EQ(readFile(target()), "old contents");
  EXPECT_EQ(permissions(target()), 0644u);
  makeLink(dir / "elsewhere", dir / "dangling");
  EXPECT_FAILURE(DirectoryWriter::write(shared(), dir / "dangling", kNever),
                 "Impossibile preparare la cartella.");
  EXPECT_FALSE(exists(dir / "elsewhere"));
  makeFolder(dir / "taken");
  EXPECT_FAILURE(DirectoryWriter::write(shared(), dir / "taken", kNever),
                 "Impossibile preparare la cartella.");
}

TEST_F(WalkTest, ArchiveIsCreatedExclusivelyPrivateAndFlushedBeforeClosing) {
  writeFile(shared() + "/f", "data");
  FaultFileSystem fs;
  int createFlags = 0;
  fs.onOpen([&](const std::string& path, int flags) {
    if (path == target()) createFlags = flags;
  });
  DirectoryWriter::write(shared(), target(), kNever, fs);
  EXPECT_EQ(createFlags & (O_ACCMODE | O_CREAT | O_EXCL), O_WRONLY | O_CREAT | O_EXCL);
  EXPECT_EQ(permissions(target()), 0600u);
  const auto log = fs.log();
  const auto sync = std::find(log.begin(), log.end(), "sync " + target());
  const auto close = std::find(log.begin(), log.end(), "close " + target());
  EXPECT_TRUE(sync < close && close != log.end());
}

TEST_F(WalkTest, FlushErrorPassesUnchangedAndLeavesThePartialArchive) {
  writeFile(shared() + "/f", "data");
  FaultFileSystem fs;
  fs.inject({Op::sync, "out.bin", EIO});
  const Error error = thrownError([&] { DirectoryWriter::write(shared(), target(), kNever, fs); });
  EXPECT_TRUE(error.isPosix(EIO)) << error.message();
  EXPECT_TRUE(exists(target()));
}

}  // namespace
}  // namespace quillop::testing
