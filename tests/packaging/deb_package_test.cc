// Builds the Debian packages with scripts/package.sh (or takes the main one named by $QUILLOP_DEB,
// the KDE one beside it), checks them with lintian, unpacks the main one into a temporary root and
// shares a file and a folder with the unpacked quillop-share; the unpacked host stand-in then
// verifies the batch.
#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>

#include "e2e_support.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

using ::testing::HasSubstr;

TEST(DebPackageTest, LintianCleanAndTheUnpackedProgramsShareAndVerify) {
  TempDir temp;
  std::string deb = std::getenv("QUILLOP_DEB") ? std::getenv("QUILLOP_DEB") : "";
  if (deb.empty()) {
    const ChildResult pack = runChild({QUILLOP_SOURCE_DIR "/scripts/package.sh", temp / "out"},
                                      {.env = {{"DESTDIR", std::nullopt}}, .mergeErr = true});
    ASSERT_EQ(pack.status, 0) << pack.out;
    for (const auto& item : std::filesystem::directory_iterator(temp / "out"))
      if (item.path().filename().string().starts_with("movarix-share_")) deb = item.path();
  }
  const size_t name = deb.rfind("/movarix-share_") + 1;
  ASSERT_NE(name, 0u) << deb;
  const std::string kde = deb.substr(0, name) + "movarix-share-kde_" + deb.substr(name + 14);
  const std::string root = temp / "root", bundle = root + "/usr/lib/movarix/Movarix.app";
  const std::vector<std::string> commands[] = {
      // Anything it says is a fault, among them files not owned by root or outside the FHS.
      {"lintian", "--fail-on", "error,warning", deb, kde},
      {"dpkg-deb", "-f", deb, "Package", "Depends", "Recommends"},
      {"dpkg-deb", "-x", deb, root},
      {"sh", "-c", "dpkg-deb -f \"$0\" Package Depends && dpkg-deb -c \"$0\"", kde},
  };
  std::vector<ChildResult> results;
  for (const std::vector<std::string>& command : commands) {
    results.push_back(runChild(command, {.mergeErr = true}));
    ASSERT_EQ(results.back().status, 0) << results.back().out;
  }
  EXPECT_EQ(results[0].out.find(": "), std::string::npos) << results[0].out;  // not the root notice
  // The main package pulls in no KDE library; the Share menus' plugin comes apart.
  const std::pair<size_t, std::vector<std::string>> fields[] = {
      {1,
       {"Package: movarix-share\n", "libqt6core6", "libicu72", "libssl3", "liburiparser1",
        "Recommends: python3-caja, python3-nautilus, qt6-wayland\n"}},
      {3,
       {"Package: movarix-share-kde\n", "movarix-share (= ", "libkf5purpose5", "libqt5core5a",
        "libkf5purpose-bin", "/qt5/plugins/kf5/purpose/movarix_purpose.so\n"}},
  };
  for (const auto& [result, texts] : fields)
    for (const std::string& text : texts) EXPECT_THAT(results[result].out, HasSubstr(text));
  for (const char* kde : {"kf5", "qt5"}) EXPECT_EQ(results[1].out.find(kde), std::string::npos);
  for (const std::string path : {"quillop-share/nautilus/Invia con Movarix",
                                 "nautilus-python/extensions/invia_con_movarix.py",
                                 "caja-python/extensions/invia_con_movarix.py",
                                 "file-manager/actions/ex.quillop.mac.share.desktop",
                                 "man/man1/quillop-share.1.gz", "man/man1/Movarix.1.gz"})
    EXPECT_TRUE(exists(root + "/usr/share/" + path)) << path;
  EXPECT_FALSE(exists(root + "/usr/share/nautilus"));  // a user's own folder only
  // The actions name the installed program, not the staging folder (one template stands for all).
  // As an application ours takes no files, so no "Open with" dialog offers it as an opener.
  EXPECT_THAT(readFile(root + "/usr/share/applications/ex.quillop.mac.share.desktop"),
              HasSubstr("\nExec=/usr/bin/quillop-share\n"));

  // Through the relative link, so that it leads to the unpacked extension.
  makeFolder(temp / "cartella");
  writeFile(temp / "cartella/nota.txt", "ciao");
  const EnvChanges env = shareEnvironment(temp / "data");
  const ChildResult shared = runChild({root + "/usr/bin/quillop-share", "--terminal",
                                       temp / "cartella", temp / "cartella/nota.txt"},
                                      {.env = env, .mergeErr = true});
  ASSERT_EQ(shared.status, 0) << shared.out;  // the unpacked host was found and started
  const ChildResult report = runChild({bundle + "/Contents/MacOS/Movarix"}, {.env = env});
  EXPECT_EQ(report.status, 0) << report.out;
  EXPECT_THAT(report.out, HasSubstr(": 2 file, ticket \"\": verificato\n"));
}

}  // namespace
}  // namespace quillop::testing
