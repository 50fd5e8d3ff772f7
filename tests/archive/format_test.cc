// The bytes of an archive: header, index text, member order and the data region.
#include <gtest/gtest.h>

#include "archive/archive_format.h"
#include "archive/archive_index.h"
#include "archive/archive_reader.h"
#include "archive/directory_writer.h"
#include "archive_test_support.h"
#include "platform/json_file.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

using Member = DirectoryWriter::Member;
using Manifest = DirectoryWriter::Manifest;

std::string emptyDigest() { return sha256Of(""); }

TEST(FormatTest, EmptyFolderGivesThe44ByteArchive) {
  TempDir dir;
  makeFolder(dir / "shared");
  EXPECT_EQ(DirectoryWriter::write(dir / "shared", dir / "out", kNever), 44u);
  EXPECT_EQ(readFile(dir / "out"),
            std::string("QUILLOP-DIR-1\n\0\0\0\x1a", 18) + "{\"version\":1,\"entries\":[]}");
}

TEST(FormatTest, SourceThatIsNotAFolderGivesTheEmptyArchive) {
  TempDir dir;
  writeFile(dir / "file", "not a folder");
  EXPECT_EQ(DirectoryWriter::write(dir / "file", dir / "out", kNever), 44u);
}

TEST(FormatTest, FolderAndFileGiveTheExactIndexAndData) {
  TempDir dir;
  makeFolder(dir / "shared/e");
  writeFile(dir / "shared/f.txt", "abc");
  writeFile(dir / "shared/.DS_Store", "");
  const std::uint64_t length = DirectoryWriter::write(dir / "shared", dir / "out", kNever);

  const std::string index =
      "{\"version\":1,\"entries\":["
      "{\"path\":\".DS_Store\",\"directory\":false,\"size\":0,\"sha256\":\"" +
      emptyDigest() +
      "\"},"
      "{\"path\":\"e\",\"directory\":true,\"size\":0,\"sha256\":\"\"},"
      "{\"path\":\"f.txt\",\"directory\":false,\"size\":3,\"sha256\":\"" +
      sha256Of("abc") + "\"}]}";
  const std::string bytes = readFile(dir / "out");
  EXPECT_EQ(length, 18 + index.size() + 3);
  EXPECT_EQ(bytes.size(), length);
  EXPECT_EQ(bytes.substr(0, 18), header(static_cast<std::uint32_t>(index.size())));
  EXPECT_EQ(bytes.substr(18, index.size()), index);
  EXPECT_EQ(bytes.substr(bytes.size() - 3), "abc");  // the empty file adds no bytes
}

TEST(FormatTest, MembersFollowTheUnsignedBytesOfTheirPaths) {
  TempDir dir;
  makeFolder(dir / "shared");
  for (const char* name : {"a0", "a-c", "a b", "\xC3\xA9t\xC3\xA9", "z"}) {
    writeFile(dir / "shared/" + name, name);
  }
  makeFolder(dir / "shared/a");
  writeFile(dir / "shared/a/x", "x");
  DirectoryWriter::write(dir / "shared", dir / "out", kNever);

  const ArchiveReader reader = ArchiveReader::open(dir / "out");
  std::vector<std::string> paths;
  for (const Member& member : reader.members()) paths.push_back(member.path);
  EXPECT_EQ(paths,
            (std::vector<std::string>{"a", "a b", "a-c", "a/x", "a0", "z", "\xC3\xA9t\xC3\xA9"}));
}

TEST(FormatTest, HeaderIsMagicLineFeedAndBigEndianLength) {
  const std::string bytes = header(300);
  ASSERT_EQ(bytes.size(), 18u);
  EXPECT_EQ(bytes.substr(0, 13), "QUILLOP-DIR-1");
  EXPECT_EQ(bytes[13], '\x0A');
  EXPECT_EQ(bytes.substr(14), std::string("\x00\x00\x01\x2C", 4));
  EXPECT_EQ(indexLengthOf(bytes), 300u);
  EXPECT_EQ(indexLengthOf(header(0x01020304)), 0x01020304u);
  EXPECT_FALSE(indexLengthOf("QUILLOP-DIR-2\n\0\0\0\0"));
  EXPECT_FALSE(indexLengthOf(bytes.substr(0, 17)));
}

TEST(FormatTest, IndexEscapesSlashesKeepsUnicodeAndWritesLargeSizesAsIntegers) {
  const Manifest manifest{
      1, {{"d", true, 0, ""}, {"d/\xC3\xA9", false, 50'000'000'000ULL, std::string(64, 'a')}}};
  const std::string text = encodeIndex(manifest);
  EXPECT_EQ(text, compactJson(toJson(manifest)));
  EXPECT_NE(text.find("\"path\":\"d\\/\xC3\xA9\""), std::string::npos) << text;
  EXPECT_NE(text.find("\"size\":50000000000,"), std::string::npos) << text;
  EXPECT_EQ(text.find(' '), std::string::npos);
  EXPECT_EQ(parseIndex(text), manifest);
}

TEST(FormatTest, DecodingRequiresEveryKeyWithItsType) {
  const nlohmann::json member = {
      {"path", "a"}, {"directory", false}, {"size", 1}, {"sha256", std::string(64, '0')}};
  EXPECT_EQ(memberFromJson(member), (Member{"a", false, 1, std::string(64, '0')}));
  for (const char* key : {"path", "directory", "size", "sha256"}) {
    nlohmann::json missing = member;
    missing.erase(key);
    EXPECT_FAILURE(memberFromJson(missing), "Archivio non valido: indice con struttura errata.");
  }
  for (const nlohmann::json& wrong :
       {nlohmann::json{{"size", -1}}, nlohmann::json{{"size", 1.5}},
        nlohmann::json{{"directory", 0}}, nlohmann::json{{"path", 7}}}) {
    nlohmann::json changed = member;
    changed.update(wrong);
    EXPECT_FAILURE(memberFromJson(changed), "Archivio non valido: indice con struttura errata.");
  }
  EXPECT_FAILURE(manifestFromJson(nlohmann::json{{"version", 1}}),
                 "Archivio non valido: indice con struttura errata.");
}

}  // namespace
}  // namespace quillop::testing
