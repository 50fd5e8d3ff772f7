#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <nlohmann/json.hpp>

#include "store/share_store.h"
#include "support/expect_error.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop {
namespace {

using testing::FaultFileSystem;
using testing::Op;
using testing::listFolder;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

class Publication : public ::testing::Test {
 protected:
  TempDir temp;
  std::string inbox = temp / "inbox";

  // A source file of `contents` named `name`, as a file URL.
  Url source(const std::string& name, const std::string& contents) {
    testing::makeFolder(temp / "sources");
    writeFile(temp / ("sources/" + name), contents);
    return Url::fromPath(temp / ("sources/" + name));
  }
};

TEST_F(Publication, ContextFileIsCompactEscapedAndReplaced) {
  ShareStore store(inbox);
  store.context("tök/en", {"/home/u/a b.txt", "/srv/perché/è"});
  EXPECT_EQ(readFile(store.batchFolder() + "/context.json"),
            R"({"ticket":"tök\/en","sources":["\/home\/u\/a b.txt","\/srv\/perché\/è"]})");
  store.context("", {});
  EXPECT_EQ(readFile(store.batchFolder() + "/context.json"), R"({"ticket":"","sources":[]})");
  EXPECT_EQ(listFolder(store.batchFolder()), std::vector<std::string>{"context.json"});
}

TEST_F(Publication, ManifestListsEntriesInOrderWithMimeOnlyWhenKnown) {
  ShareStore store(inbox);
  store.append(source("lettera.txt", "ciao"), "lettera.txt", "Text/Plain");
  store.append(source("dati", ""), "dati", std::nullopt);
  store.append(source("x", "!"), "x", "not a type");
  const std::string id = store.publish();
  EXPECT_EQ(id, store.id());
  EXPECT_TRUE(store.finished());
  const auto& e = store.entries();
  ASSERT_EQ(e.size(), 3u);
  const std::string expected = R"({"version":1,"id":")" + id + R"(","files":[{"id":")" + e[0].id +
                               R"(","name":"lettera.txt","size":4,"mime":"text\/plain"},{"id":")" +
                               e[1].id + R"(","name":"dati","size":0},{"id":")" + e[2].id +
                               R"(","name":"x","size":1}]})";
  EXPECT_EQ(readFile(store.batchFolder() + "/manifest.json"), expected);

  // Any JSON reader gets the same record back.
  ShareStore::Batch batch = nlohmann::ordered_json::parse(expected).get<ShareStore::Batch>();
  EXPECT_EQ(batch, (ShareStore::Batch{1, id, e}));
}

