#include <gtest/gtest.h>

#include <string>

#include "platform/unicode.h"
#include "store/share_store.h"

namespace quillop {
namespace {

std::string repeat(const std::string& piece, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += piece;
  return text;
}

// What a terminal is shown of a hostile name (the status line, the stand-in's report).
TEST(PrintableText, ControlsAndIllFormedBytesBecomeQuestionMarks) {
  const std::pair<std::string, std::string> cases[] = {
      {"città €.txt", "città €.txt"},
      {"a\x1b[2Jb\r\n\x7f", "a?[2Jb???"},
      {"\xc2\x9b"
       "31m\xc2\x85\xc2\x9f\xc2\xa0",
       "?31m??\xc2\xa0"},  // C1; NBSP stays
      {"\x9b"
       "31m\xff\xc3",
       "?31m??"},  // ill-formed UTF-8
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(printableText(text), shown) << text;
}

TEST(SafeName, LengthCountsUtf8Bytes) {
  EXPECT_FALSE(ShareStore::safeName(""));
  EXPECT_TRUE(ShareStore::safeName(repeat("a", 240)));
  EXPECT_FALSE(ShareStore::safeName(repeat("a", 241)));
  EXPECT_TRUE(ShareStore::safeName(repeat("€", 80)));   // 240 bytes
  EXPECT_FALSE(ShareStore::safeName(repeat("€", 81)));  // 243 bytes, 81 characters
}

TEST(SafeName, DotsAndSpacesAtTheEdges) {
  for (const char* name : {".", "..", ".hidden", "name.", "name ", "a\tb"}) {
    EXPECT_FALSE(ShareStore::safeName(name)) << name;
  }
  for (const char* name : {" leading", "in side", "a.b", "perché è così.txt"}) {
    EXPECT_TRUE(ShareStore::safeName(name)) << name;
  }
}

TEST(SafeName, ForbiddenAndControlCharacters) {
  for (const char* c : {"/", "\\", ":", "<", ">", "\"", "|", "?", "*"}) {
    EXPECT_FALSE(ShareStore::safeName(std::string("a") + c + "b")) << c;
  }
  for (const char* c : {"\x01", "\x7f", "\xc2\x85" /* NEL */, "\xe2\x80\xae" /* RLO */,
                        "\xe2\x80\x8b" /* ZWSP */, "\xef\xbb\xbf" /* BOM */, "\xc2\xad"}) {
    EXPECT_FALSE(ShareStore::safeName(std::string("a") + c + "b"));
  }
  EXPECT_TRUE(ShareStore::safeName("a\xc2\xa0" "b"));  // no-break space is not a control
}

TEST(SafeName, NamesThatAreNotUtf8AreUnsafe) {
  EXPECT_FALSE(ShareStore::safeName("caf\xe9.txt"));        // Latin-1 byte
  EXPECT_FALSE(ShareStore::safeName("\xc0\xaf"));           // overlong "/"
  EXPECT_FALSE(ShareStore::safeName("a\xed\xa0\x80" "b"));  // encoded surrogate
}

TEST(SafeName, ReservedDeviceNames) {
  for (const char* name : {"CON", "con", "Con.txt", "COM1.log", "lpt9", "Prn.txt", "aux.anything",
                           "LPT9.tar.gz", "nul"}) {
    EXPECT_FALSE(ShareStore::safeName(name)) << name;
  }
  for (const char* name : {"COM0", "COM10", "CONNECT.txt", "LPT", "CONSOLE", "nul_1.txt"}) {
    EXPECT_TRUE(ShareStore::safeName(name)) << name;
  }
}

TEST(MediaType, LowerCasesAcceptedValues) {
  EXPECT_EQ(ShareStore::mime(std::nullopt), std::nullopt);
  EXPECT_EQ(ShareStore::mime("TEXT/PLAIN"), "text/plain");
  EXPECT_EQ(ShareStore::mime("Image/JPEG"), "image/jpeg");
  EXPECT_EQ(ShareStore::mime("application/vnd.ms-excel"), "application/vnd.ms-excel");
  EXPECT_EQ(ShareStore::mime("application/x-quillop-directory"), "application/x-quillop-directory");
  // U+212A KELVIN SIGN lower-cases to an ASCII "k", so the value becomes acceptable.
  EXPECT_EQ(ShareStore::mime("application/\xe2\x84\xaa" "ml"), "application/kml");
}

TEST(MediaType, RejectsMalformedValues) {
  for (const char* value : {"", "text/plain; charset=utf-8", "text/", "/plain", "a/b/c",
                            " text/plain", "text/plain\n", "text", "text/pl ain", "tèxt/plain"}) {
    EXPECT_EQ(ShareStore::mime(value), std::nullopt) << value;
  }
  EXPECT_EQ(ShareStore::mime(std::string("text/\xff")), std::nullopt);
}

TEST(MediaType, LengthLimitAppliesAfterLowerCasing) {
  const std::string valid127 = "application/" + std::string(115, 'x');
  ASSERT_EQ(valid127.size(), 127u);
  EXPECT_EQ(ShareStore::mime(valid127), valid127);
  EXPECT_EQ(ShareStore::mime(valid127 + "x"), std::nullopt);
  // 129 bytes before lower-casing, 127 after: the three-byte KELVIN SIGN becomes "k".
  const std::string kelvin = "application/" + std::string(114, 'x') + "\xe2\x84\xaa";
  ASSERT_EQ(kelvin.size(), 129u);
  EXPECT_EQ(ShareStore::mime(kelvin), "application/" + std::string(114, 'x') + "k");
}

}  // namespace
}  // namespace quillop
