// The walk hashes files on worker threads: the failure reported must still be the one of the
// earliest failing entry in walk order, and a cancellation must stop the workers. Run under
// TSan with the label "threads".
#include <fcntl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <map>
#include <thread>

#include "archive/directory_writer.h"
#include "archive_test_support.h"
#include "platform/url.h"
#include "store/share_store.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

// Lists every folder in name order (the test folders fit in one batch), so that the walk order
// is known.
class SortedFileSystem : public FaultFileSystem {
 public:
  long readEntries(int folder, std::vector<DirectoryEntry>& entries) override {
    const long result = FaultFileSystem::readEntries(folder, entries);
    std::sort(entries.begin(), entries.end(),
              [](const DirectoryEntry& a, const DirectoryEntry& b) { return a.name < b.name; });
    return result;
  }
};

class WalkOrderTest : public ::testing::Test {
 protected:
  std::string shared() const { return dir / "shared"; }
  std::string target() const { return dir / "out.bin"; }
  void SetUp() override { makeFolder(shared()); }

  // Files a00 .. a<count-1>, enough to keep every worker busy.
  void writeFiles(int count) {
    for (int i = 0; i < count; ++i) {
      writeFile(shared() + "/a" + std::string(i < 10 ? "0" : "") + std::to_string(i),
                patternBytes(300'000, i));
    }
  }

  int opens(const std::string& name) {
    const auto log = fs.log();
    return static_cast<int>(std::count(log.begin(), log.end(), "open " + shared() + "/" + name));
  }

  TempDir dir;
  SortedFileSystem fs;
};

TEST_F(WalkOrderTest, ReadErrorOfAnEarlierFileBeatsALaterNameFailure) {
  writeFile(shared() + "/a", patternBytes(10));
  writeFile(shared() + "/b:", "x");
  // "a" is still being read on a worker when the walk reaches "b:".
  fs.onRead("/a", [](const std::string&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  });
  fs.inject({Op::read, "/a", EIO, 2});
  const Error error = thrownError([&] { DirectoryWriter::write(shared(), target(), kNever, fs); });
  EXPECT_TRUE(error.isPosix(EIO)) << error.message();
  EXPECT_FALSE(exists(target()));
}

TEST_F(WalkOrderTest, EarliestOfSeveralFailingFilesWinsAndLaterEntriesAreNotOpened) {
  writeFiles(40);
  fs.inject({Op::read, "/a30", EIO});
  fs.inject({Op::open, "/a31", EACCES});  // would be "Sorgente non leggibile."
  fs.onRead("/a05", [](const std::string&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  });
  fs.inject({Op::read, "/a05", ENXIO, 2});
  writeFile(shared() + "/b:", "x");
  writeFile(shared() + "/c", "never read");
  const Error error = thrownError([&] { DirectoryWriter::write(shared(), target(), kNever, fs); });
  EXPECT_TRUE(error.isPosix(ENXIO)) << error.message();
  EXPECT_EQ(opens("c"), 0);
}

TEST_F(WalkOrderTest, ANameFailureAfterGoodFilesIsReported) {
  writeFiles(20);
  writeFile(shared() + "/b.", "x");
  writeFile(shared() + "/c", "never read");
  EXPECT_FAILURE(DirectoryWriter::write(shared(), target(), kNever, fs),
                 "Nome non supportato nella cartella.");
  EXPECT_EQ(opens("c"), 0);
  EXPECT_EQ(opens("a19"), 1);
}

TEST_F(WalkOrderTest, CancellationWhileWorkersHashStopsEverything) {
  writeFiles(60);
  for (int after : {1, 5, 30, 100}) {
    SCOPED_TRACE(after);
    std::atomic<int> polls{0};
    const Cancelled cancelled = [&] { return ++polls > after; };
    EXPECT_FAILURE(DirectoryWriter::write(shared(), target(), cancelled, fs),
                   "Preparazione annullata.");
    EXPECT_FALSE(exists(target()));
    // Once write has returned, nothing polls any more: every worker has stopped.
    const int seen = polls.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(polls.load(), seen);
  }
}

// The attack of a user who owns the shared folder: a swapper thread flips a subfolder, and the
// shared folder itself, between the real folder and a link to a folder outside
// (renameat2 RENAME_EXCHANGE), while real shares of the folder run. Whatever the timing, no
// byte and no name from outside reaches an archive, and unpublished batches go away.
TEST(SwapRaceTest, ALinkSwappedInNeverLeaksTheFolderOutside) {
  TempDir dir;
  const std::string shared = dir / "shared", inbox = dir / "inbox";
  makeFolder(shared + "/sub");
  makeFolder(dir / "outside/sub");
  writeFile(shared + "/sub/file", "inside");
  writeFile(dir / "outside/sub/file", "SECRET");
  writeFile(dir / "outside/secret", "SECRET");
  makeLink(dir / "outside", dir / "root-link");
  makeLink(dir / "outside/sub", dir / "sub-link");
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    // Each exchange is undone before the other pair is touched, so the outside stays outside.
    for (int i = 0; !stop; ++i) {
      const std::string a = i % 4 < 2 ? shared + "/sub" : shared,
                        b = dir / (i % 4 < 2 ? "sub-link" : "root-link");
      ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
    }
  });
  std::map<std::string, int> outcomes;
  const auto start = std::chrono::steady_clock::now();
  const auto seconds = [&] { return std::chrono::steady_clock::now() - start; };
  // At least 3 s, and until a few shares got through (slow under sanitizers); at most 60 s.
  while (seconds() < std::chrono::seconds(60) &&
         (seconds() < std::chrono::seconds(3) || outcomes["packed"] < 3)) {
    ShareStore store(inbox);
    try {
      store.append(Url::fromPath(shared), "shared", std::nullopt, kNever);
      const std::string archive =
          readFile(store.batchFolder() + "/" + store.entries()[0].id + ".bin");
      EXPECT_EQ(archive.find("SECRET"), std::string::npos);
      EXPECT_EQ(archive.find("secret"), std::string::npos);
      ++outcomes["packed"];
    } catch (const Error& error) {
      ++outcomes[error.isFailure() ? error.message()
                                   : "system error " + std::to_string(error.code())];
    }
  }
  stop = true;
  swapper.join();
  for (const auto& [outcome, count] : outcomes) std::cout << count << " x " << outcome << "\n";
  EXPECT_GT(outcomes["packed"], 0);
  EXPECT_TRUE(listFolder(inbox).empty());
}

}  // namespace
}  // namespace quillop::testing
