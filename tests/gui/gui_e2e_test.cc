// The real quillop-share picks its front end from the environment: a window on Qt's offscreen
// platform when no --terminal is given, the terminal when there is no display at all.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "e2e_support.h"
#include "store/batch_check.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

const std::string kInitial = "Preparazione dei file per Movarix\u2026";

class FrontEndChoiceTest : public ::testing::Test {
 protected:
  FrontEndChoiceTest() : extension(installBundle(temp.path())) {
    makeFolder(temp / "sources");
    writeFile(temp / "sources/nota.txt", "ciao");
  }
  // Every display variable cleared; `display` adds the ones the case needs.
  Finished share(std::map<std::string, std::string> display,
                 std::vector<std::string> options = {}) {
    std::map<std::string, std::string> env{{"XDG_DATA_HOME", temp / "data"},
                                           {"LC_ALL", "C.UTF-8"},
                                           {"DISPLAY", ""},
                                           {"WAYLAND_DISPLAY", ""},
                                           {"QT_QPA_PLATFORM", ""}};
    for (const auto& [name, value] : display) env[name] = value;
    std::vector<std::string> argv{extension};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("nota.txt");
    return runProcess(argv, env, temp / "sources");
  }
  bool printedStatus(const Finished& run) const {
    return std::find(run.errLines.begin(), run.errLines.end(), kInitial) != run.errLines.end();
  }
  std::string inbox() const {
    return temp / "data/group-containers/K7QZ4MRX2P.ex.quillop.mac/quillop-share-inbox";
  }
  size_t publishedBatches() const {
    size_t verified = 0;
    for (const std::string& name : listFolder(inbox())) {
      if (checkBatch(inbox() + "/" + name).verified()) ++verified;
    }
    return verified;
  }

  TempDir temp;
  std::string extension;
};

TEST_F(FrontEndChoiceTest, OffscreenRunsTheWindowToCompletion) {
  const Finished run = share({{"QT_QPA_PLATFORM", "offscreen"}});
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(printedStatus(run)) << "the terminal front end ran";
  EXPECT_EQ(publishedBatches(), 1u);
  EXPECT_EQ(hostLog(temp / "Movarix.app/Contents/MacOS", 1, 5).size(), 1u);
}

TEST_F(FrontEndChoiceTest, WithoutADisplayOrWithTerminalTheTerminalRuns) {
  const Finished bare = share({});
  EXPECT_EQ(bare.status, 0);
  EXPECT_TRUE(printedStatus(bare));
  // --terminal wins over a display; an X display that does not exist is never contacted.
  const Finished forced = share({{"DISPLAY", ":97"}}, {"--terminal"});
  EXPECT_EQ(forced.status, 0);
  EXPECT_TRUE(printedStatus(forced));
  EXPECT_EQ(publishedBatches(), 2u);
}

// A kill while the window is up presses "Annulla": the half-made batch is removed.
TEST_F(FrontEndChoiceTest, SigtermDuringAWindowShareCancelsIt) {
  std::vector<std::string> argv{extension};
  for (int i = 0; i < 100; ++i) {
    std::string path = temp / "sources/f";  // appended: GCC 12 -Wrestrict false positive
    path += std::to_string(i) + ".bin";
    writeFile(path, std::string(1 << 20, 'f'));
    argv.push_back(path);
  }
  // startProcess passes this process's own environment.
  setenv("XDG_DATA_HOME", (temp / "data").c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  const pid_t pid = startProcess(argv);
  bool started = false;
  for (int i = 0; i < 20000 && !started; ++i) {
    started = !listFolder(inbox()).empty();
    if (!started) usleep(500);
  }
  kill(pid, SIGTERM);
  EXPECT_TRUE(started);
  EXPECT_EQ(waitProcess(pid), 130);
  EXPECT_TRUE(listFolder(inbox()).empty());
  EXPECT_TRUE(hostLog(temp / "Movarix.app/Contents/MacOS").empty());
  unsetenv("QT_QPA_PLATFORM");
  unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace quillop::testing
