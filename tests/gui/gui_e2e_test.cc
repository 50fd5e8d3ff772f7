// The real quillop-share picks its front end from the environment: a window on Qt's offscreen
// platform when no --terminal is given, the terminal when there is no display at all.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
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
  // A display that cannot be opened is no display at all.
  for (const auto& [name, value] : {std::pair{"DISPLAY", ":97"}, {"QT_QPA_PLATFORM", "nessuna"}}) {
    const Finished fallback = share({{name, value}});
    EXPECT_EQ(fallback.status, 0) << name;
    EXPECT_TRUE(printedStatus(fallback)) << name;
  }
  EXPECT_EQ(publishedBatches(), 4u);
}

// A kill while the window is up presses "Annulla", and so does the loss of the X display under
// the window (Xvfb ended): the half-made batch is removed.
TEST_F(FrontEndChoiceTest, SigtermOrALostDisplayDuringAWindowShareCancelsIt) {
  std::vector<std::string> argv{extension};
  for (int i = 0; i < 100; ++i) {
    std::string path = temp / "sources/f";  // appended: GCC 12 -Wrestrict false positive
    path += std::to_string(i) + ".bin";
    writeFile(path, std::string(1 << 20, 'f'));
    argv.push_back(path);
  }
  // startProcess passes this process's own environment.
  setenv("XDG_DATA_HOME", (temp / "data").c_str(), 1);
  unsetenv("WAYLAND_DISPLAY");
  const std::string display = ":" + std::to_string(90 + getpid() % 500);
  for (const bool lostDisplay : {false, true}) {
    SCOPED_TRACE(lostDisplay);
    pid_t xvfb = -1;
    if (lostDisplay) {
      xvfb = startProcess({"/usr/bin/Xvfb", display, "-nolisten", "tcp"});
      setenv("DISPLAY", display.c_str(), 1);
      unsetenv("QT_QPA_PLATFORM");
      sockaddr_un server{AF_UNIX, {}};  // ready once its socket takes connections
      snprintf(server.sun_path, sizeof server.sun_path, "/tmp/.X11-unix/X%s", &display[1]);
      for (int i = 0, connected = -1; i < 1000 && connected != 0; ++i) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        connected = connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server);
        close(fd);
        if (connected != 0) usleep(10000);
      }
    } else {
      setenv("QT_QPA_PLATFORM", "offscreen", 1);
      unsetenv("DISPLAY");
    }
    const pid_t pid = startProcess(argv);
    bool started = false;
    for (int i = 0; i < 20000 && !started; ++i) {
      started = !listFolder(inbox()).empty();
      if (!started) usleep(500);
    }
    kill(lostDisplay ? xvfb : pid, SIGTERM);
    EXPECT_TRUE(started);
    EXPECT_EQ(waitProcess(pid), 130);
    if (lostDisplay) waitProcess(xvfb);
    EXPECT_TRUE(listFolder(inbox()).empty());
    EXPECT_TRUE(hostLog(temp / "Movarix.app/Contents/MacOS").empty());
  }
  unsetenv("DISPLAY");
  unsetenv("QT_QPA_PLATFORM");
  unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace quillop::testing
