// Installs into a temporary prefix (with a space and an accent, as a home folder may have) and
// starts quillop-share through every installed file-manager action the way its launcher does,
// on a selection whose paths hold spaces, accents, URI-reserved marks and a line break.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/child_process.h"
#include "desktop_entry.h"
#include "executable_watch.h"
#include "share_sample.h"
#include "store/batch_check.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

using namespace std::chrono_literals;

class Launchers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    temp_ = new TempDir;
    // Characters that Exec lines and shell words must quote or escape. Not "\\", under which
    // CMake cannot install, nor "%", with which GLib finds no program.
    home_ = *temp_ / "casa \"di\" prova è, $HOME `x` l'altra";
    makeFolder(home_ + "/.local");
    const ChildResult install = runChild(
        {QUILLOP_CMAKE, "--install", QUILLOP_BUILD_DIR, "--component", "movarix", "--prefix",
         home_ + "/.local"},
        {.env = {{"HOME", home_}, {"XDG_DATA_HOME", std::nullopt}, {"DESTDIR", std::nullopt}},
         .mergeErr = true});
    ASSERT_EQ(install.status, 0) << install.out;
    parent_ = makeSample(temp_->path());
  }
  static void TearDownTestSuite() { delete temp_; }

  static std::string prefix() { return home_ + "/.local"; }
  static std::string host() { return prefix() + "/lib/movarix/Movarix.app/Contents/MacOS/Movarix"; }
  static KeyFile entry(const std::string& path) {
    return KeyFile::parse(readFile(prefix() + path));
  }

  // Environment of a share: a fresh data folder and no display, so the terminal front end runs.
  EnvChanges shareEnvironment(
      const std::string& dataHome, std::map<std::string, std::optional<std::string>> more = {}) {
    more.insert({{"HOME", home_},
                 {"XDG_DATA_HOME", dataHome},
                 {"DISPLAY", std::nullopt},
                 {"WAYLAND_DISPLAY", std::nullopt}});
    return more;
  }

  // One published, verifying batch in `dataHome` whose context lists the sample's paths, and a
  // host stand-in that was started from the prefix and has finished.
  void expectShared(const std::string& dataHome, ExecutableWatch& hostWatch) {
    int starts = 0;
    EXPECT_TRUE(hostWatch.waitUntilStartedAndEnded(20s, starts)) << "host starts: " << starts;
    const std::vector<CheckedBatch> batches = checkInbox(inboxIn(dataHome));
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_TRUE(batches[0].verified()) << batches[0].problem.value_or("");
    EXPECT_EQ(batches[0].files.size(), sampleNames().size());
    EXPECT_EQ(contextSources(inboxIn(dataHome) + "/" + batches[0].id), sampleItems(parent_));
  }

  void runExec(const std::string& what, const std::string& exec, UriStyle style) {
    SCOPED_TRACE(what);
    const std::string dataHome = *temp_ / ("data " + std::to_string(++runs_));
    ExecutableWatch hostWatch(host());
    const ChildResult share =
        runChild(expandExec(exec, sampleItems(parent_), style),
                 {.env = shareEnvironment(dataHome), .mergeErr = true});
    ASSERT_EQ(share.status, 0) << share.out;
    expectShared(dataHome, hostWatch);
  }

  static inline TempDir* temp_ = nullptr;
  static inline std::string home_;
  static inline std::string parent_;
  static inline int runs_ = 0;
};

TEST_F(Launchers, InstallLaysOutTheBundleTheLinkAndTheActions) {
  const std::string extension =
      prefix() +
      "/lib/movarix/Movarix.app/Contents/PlugIns/QuillopShare.appex/Contents/MacOS/quillop-share";
  EXPECT_EQ(access(extension.c_str(), X_OK), 0);
  EXPECT_EQ(access(host().c_str(), X_OK), 0);
  EXPECT_EQ(std::filesystem::read_symlink(prefix() + "/bin/quillop-share").string()[0], '.');
  EXPECT_TRUE(std::filesystem::equivalent(prefix() + "/bin/quillop-share", extension));
  // KIO reads service menus in a home folder only when they are executable.
  EXPECT_EQ(permissions(prefix() + "/share/kio/servicemenus/ex.quillop.mac.share.desktop"), 0755u);
  // The prefix is the user's own: the Nautilus script is linked where Nautilus looks.
  EXPECT_TRUE(
      std::filesystem::equivalent(prefix() + "/share/nautilus/scripts/Invia con Movarix",
                                  prefix() + "/share/quillop-share/nautilus/Invia con Movarix"));

  const KeyFile app = entry("/share/applications/ex.quillop.mac.share.desktop");
  EXPECT_EQ(app.value("Desktop Entry", "Name"), "Invia con Movarix");
  EXPECT_EQ(app.value("Desktop Entry", "NoDisplay"), "true");
  EXPECT_FALSE(app.has("Desktop Entry", "MimeType"));
  const KeyFile kio = entry("/share/kio/servicemenus/ex.quillop.mac.share.desktop");
  EXPECT_EQ(kio.value("Desktop Entry", "MimeType"), "application/octet-stream;inode/directory;");
  EXPECT_EQ(kio.value("Desktop Action inviaConMovarix", "Name"), "Invia con Movarix");
  const KeyFile nemo = entry("/share/nemo/actions/ex.quillop.mac.share.nemo_action");
  EXPECT_EQ(nemo.value("Nemo Action", "Selection"), "notnone");
  EXPECT_EQ(nemo.value("Nemo Action", "Extensions"), "any;");
  EXPECT_EQ(nemo.value("Nemo Action", "Name"), "Invia con Movarix");
  const KeyFile thunar = entry("/share/Thunar/sendto/ex.quillop.mac.share.desktop");
  EXPECT_EQ(thunar.value("Desktop Entry", "Name"), "Invia con Movarix");
}

