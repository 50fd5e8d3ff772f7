#include "store/share_store.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <regex>
#include <set>

#include "support/expect_error.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop {
namespace {

using testing::FaultFileSystem;
using testing::Op;
using testing::listFolder;
using testing::TempDir;

TEST(ShareStoreConstruction, CreatesInboxWithParentsAndAPrivateBatchFolder) {
  TempDir temp;
  const std::string inbox = temp / "container/deeper/quillop-share-inbox";
  std::set<std::string> ids;
  for (int i = 0; i < 3; ++i) {
    ShareStore store(inbox);
    EXPECT_TRUE(std::regex_match(store.id(), std::regex("[0-9a-f]{32}"))) << store.id();
    EXPECT_EQ(store.batchFolder(), inbox + "/" + store.id());
    EXPECT_EQ(testing::permissions(store.batchFolder()), 0700u);
    EXPECT_TRUE(listFolder(store.batchFolder()).empty());
    EXPECT_TRUE(store.entries().empty());
    EXPECT_FALSE(store.finished());
    ids.insert(store.id());
  }
  EXPECT_EQ(ids.size(), 3u);
  EXPECT_TRUE(listFolder(inbox).empty());  // none was published: all removed again
}

TEST(ShareStoreConstruction, InboxLimitCountsEveryItemHiddenOnesIncluded) {
  TempDir temp;
  const std::string inbox = temp / "inbox";
  testing::makeFolder(inbox);
  for (int i = 0; i < 18; ++i) testing::makeFolder(inbox + "/batch" + std::to_string(i));
  testing::writeFile(inbox + "/.hidden", "");  // 19 items
  {
    ShareStore store(inbox);  // accepted: the inbox now holds 20
    EXPECT_EQ(listFolder(inbox).size(), 20u);
    EXPECT_FAILURE(ShareStore another(inbox),
                   "La coda Condividi è piena. Apri Movarix per gestirla.");
    EXPECT_EQ(listFolder(inbox).size(), 20u);
  }
  testing::writeFile(inbox + "/.another", "");  // 20 items, one more hidden
  const auto before = listFolder(inbox);
  EXPECT_FAILURE(ShareStore refused(inbox),
                 "La coda Condividi è piena. Apri Movarix per gestirla.");
  EXPECT_EQ(listFolder(inbox), before);
}

TEST(ShareStoreConstruction, PlatformErrorsPassUnchangedAndLeaveNoBatchFolder) {
  TempDir temp;
  const std::string inbox = temp / "inbox";
  {
    FaultFileSystem fs;
    fs.inject({Op::makeDirectory, "/inbox", EACCES});
    EXPECT_POSIX_ERROR(ShareStore store(inbox, fs), EACCES);
    EXPECT_FALSE(testing::exists(inbox));
  }
  testing::makeFolder(inbox);
  {
    FaultFileSystem fs;
    fs.inject({Op::list, "/inbox", EIO});
    EXPECT_POSIX_ERROR(ShareStore store(inbox, fs), EIO);
  }
  {
    struct BatchFolderFails : ForwardingFileSystem {
      std::string inbox;
      void makeDirectory(const std::string& path, mode_t mode) override {
        if (path.rfind(inbox + "/", 0) == 0) throw systemError(ENOSPC, path);
        ForwardingFileSystem::makeDirectory(path, mode);
      }
    } fs;
    fs.inbox = inbox;
    EXPECT_POSIX_ERROR(ShareStore store(inbox, fs), ENOSPC);
  }
  {
    FaultFileSystem fs;
    fs.inject({Op::setAttribute, "", EIO});
    EXPECT_POSIX_ERROR(ShareStore store(inbox, fs), EIO);
  }
  EXPECT_TRUE(listFolder(inbox).empty());
}

TEST(ShareStoreConstruction, BackupExclusionIsSetOnTheInboxOrSkippedWhereUnsupported) {
  TempDir temp;
  const std::string inbox = temp / "inbox";
  {
    FaultFileSystem fs;
    fs.inject({Op::setAttribute, "", ENOTSUP});
    ShareStore store(inbox, fs);  // a file system without user attributes: nothing to do
    EXPECT_TRUE(testing::exists(store.batchFolder()));
  }
  ShareStore store(inbox);
  char value[16] = {};
  const ssize_t length = getxattr(inbox.c_str(), "user.xdg.robots.backup", value, sizeof value);
  if (length < 0 && errno == ENOTSUP) GTEST_SKIP() << "no user attributes on this file system";
  ASSERT_EQ(length, 5);
  EXPECT_EQ(std::string(value, 5), "false");
  EXPECT_EQ(getxattr(store.batchFolder().c_str(), "user.xdg.robots.backup", value, sizeof value),
            -1);
  // An inbox that is a link to a folder: the attribute goes on that folder.
  testing::makeFolder(temp / "real");
  ASSERT_EQ(symlink((temp / "real").c_str(), (temp / "linked").c_str()), 0);
  ShareStore linked(temp / "linked");
  EXPECT_EQ(getxattr((temp / "real").c_str(), "user.xdg.robots.backup", value, sizeof value), 5);
}

TEST(ShareStoreDestruction, RemovesAnUnpublishedBatchWithItsFilesSilently) {
  TempDir temp;
  const std::string inbox = temp / "inbox";
  std::string folder;
  {
    ShareStore store(inbox);
    folder = store.batchFolder();
    testing::writeFile(folder + "/data.bin", "x");
    testing::makeFolder(folder + "/nested/deeper");
    testing::writeFile(folder + "/nested/deeper/file", "y");
    // Links out of the batch folder are removed themselves, never followed.
    testing::makeFolder(temp / "outside/inner");
    ASSERT_EQ(::symlink((temp / "outside").c_str(), (folder + "/nested/out").c_str()), 0);
    ASSERT_EQ(::symlink((temp / "outside/inner").c_str(), (folder + "/in").c_str()), 0);
  }
  EXPECT_FALSE(testing::exists(folder));
  EXPECT_TRUE(testing::exists(temp / "outside/inner"));
  {
    ShareStore store(inbox);
    FileSystem::posix().remove(store.batchFolder());  // someone else removed it first
  }
  EXPECT_TRUE(listFolder(inbox).empty());
}

}  // namespace
}  // namespace quillop
