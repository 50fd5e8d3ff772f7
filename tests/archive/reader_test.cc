// ArchiveReader and parseIndex: a written archive reads back as the tree it came from, and
// every kind of damage is refused with its own message, never written outside the target.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "archive/archive_format.h"
#include "archive/archive_index.h"
#include "archive/archive_reader.h"
#include "archive/directory_writer.h"
#include "archive_test_support.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

using Member = DirectoryWriter::Member;
using Manifest = DirectoryWriter::Manifest;

std::string archiveOf(const std::string& index, const std::string& data) {
  return header(static_cast<std::uint32_t>(index.size())) + index + data;
}

Member file(std::string path, const std::string& bytes) {
  return Member{std::move(path), false, bytes.size(), sha256Of(bytes)};
}

Member folder(std::string path) { return Member{std::move(path), true, 0, ""}; }

// Recursively compares two trees: same names, same kinds, same bytes.
void expectSameTree(const std::string& a, const std::string& b) {
  const auto names = listFolder(a);
  ASSERT_EQ(names, listFolder(b)) << a << " vs " << b;
  for (const std::string& name : names) {
    struct stat sa {
    }, sb{};
    ASSERT_EQ(::lstat((a + "/" + name).c_str(), &sa), 0);
    ASSERT_EQ(::lstat((b + "/" + name).c_str(), &sb), 0);
    ASSERT_EQ(sa.st_mode & S_IFMT, sb.st_mode & S_IFMT) << name;
    if (S_ISDIR(sa.st_mode)) {
      expectSameTree(a + "/" + name, b + "/" + name);
    } else {
      EXPECT_EQ(readFile(a + "/" + name), readFile(b + "/" + name)) << name;
    }
  }
}

TEST(ReaderTest, WrittenArchiveExtractsToTheSameTreeByteForByte) {
  TempDir dir;
  const std::string src = dir / "src";
  makeFolder(src + "/deep/er/still");
  makeFolder(src + "/empty");
  writeFile(src + "/big", patternBytes(3 * kChunkSize + 17));
  writeFile(src + "/zero", "");
  writeFile(src + "/.hidden", "h");
  writeFile(src + "/deep/er/still/caf\xC3\xA9 \xE2\x82\xAC", "unicode");
  writeFile(src + "/deep/a b", "space");
  const std::uint64_t length = DirectoryWriter::write(src, dir / "a.bin", kNever);

  const ArchiveReader reader = ArchiveReader::open(dir / "a.bin");
  EXPECT_EQ(reader.length(), length);
  EXPECT_EQ(reader.members().size(), 9u);
  reader.verify();
  makeFolder(dir / "out");
  reader.extract(dir / "out");
  expectSameTree(src, dir / "out");
}

TEST(ReaderTest, DamagedHeadersAndLengthsAreRefused) {
  TempDir dir;
  const std::string index = encodeIndex(Manifest{1, {file("f", "abc")}});
  const std::string good = archiveOf(index, "abc");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "Archivio non valido: intestazione mancante o errata."},
      {"QUILLOP-DIR-2\n" + good.substr(14), "Archivio non valido: intestazione mancante o errata."},
      {header(kMaxIndexBytes + 1), "Archivio non valido: indice troppo grande."},
      {good.substr(0, 30), "Archivio non valido: il file finisce dentro l'indice."},
      {good.substr(0, good.size() - 1), "Archivio non valido: lunghezza del file " +
                                            std::to_string(good.size() - 1) + " invece di " +
                                            std::to_string(good.size()) + " byte."},
      {good + "x", "Archivio non valido: lunghezza del file " + std::to_string(good.size() + 1) +
                       " invece di " + std::to_string(good.size()) + " byte."},
  };
  for (const auto& [bytes, message] : cases) {
    writeFile(dir / "a.bin", bytes);
    EXPECT_FAILURE(ArchiveReader::open(dir / "a.bin"), message);
  }
  makeFolder(dir / "folder");
  EXPECT_FAILURE(ArchiveReader::open(dir / "folder"),
                 "Archivio non valido: non è un file regolare.");
  writeFile(dir / "a.bin", good);
  makeLink(dir / "a.bin", dir / "link");
  EXPECT_TRUE(thrownError([&] { ArchiveReader::open(dir / "link"); }).isPosix(ELOOP));
}

