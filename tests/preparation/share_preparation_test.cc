#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "share/share_preparation.h"
#include "store/share_store.h"
#include "support/expect_error.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop {
namespace {

using State = SharePreparation::State;
using testing::Op;
using testing::TempDir;

class Preparation : public ::testing::Test {
 protected:
  // A store with one imported file, ready to publish.
  std::unique_ptr<ShareStore> readyStore(FileSystem& fs = FileSystem::posix(),
                                         const std::string& inbox = "inbox") {
    testing::writeFile(temp / "item", "data");
    auto store = std::make_unique<ShareStore>(temp / inbox, fs);
    store->append(Url::fromPath(temp / "item"), "item", std::nullopt);
    return store;
  }
  bool hasManifest(const ShareStore& store) {
    return testing::exists(store.batchFolder() + "/manifest.json");
  }

  TempDir temp;
  SharePreparation preparation;
};

TEST_F(Preparation, BeginAndCancelFollowTheTransitionTable) {
  EXPECT_FALSE(preparation.isCancelled());
  EXPECT_TRUE(preparation.begin());
  EXPECT_FALSE(preparation.begin());
  EXPECT_EQ(preparation.state(), State::copying);
  EXPECT_TRUE(preparation.cancel());
  EXPECT_FALSE(preparation.cancel());
  EXPECT_TRUE(preparation.isCancelled());
  EXPECT_FALSE(preparation.begin());
  EXPECT_EQ(preparation.state(), State::cancelled);

  SharePreparation fresh;
  EXPECT_TRUE(fresh.cancel());  // ready -> cancelled ("Annulla" before the share started)
  EXPECT_FALSE(fresh.begin());
}

TEST_F(Preparation, PublishOnlyWhileCopying) {
  auto store = readyStore();
  EXPECT_CANCELLED(preparation.publish(*store));  // never begun
  EXPECT_FALSE(hasManifest(*store));
  preparation.begin();
  EXPECT_EQ(preparation.publish(*store), store->id());
  EXPECT_EQ(preparation.state(), State::published);
  EXPECT_TRUE(hasManifest(*store));
  EXPECT_CANCELLED(preparation.publish(*store));
  EXPECT_FALSE(preparation.cancel());
  EXPECT_FALSE(preparation.isCancelled());
}

TEST_F(Preparation, PublishAfterCancelLeavesTheStoreOpen) {
  auto store = readyStore();
  const std::string folder = store->batchFolder();
  preparation.begin();
  preparation.cancel();
  EXPECT_CANCELLED(preparation.publish(*store));
  EXPECT_FALSE(store->finished());
  store.reset();
  EXPECT_FALSE(testing::exists(folder));
}

TEST_F(Preparation, FailedPublicationStaysCopyingUntilCancelled) {
  testing::FaultFileSystem fs;
  auto store = readyStore(fs);
  fs.inject({Op::rename, "manifest.json", EIO});
  preparation.begin();
  EXPECT_POSIX_ERROR(preparation.publish(*store), EIO);
  EXPECT_EQ(preparation.state(), State::copying);
  EXPECT_TRUE(preparation.cancel());
}

// Many threads race "Annulla" against publication: every preparation ends either published
// with its manifest on disk, or cancelled with no manifest, never both.
TEST_F(Preparation, CancelRacingPublishNeverEndsBoth) {
  constexpr int kRounds = 200;
  int published = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto store = readyStore(FileSystem::posix(), "inbox" + std::to_string(round));
    SharePreparation shared;
    shared.begin();
    std::atomic<bool> go{false};
    std::atomic<int> cancelsWon{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 3; ++i) {
      threads.emplace_back([&] {
        while (!go.load()) std::this_thread::yield();
        if (shared.cancel()) ++cancelsWon;
      });
    }
    std::atomic<bool> publishWon{false};
    threads.emplace_back([&] {
      while (!go.load()) std::this_thread::yield();
      try {
        shared.publish(*store);
        publishWon = true;
      } catch (const Error& error) {
        EXPECT_TRUE(error.isCancellation());
      }
    });
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_NE(publishWon.load(), cancelsWon.load() == 1);
    EXPECT_LE(cancelsWon.load(), 1);
    EXPECT_EQ(hasManifest(*store), shared.state() == State::published);
    EXPECT_EQ(shared.isCancelled(), !publishWon.load());
    published += publishWon ? 1 : 0;
  }
  RecordProperty("published", published);
}

}  // namespace
}  // namespace quillop
