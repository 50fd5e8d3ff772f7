#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <tuple>

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

constexpr std::uint64_t kLimit = 50'000'000'000ULL;
constexpr std::uint64_t kMargin = 16'777'216;

std::string randomBytes(size_t length, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(length, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

class Import : public ::testing::Test {
 protected:
  Url file(const std::string& name, const std::string& contents) {
    writeFile(temp / name, contents);
    return Url::fromPath(temp / name);
  }
  std::string dataFile(const ShareStore& store, size_t index) {
    return store.batchFolder() + "/" + store.entries().at(index).id + ".bin";
  }
  // Files in the batch folder besides the ones entries account for.
  size_t filesInBatch(const ShareStore& store) { return listFolder(store.batchFolder()).size(); }

  TempDir temp;
  FaultFileSystem fs;
  ShareStore store{temp / "inbox", fs};
};

TEST_F(Import, CopiesAreByteIdenticalAroundChunkBoundariesOnBothPaths) {
  const size_t sizes[] = {0, 1, 262'143, 262'144, 262'145, 3 * 262'144 + 17};
  for (bool buffered : {false, true}) {
    if (buffered) fs.inject({Op::copyRange, "", EXDEV});
    for (size_t size : sizes) {
      const std::string contents = randomBytes(size, static_cast<unsigned>(size));
      CopyProgress progress;
      store.append(file("f" + std::to_string(size), contents), "f.dat", "application/octet-stream",
                   {}, &progress);
      const size_t last = store.entries().size() - 1;
      EXPECT_EQ(store.entries()[last].size, size);
      EXPECT_EQ(store.entries()[last].mime, "application/octet-stream");
      EXPECT_EQ(readFile(dataFile(store, last)), contents) << size << (buffered ? " buffered" : "");
      EXPECT_EQ(progress.snapshot().expected, size);
      EXPECT_EQ(progress.snapshot().written, size);
    }
  }
}

TEST_F(Import, ShortWritesAreCompleted) {
  fs.shortWrites(".bin", 1000);
  const std::string contents = randomBytes(300'000, 7);
  store.append(file("a", contents), "a", std::nullopt);
  EXPECT_EQ(readFile(dataFile(store, 0)), contents);
}

TEST_F(Import, TwoImportsOfOneSourceMakeTwoEntries) {
  const Url a = file("a.txt", "same");
  store.append(a, "a.txt", "text/plain");
  store.append(a, "a.txt", "text/plain");
  ASSERT_EQ(store.entries().size(), 2u);
  EXPECT_NE(store.entries()[0].id, store.entries()[1].id);
  EXPECT_EQ(readFile(dataFile(store, 1)), "same");
  EXPECT_EQ(filesInBatch(store), 2u);
}

TEST_F(Import, AdmissionRefusesWithoutWriting) {
  const Url a = file("a", "x");
  EXPECT_FAILURE(store.append(*Url::parse("https://example.org/a"), "a", std::nullopt),
                 "File condiviso non valido.");
  EXPECT_FAILURE(store.append(a, "CON.txt", std::nullopt), "File condiviso non valido.");
  EXPECT_FAILURE(store.append(a, "a/b", std::nullopt), "File condiviso non valido.");
  EXPECT_FAILURE(store.append(*Url::parse(a.text() + "%00/b.pdf"), "b.pdf", std::nullopt),
                 "File condiviso non valido.");
  for (int i = 0; i < 100; ++i) store.append(a, "a", std::nullopt);
  EXPECT_FAILURE(store.append(a, "a", std::nullopt), "File condiviso non valido.");
  EXPECT_EQ(filesInBatch(store), 100u);
  store.publish();
  ShareStore other(temp / "inbox", fs);
  other.append(a, "a", std::nullopt);
  other.publish();
  EXPECT_FAILURE(other.append(a, "a", std::nullopt), "File condiviso non valido.");
  EXPECT_EQ(filesInBatch(other), 2u);  // data file and manifest
}

TEST_F(Import, OnlyRegularFilesAreCopied) {
  const Url target = file("target", "x");
  testing::makeFolder(temp / "folder");
  ASSERT_EQ(symlink((temp / "target").c_str(), (temp / "to-file").c_str()), 0);
  ASSERT_EQ(symlink((temp / "folder").c_str(), (temp / "to-folder").c_str()), 0);
  ASSERT_EQ(mkfifo((temp / "pipe").c_str(), 0600), 0);
  for (const std::string& path :
       {temp / "to-file", temp / "to-folder", temp / "pipe", std::string("/dev/null")}) {
    EXPECT_FAILURE(store.append(Url::fromPath(path), "x", std::nullopt),
                   "Il file non è regolare o supera 50 GB.");
  }
  EXPECT_POSIX_ERROR(store.append(Url::fromPath(temp / "missing"), "x", std::nullopt), ENOENT);
  EXPECT_TRUE(store.entries().empty());
  EXPECT_EQ(filesInBatch(store), 0u);
}

TEST_F(Import, FolderBecomesAnArchiveEntryWhateverMimeWasGiven) {
  testing::makeFolder(temp / "cartella/vuota");
  writeFile(temp / "cartella/f.txt", "abc");
  CopyProgress progress;
  store.append(Url::fromPath(temp / "cartella"), "cartella", "text/plain", {}, &progress);
  ASSERT_EQ(store.entries().size(), 1u);
  const auto& entry = store.entries()[0];
  const CopyProgress::Snapshot counted = progress.snapshot();
  EXPECT_EQ(std::tuple(counted.expected, counted.written, counted.walking),
            std::tuple(entry.size, entry.size, false));
  EXPECT_EQ(entry.mime, "application/x-quillop-directory");
  EXPECT_EQ(entry.size, readFile(dataFile(store, 0)).size());
  EXPECT_GT(entry.size, 3u + 18u);
}

TEST_F(Import, SizeLimitBeforeTheCopy) {
  const Url big = file("big", "");
  fs.reportSize("/big", kLimit + 1);
  fs.clearLog();
  EXPECT_FAILURE(store.append(big, "big", std::nullopt), "Il file non è regolare o supera 50 GB.");
  EXPECT_TRUE(fs.log().empty()) << "nothing opened or created";
}

TEST_F(Import, ExactlyTheLimitPassesAndOneByteMoreDuringTheCopyFails) {
  fs.setFreeSpace(kLimit * 2);
  fs.discardWrites(".bin");
  const Url exact = file("exact", "");
  fs.reportSize("/exact", kLimit);
  fs.virtualContent("/exact", kLimit, false);
  store.append(exact, "exact", std::nullopt);
  EXPECT_EQ(store.entries().at(0).size, kLimit);

  const Url grows = file("grows", "");
  fs.reportSize("/grows", kLimit);
  fs.virtualContent("/grows", kLimit + 1, false);
  EXPECT_FAILURE(store.append(grows, "grows", std::nullopt), "Il limite è 50 GB per file.");
  EXPECT_EQ(store.entries().size(), 1u);
}

TEST_F(Import, FreeSpaceMustExceedSizePlusMargin) {
  const Url a = file("a", std::string(1000, 'a'));
  fs.setFreeSpace(1000 + kMargin);
  EXPECT_FAILURE(store.append(a, "a", std::nullopt), "Spazio insufficiente sul Mac.");
  fs.setFreeSpace(std::nullopt);
  EXPECT_FAILURE(store.append(a, "a", std::nullopt), "Spazio insufficiente sul Mac.");
  EXPECT_EQ(filesInBatch(store), 0u);
  fs.setFreeSpace(1000 + kMargin + 1);
  store.append(a, "a", std::nullopt);
  EXPECT_EQ(store.entries().size(), 1u);
  FaultFileSystem failing;
  failing.inject({Op::freeSpace, "", EIO});
  ShareStore other(temp / "inbox", failing);
  EXPECT_POSIX_ERROR(other.append(a, "a", std::nullopt), EIO);
}

TEST_F(Import, OpeningFailuresOfSourceAndTarget) {
  const Url a = file("a", "x");
  fs.inject({Op::open, "/a", EACCES});
  EXPECT_FAILURE(store.append(a, "a", std::nullopt), "Sorgente non leggibile.");
  FaultFileSystem swapping;
  swapping.onOpen([&](const std::string& path, int) {
    if (path == temp / "b") {  // becomes a named pipe between the check and the opening
      unlink(path.c_str());
      mkfifo(path.c_str(), 0600);
    }
  });
  ShareStore other(temp / "inbox", swapping);
  EXPECT_FAILURE(other.append(file("b", "x"), "b", std::nullopt), "File speciale non supportato.");
  FaultFileSystem noTarget;
  noTarget.inject({Op::open, ".bin", EACCES});
  ShareStore third(temp / "inbox", noTarget);
  EXPECT_FAILURE(third.append(file("c", "x"), "c", std::nullopt), "File non leggibile.");
  EXPECT_TRUE(store.entries().empty() && other.entries().empty() && third.entries().empty());
}

TEST_F(Import, ReadAndWriteFailures) {
  const Url a = file("a", randomBytes(600'000, 3));
  fs.inject({Op::read, "/a", EIO, 2});
  EXPECT_POSIX_ERROR(store.append(a, "a", std::nullopt), EIO);
  FaultFileSystem full;
  full.inject({Op::write, ".bin", ENOSPC});
  ShareStore second(temp / "inbox", full);
  EXPECT_POSIX_ERROR(second.append(a, "a", std::nullopt), ENOSPC);
  FaultFileSystem stuck;
  stuck.inject({Op::write, ".bin", 0});  // write(2) returning 0
  ShareStore third(temp / "inbox", stuck);
  EXPECT_FAILURE(third.append(a, "a", std::nullopt), "Scrittura interrotta.");
  FaultFileSystem noSync;
  noSync.inject({Op::sync, ".bin", EIO});
  ShareStore fourth(temp / "inbox", noSync);
  EXPECT_POSIX_ERROR(fourth.append(a, "a", std::nullopt), EIO);
  for (ShareStore* s : {&store, &second, &third, &fourth}) {
    EXPECT_TRUE(s->entries().empty());
    EXPECT_EQ(filesInBatch(*s), 1u) << "the partial data file stays until the batch goes";
  }
}

TEST_F(Import, FileThatGrowsOrShrinksDuringTheCopy) {
  const std::string path = temp / "changing";
  for (bool grow : {true, false}) {
    const Url changing = file("changing", randomBytes(600'000, 5));
    fs.onRead("/changing", [&](const std::string&) {
      truncate(path.c_str(), grow ? 700'000 : 300'000);
    });
    EXPECT_FAILURE(store.append(changing, "changing", std::nullopt),
                   "Il file è cambiato durante la copia.");
  }
  // Size 0, yet data without end (/proc/self/pagemap): stopped at the first chunk.
  fs.discardWrites(".bin");
  fs.virtualContent("/endless", kLimit + 1, false);
  EXPECT_FAILURE(store.append(file("endless", ""), "endless", std::nullopt),
                 "Il file è cambiato durante la copia.");
  EXPECT_TRUE(store.entries().empty());
}

TEST_F(Import, CancellationBeforeTheFirstReadAndBetweenChunks) {
  const Url a = file("a", randomBytes(1'000'000, 9));
  fs.clearLog();
  EXPECT_FAILURE(store.append(a, "a", std::nullopt, [] { return true; }),
                 "Preparazione annullata.");
  ASSERT_EQ(filesInBatch(store), 1u);
  EXPECT_EQ(readFile(store.batchFolder() + "/" + listFolder(store.batchFolder())[0]), "");
  int polls = 0;
  EXPECT_FAILURE(store.append(a, "a", std::nullopt, [&] { return ++polls == 3; }),
                 "Preparazione annullata.");
  EXPECT_TRUE(store.entries().empty());
  // Every descriptor opened was closed, the source before the data file.
  const auto log = fs.log();
  int open = 0;
  for (const std::string& line : log) {
    if (line.rfind("open ", 0) == 0) ++open;
    if (line.rfind("close ", 0) == 0) --open;
  }
  EXPECT_EQ(open, 0);
  const auto closeSource = std::find(log.begin(), log.end(), "close " + temp / "a");
  ASSERT_NE(closeSource, log.end());
  ASSERT_NE(closeSource + 1, log.end());
  EXPECT_NE((closeSource + 1)->find(".bin"), std::string::npos);
}

}  // namespace
}  // namespace quillop