TEST_F(Launchers, EveryExecLineSharesTheSelection) {
  const struct {
    const char* file;
    const char* group;
  } entries[] = {
      {"/share/applications/ex.quillop.mac.share.desktop", "Desktop Entry"},
      {"/share/kio/servicemenus/ex.quillop.mac.share.desktop", "Desktop Action inviaConMovarix"},
      {"/share/nemo/actions/ex.quillop.mac.share.nemo_action", "Nemo Action"},
      {"/share/Thunar/sendto/ex.quillop.mac.share.desktop", "Desktop Entry"},
  };
  for (const auto& [file, group] : entries) {
    const std::string exec = entry(file).value(group, "Exec");
    runExec(file, exec, UriStyle::kStrict);
    if (exec.ends_with("%U"))
      runExec(std::string(file) + " (GLib/KDE URIs)", exec, UriStyle::kKeepMarks);
  }
}

TEST_F(Launchers, NautilusScriptTakesTheSelectedUrisElseItsArguments) {
  // Nautilus 43 expands "%" in the names it passes as arguments: "a%20b.txt" arrives as
  // "a0b.txt", which exists beside it. Its newline-separated list of paths breaks on the line
  // break in every path. Only the URIs, when set, are faithful.
  std::string paths, uris;
  std::vector<std::string> relative, absolute;
  for (const std::string& name : sampleNames()) {
    paths += parent_ + "/" + name + "\n";
    uris += fileUri(parent_ + "/" + name, UriStyle::kKeepMarks) + "\n";
    relative.push_back(name);
    absolute.push_back(parent_ + "/" + name);
  }
  const std::string script = prefix() + "/share/nautilus/scripts/Invia con Movarix";
  const struct {
    std::optional<std::string> uris;
    std::vector<std::string> arguments;
  } rows[] = {{uris, {"a0b.txt"}}, {std::nullopt, relative}, {std::nullopt, absolute}};
  for (const auto& [uris, arguments] : rows) {
    SCOPED_TRACE(arguments[0]);
    std::vector<std::string> argv{script};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const std::string dataHome = *temp_ / ("data " + std::to_string(++runs_));
    ExecutableWatch hostWatch(host());
    const ChildResult share =
        runChild(argv,
                 {.env = shareEnvironment(dataHome, {{"NAUTILUS_SCRIPT_SELECTED_FILE_PATHS", paths},
                                                     {"NAUTILUS_SCRIPT_SELECTED_URIS", uris}}),
                  .directory = parent_,
                  .mergeErr = true});
    ASSERT_EQ(share.status, 0) << share.out;
    expectShared(dataHome, hostWatch);
  }
}

// A double click, xdg-open or `gio open` starts the default application of the type, which GLib
// picks among those that update-desktop-database (run by the package's trigger) lists for it:
// none of ours may be listed for any type. A stray entry shows that GLib reads this environment.
TEST_F(Launchers, NoEntryBecomesTheApplicationOfAType) {
  const std::string dirs = *temp_ / "sistema";
  const std::string ours = prefix() + "/share/applications";
  makeFolder(dirs + "/applications");
  writeFile(dirs + "/applications/estraneo.desktop",
            "[Desktop Entry]\nType=Application\nName=X\nExec=true %F\n"
            "MimeType=application/octet-stream;inode/directory;\n");
  for (const std::string& folder : {dirs + "/applications", ours}) {
    const ChildResult index = runChild({"update-desktop-database", folder}, {.mergeErr = true});
    ASSERT_EQ(index.status, 0) << index.out;
  }
  EXPECT_EQ(readFile(ours + "/mimeinfo.cache").find("ex.quillop.mac.share"), std::string::npos);
  const EnvChanges environment({{"HOME", home_},
                                                                {"XDG_DATA_HOME", std::nullopt},
                                                                {"XDG_DATA_DIRS", dirs},
                                                                {"XDG_CONFIG_HOME", dirs},
                                                                {"XDG_CONFIG_DIRS", dirs}});
  for (const char* type : {"application/octet-stream", "inode/directory"}) {
    const ChildResult mime = runChild({"gio", "mime", type}, {.env = environment, .mergeErr = true});
    EXPECT_EQ(mime.status, 0) << mime.out;
    EXPECT_NE(mime.out.find("estraneo.desktop"), std::string::npos) << mime.out;
    EXPECT_EQ(mime.out.find("ex.quillop.mac.share"), std::string::npos) << mime.out;
  }
}

// GLib's own launcher (what GNOME, Thunar's "Send To" and most GTK file managers use), when
// the `gio` tool is installed. It returns once quillop-share is started, so the test waits
// for the host stand-in to have run.
TEST_F(Launchers, GioLaunchesTheDesktopEntries) {
  if (system("command -v gio >/dev/null 2>&1") != 0) GTEST_SKIP() << "gio is not installed";
  for (const char* file : {"/share/applications/ex.quillop.mac.share.desktop",
                           "/share/Thunar/sendto/ex.quillop.mac.share.desktop"}) {
    SCOPED_TRACE(file);
    const std::string dataHome = *temp_ / ("data " + std::to_string(++runs_));
    ExecutableWatch hostWatch(host());
    std::vector<std::string> argv{"gio", "launch", prefix() + file};
    for (const std::string& path : sampleItems(parent_)) argv.push_back(path);
    const ChildResult launch = runChild(argv, {.env = shareEnvironment(dataHome), .mergeErr = true});
    ASSERT_EQ(launch.status, 0) << launch.out;
    expectShared(dataHome, hostWatch);
  }
}

}  // namespace
}  // namespace quillop::testing