TEST_F(Publication, SizesAboveFourGigabytesAreExactIntegers) {
  const ShareStore::Batch batch{1, "b", {{"e", "n", 50'000'000'000ULL, std::nullopt},
                                         {"f", "m", 4'294'967'296ULL, "a/b"}}};
  const std::string text = nlohmann::ordered_json(batch).dump();
  EXPECT_NE(text.find(R"("size":50000000000})"), std::string::npos);
  EXPECT_NE(text.find(R"("size":4294967296,)"), std::string::npos);
  EXPECT_EQ(nlohmann::ordered_json::parse(text).get<ShareStore::Batch>(), batch);
  // Readers take any valid form: reordered keys, whitespace, a size written as 5e10 is refused.
  EXPECT_EQ(nlohmann::ordered_json::parse(R"( { "size" : 3, "name":"n", "id" : "e" } )")
                .get<ShareStore::Entry>(),
            (ShareStore::Entry{"e", "n", 3, std::nullopt}));
  EXPECT_ANY_THROW(nlohmann::ordered_json::parse(R"({"id":"e","name":"n","size":-1})")
                       .get<ShareStore::Entry>());
}

TEST_F(Publication, RefusedWhenEmptyOrAlreadyPublished) {
  ShareStore store(inbox);
  EXPECT_FAILURE(store.publish(), "Nessun file preparato.");
  EXPECT_TRUE(listFolder(store.batchFolder()).empty());
  store.append(source("a", "1"), "a", std::nullopt);
  store.publish();
  const std::string manifest = readFile(store.batchFolder() + "/manifest.json");
  EXPECT_FAILURE(store.publish(), "Nessun file preparato.");
  EXPECT_EQ(readFile(store.batchFolder() + "/manifest.json"), manifest);
}

TEST_F(Publication, PublishedBatchOutlivesItsStore) {
  std::string folder;
  {
    ShareStore store(inbox);
    store.append(source("a", "1"), "a", std::nullopt);
    store.context("", {"/a"});
    store.publish();
    folder = store.batchFolder();
  }
  EXPECT_EQ(listFolder(folder).size(), 3u);  // data file, context.json, manifest.json
}

TEST_F(Publication, FailedWritesLeaveTheStoreOpenAndNoTemporaryFiles) {
  for (int fault = 0; fault < 3; ++fault) {
    FaultFileSystem fs;
    std::string folder;
    {
      ShareStore store(inbox, fs);
      store.append(source("a", "1"), "a", std::nullopt);
      if (fault == 0) fs.inject({Op::rename, ".json", EIO});
      if (fault == 1) fs.inject({Op::sync, ".tmp", EIO});
      if (fault == 2) fs.inject({Op::write, ".tmp", ENOSPC});
      EXPECT_POSIX_ERROR(store.publish(), fault == 2 ? ENOSPC : EIO);
      EXPECT_FALSE(store.finished());
      folder = store.batchFolder();
      EXPECT_EQ(listFolder(folder).size(), 1u) << "only the data file";
      EXPECT_POSIX_ERROR(store.context("t", {}), fault == 2 ? ENOSPC : EIO);
      EXPECT_EQ(listFolder(folder).size(), 1u);
    }
    EXPECT_FALSE(testing::exists(folder)) << "an open store removes its folder";
  }
}

TEST_F(Publication, ManifestReachesStorageBeforeItsNameAndTheFoldersAfterIt) {
  FaultFileSystem fs;
  ShareStore store(inbox, fs);
  store.append(source("a", "1"), "a", std::nullopt);
  const std::string data = store.batchFolder() + "/" + store.entries()[0].id + ".bin";
  const auto afterAppend = fs.log();
  EXPECT_NE(std::find(afterAppend.begin(), afterAppend.end(), "sync " + data), afterAppend.end())
      << "the data file is flushed before its entry is recorded";
  fs.clearLog();
  store.publish();
  const auto log = fs.log();
  const std::string manifest = store.batchFolder() + "/manifest.json";
  auto position = [&](auto predicate) {
    return std::find_if(log.begin(), log.end(), predicate) - log.begin();
  };
  const auto syncTemp = position([](const std::string& l) {
    return l.rfind("sync ", 0) == 0 && l.find(".manifest.json.") != std::string::npos;
  });
  const auto rename = position([&](const std::string& l) {
    return l.rfind("rename ", 0) == 0 && l.size() > manifest.size() &&
           l.compare(l.size() - manifest.size(), manifest.size(), manifest) == 0;
  });
  const auto syncFolder =
      position([&](const std::string& l) { return l == "sync " + store.batchFolder(); });
  const auto syncInbox = position([&](const std::string& l) { return l == "sync " + inbox; });
  ASSERT_LT(syncInbox, static_cast<long>(log.size())) << ::testing::PrintToString(log);
  EXPECT_LT(syncTemp, rename);
  EXPECT_LT(rename, syncFolder);
  EXPECT_LT(syncFolder, syncInbox);
}

TEST(FileUrl, AcceptsFileUrlsWithAbsolutePathsInThreeForms) {
  const Url url = *Url::parse("file:///tmp/a%20b/%C3%A8.txt");
  EXPECT_EQ(ShareStore::fileURL(url), url);
  EXPECT_EQ(ShareStore::fileURL(url)->path(), "/tmp/a b/è.txt");
  const std::string text = "file:///tmp/x.txt";
  EXPECT_EQ(ShareStore::fileURL(text)->path(), "/tmp/x.txt");
  EXPECT_EQ(ShareStore::fileURL(Bytes(text.begin(), text.end()))->path(), "/tmp/x.txt");
  EXPECT_EQ(ShareStore::fileURL(std::string("file://localhost/etc/hosts"))->path(), "/etc/hosts");
}

TEST(FileUrl, RefusesEverythingElse) {
  EXPECT_EQ(ShareStore::fileURL(LoadedItem{}), std::nullopt);
  EXPECT_EQ(ShareStore::fileURL(42.0), std::nullopt);
  for (const char* text : {"https://example.org/a.txt", "file:relative/a.txt", "/tmp/a.txt",
                           "file:///tmp/a b", "", "sftp://host/tmp/a"}) {
    EXPECT_EQ(ShareStore::fileURL(std::string(text)), std::nullopt) << text;
  }
  const std::string bad = "not a url";
  EXPECT_EQ(ShareStore::fileURL(Bytes(bad.begin(), bad.end())), std::nullopt);
}

}  // namespace
}  // namespace quillop