TEST(ReaderTest, DamagedIndexesAreRefused) {
  const std::string digest = sha256Of("x");
  const auto entry = [&](const std::string& path, bool directory = false) {
    return "{\"path\":\"" + path + "\",\"directory\":" + (directory ? "true" : "false") +
           ",\"size\":" + (directory ? "0" : "1") + ",\"sha256\":\"" + (directory ? "" : digest) +
           "\"}";
  };
  const auto index = [](const std::string& entries) {
    return "{\"version\":1,\"entries\":[" + entries + "]}";
  };
  const std::string bad = "Archivio non valido: ";
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{\"version\":1,\"entries\":[", bad + "l'indice non è JSON ben formato."},
      {index("") + " x", bad + "l'indice non è JSON ben formato."},
      {"{\"version\":1,\"entries\":[],\"p\":\"\xFF\"}", bad + "l'indice non è JSON ben formato."},
      {"{\"version\":2,\"entries\":[]}", bad + "versione dell'indice non supportata."},
      {"{\"version\":1,\"entries\":[],\"extra\":0}", bad + "indice con struttura errata."},
      {"{\"version\":1,\"version\":1,\"entries\":[]}", bad + "chiave ripetuta nell'indice."},
      {index("{\"path\":\"a\",\"path\":\"b\",\"directory\":true,\"size\":0}"),
       bad + "chiave ripetuta nell'indice."},
      {index("[[[[[[[[[[]]]]]]]]]]"), bad + "indice con struttura errata."},
      {index(entry("b") + "," + entry("a")), bad + "membri non ordinati o ripetuti: a"},
      {index(entry("a") + "," + entry("a")), bad + "membri non ordinati o ripetuti: a"},
      {index(entry("..")), bad + "percorso non ammesso: .."},
      {index(entry("\\/etc\\/passwd")), bad + "percorso non ammesso: /etc/passwd"},
      {index(entry("d", true) + "," + entry("d\\/..\\/x")), bad + "percorso non ammesso: d/../x"},
      {index(entry("d\\/x")), bad + "manca la cartella che contiene d/x"},
      {index(entry("d") + "," + entry("d\\/x")), bad + "manca la cartella che contiene d/x"},
      {index("{\"path\":\"d\",\"directory\":true,\"size\":1,\"sha256\":\"\"}"),
       bad + "cartella con dimensione o impronta: d"},
      {index("{\"path\":\"f\",\"directory\":false,\"size\":1,\"sha256\":\"" + std::string(64, 'A') +
             "\"}"),
       bad + "impronta SHA-256 non valida: f"},
      {index("{\"path\":\"f\",\"directory\":false,\"size\":50000000001,\"sha256\":\"" + digest +
             "\"}"),
       bad + "contenuto oltre 50 GB."},
  };
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text);
    EXPECT_FAILURE(parseIndex(text), message);
  }
}

TEST(ReaderTest, DamagedDataIsFoundByVerifyAndStopsExtraction) {
  TempDir dir;
  const Manifest manifest{1, {file("a", "first"), folder("d"), file("d/b", "second")}};
  std::string bytes = archiveOf(encodeIndex(manifest), "firstsecond");
  bytes[bytes.size() - 2] ^= 0x20;
  writeFile(dir / "a.bin", bytes);
  const ArchiveReader reader = ArchiveReader::open(dir / "a.bin");
  const std::string message =
      "Archivio danneggiato: il contenuto di d/b non corrisponde alla sua impronta SHA-256.";
  EXPECT_FAILURE(reader.verify(), message);
  makeFolder(dir / "out");
  EXPECT_FAILURE(reader.extract(dir / "out"), message);
  EXPECT_EQ(readFile(dir / "out/a"), "first");

  // The archive changed after it was opened.
  writeFile(dir / "a.bin", archiveOf(encodeIndex(manifest), "firstsecond!"));
  EXPECT_FAILURE(reader.verify(), "Archivio danneggiato: il file è cambiato dopo l'apertura.");
}

TEST(ReaderTest, ExtractionNeedsAnEmptyRealFolder) {
  TempDir dir;
  writeFile(dir / "a.bin", archiveOf(encodeIndex(Manifest{1, {file("f", "x")}}), "x"));
  const ArchiveReader reader = ArchiveReader::open(dir / "a.bin");
  makeFolder(dir / "full");
  writeFile(dir / "full/f", "mine");
  EXPECT_FAILURE(reader.extract(dir / "full"),
                 "Cartella di destinazione non vuota: " + dir / "full");
  EXPECT_EQ(readFile(dir / "full/f"), "mine");
  makeFolder(dir / "real");
  makeLink(dir / "real", dir / "link");
  const Error error = thrownError([&] { reader.extract(dir / "link"); });
  EXPECT_TRUE(error.isPosix(ELOOP) || error.isPosix(ENOTDIR)) << error.message();
  EXPECT_TRUE(listFolder(dir / "real").empty());
  FaultFileSystem full;  // the one byte of "f" needs more than 1 + 16 MiB free
  full.setFreeSpace(1 + 16'777'216);
  EXPECT_FAILURE(ArchiveReader::open(dir / "a.bin", full).extract(dir / "real"),
                 "Spazio insufficiente sul Mac.");
  EXPECT_TRUE(listFolder(dir / "real").empty());
}

TEST(ReaderTest, ExtractionNeverFollowsALinkThatAppearsMeanwhile) {
  TempDir dir;
  const Manifest manifest{1, {folder("d"), file("d/f", "payload"), file("e", "")}};
  writeFile(dir / "a.bin", archiveOf(encodeIndex(manifest), "payload"));
  makeFolder(dir / "outside");
  makeFolder(dir / "out");
  FaultFileSystem fs;
  const ArchiveReader reader = ArchiveReader::open(dir / "a.bin", fs);
  // Once "d" exists, swap it for a link to a folder outside before "d/f" is created.
  fs.onOpen([&](const std::string& path, int) {
    if (path.ends_with("/d") && exists(dir / "out/d") && !exists(dir / "out/d.old")) {
      ::rename((dir / "out/d").c_str(), (dir / "out/d.old").c_str());
      makeLink(dir / "outside", dir / "out/d");
    }
  });
  EXPECT_TRUE(thrownError([&] { reader.extract(dir / "out"); }).isPosix(ENOTDIR));
  EXPECT_TRUE(listFolder(dir / "outside").empty());
}

}  // namespace
}  // namespace quillop::testing
