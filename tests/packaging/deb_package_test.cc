// Builds the Debian package with scripts/package.sh (or takes the one named by $QUILLOP_DEB),
// checks it with lintian and desktop-file-validate, unpacks it into a temporary root and shares a
// sample with the unpacked quillop-share: the batch must be published and the unpacked host
// stand-in started.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "support/child_process.h"
#include "desktop_entry.h"
#include "executable_watch.h"
#include "share_sample.h"
#include "store/batch_check.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

using namespace std::chrono_literals;

const std::string kBundle = "/usr/lib/movarix/Movarix.app";
const std::string kExtension =
    kBundle + "/Contents/PlugIns/QuillopShare.appex/Contents/MacOS/quillop-share";
const std::string kHost = kBundle + "/Contents/MacOS/Movarix";

class DebPackage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    temp_ = new TempDir;
    const char* given = std::getenv("QUILLOP_DEB");
    if (given != nullptr && given[0] != '\0') {
      deb_ = given;
    } else {
      const ChildResult pack = runChild({QUILLOP_SOURCE_DIR "/scripts/package.sh", *temp_ / "out"},
                                        {.env = {{"DESTDIR", std::nullopt}}, .mergeErr = true});
      ASSERT_EQ(pack.status, 0) << pack.out;
      for (const auto& item : std::filesystem::directory_iterator(*temp_ / "out")) {
        if (item.path().filename().string().starts_with("movarix-share_")) deb_ = item.path();
      }
      ASSERT_FALSE(deb_.empty()) << pack.out;
    }
    root_ = *temp_ / "root";
    const ChildResult unpack = runChild({"dpkg-deb", "-x", deb_, root_}, {.mergeErr = true});
    ASSERT_EQ(unpack.status, 0) << unpack.out;
  }
  static void TearDownTestSuite() { delete temp_; }

  static std::string field(const std::string& name) {
    const ChildResult result = runChild({"dpkg-deb", "-f", deb_, name}, {.mergeErr = true});
    EXPECT_EQ(result.status, 0) << result.out;
    return result.out;
  }

  static inline TempDir* temp_ = nullptr;
  static inline std::string deb_;
  static inline std::string root_;
};

TEST_F(DebPackage, ControlNamesThePackageAndItsLibraries) {
  EXPECT_EQ(field("Package"), "movarix-share\n");
  const std::string depends = field("Depends");
  for (const char* library : {"libqt6core6", "libicu72", "libssl3", "libuuid1", "liburiparser1"}) {
    EXPECT_NE(depends.find(library), std::string::npos) << library << " missing in " << depends;
  }
  EXPECT_EQ(field("Recommends"), "qt6-wayland\n");  // the window on Wayland
}

TEST_F(DebPackage, LintianAndDesktopFileValidateFindNothing) {
  const std::string entries = root_ + "/usr/share/";
  const std::vector<std::string> checks[] = {
      {"lintian", "--fail-on", "error,warning", deb_},
      {"desktop-file-validate", entries + "applications/ex.quillop.mac.share.desktop",
       entries + "kio/servicemenus/ex.quillop.mac.share.desktop",
       entries + "Thunar/sendto/ex.quillop.mac.share.desktop"},
  };
  for (const std::vector<std::string>& check : checks) {
    const ChildResult result = runChild(check, {.mergeErr = true});
    EXPECT_EQ(result.status, 0) << result.out;
    // Anything either says is a fault (lintian's notice about running as root has no ": ").
    EXPECT_EQ(result.out.find(": "), std::string::npos) << result.out;
  }
}

TEST_F(DebPackage, HoldsTheBundleTreeAndTheActionsUnderUsr) {
  const ChildResult listing = runChild({"dpkg-deb", "-c", deb_}, {.mergeErr = true});
  ASSERT_EQ(listing.status, 0) << listing.out;
  std::istringstream lines(listing.out);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_NE(line.find(" root/root "), std::string::npos) << line;
    EXPECT_TRUE(line.find(" ./usr/") != std::string::npos || line.ends_with(" ./")) << line;
  }
  EXPECT_EQ(access((root_ + kExtension).c_str(), X_OK), 0);
  EXPECT_EQ(access((root_ + kHost).c_str(), X_OK), 0);
  // A relative link: it leads to the extension inside the unpacked root too.
  EXPECT_TRUE(std::filesystem::equivalent(root_ + "/usr/bin/quillop-share", root_ + kExtension));
  for (const std::string path : {"quillop-share/nautilus/Invia con Movarix",
                                 "nautilus-python/extensions/invia_con_movarix.py",
                                 "man/man1/quillop-share.1.gz", "man/man1/Movarix.1.gz"}) {
    EXPECT_TRUE(exists(root_ + "/usr/share/" + path)) << path;
  }
  EXPECT_FALSE(exists(root_ + "/usr/share/nautilus"));
  for (const std::string path : {"/usr/share/applications/ex.quillop.mac.share.desktop",
                                 "/usr/share/kio/servicemenus/ex.quillop.mac.share.desktop",
                                 "/usr/share/nemo/actions/ex.quillop.mac.share.nemo_action",
                                 "/usr/share/Thunar/sendto/ex.quillop.mac.share.desktop"}) {
    const std::string text = readFile(root_ + path);
    const std::string exec = text.substr(text.find("\nExec=") + 6);
    EXPECT_EQ(expandExec(exec.substr(0, exec.find('\n')), {"/x"})[0], "/usr/bin/quillop-share")
        << path;
  }
}

TEST_F(DebPackage, UnpackedShareExtensionPublishesAndStartsTheUnpackedHost) {
  const std::string dataHome = *temp_ / "data";
  const std::string parent = makeSample(temp_->path());
  std::vector<std::string> argv{root_ + "/usr/bin/quillop-share", "--terminal", "--"};
  for (const std::string& path : sampleItems(parent)) argv.push_back(path);
  const EnvChanges environment(
      {{"XDG_DATA_HOME", dataHome}, {"DISPLAY", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}});

  ExecutableWatch hostWatch(root_ + kHost);
  const ChildResult share = runChild(argv, {.env = environment, .mergeErr = true});
  ASSERT_EQ(share.status, 0) << share.out;
  int starts = 0;
  EXPECT_TRUE(hostWatch.waitUntilStartedAndEnded(20s, starts)) << "host starts: " << starts;
  EXPECT_EQ(starts, 1);

  const std::vector<CheckedBatch> batches = checkInbox(inboxIn(dataHome));
  ASSERT_EQ(batches.size(), 1u);
  EXPECT_TRUE(batches[0].verified()) << batches[0].problem.value_or("");
  EXPECT_EQ(contextSources(inboxIn(dataHome) + "/" + batches[0].id), sampleItems(parent));

  // The unpacked stand-in's own report on that inbox.
  const ChildResult report = runChild({root_ + kHost}, {.env = environment, .mergeErr = true});
  EXPECT_EQ(report.status, 0) << report.out;
  const size_t line = report.out.find("Lotto " + batches[0].id + ": ");
  ASSERT_NE(line, std::string::npos) << report.out;
  EXPECT_TRUE(
      report.out.substr(line, report.out.find('\n', line) - line).ends_with("verificato"))
      << report.out;
}

}  // namespace
}  // namespace quillop::testing
