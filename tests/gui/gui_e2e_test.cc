// The real quillop-share picks its front end from the environment: a window on Qt's offscreen
// platform when no --terminal is given, the terminal when there is no display that opens.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>

#include "e2e_support.h"
#include "store/batch_check.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

const std::string kInitial = "Preparazione dei file per Movarix\u2026";

TEST(FrontEndChoiceTest, AWindowWhenADisplayOpensElseTheTerminal) {
  TempDir temp;
  const std::string extension = installBundle(temp.path());
  writeFile(temp / "nota.txt", "ciao");
  const struct {
    EnvChanges display;
    bool terminal;  // --terminal given
    bool window;
  } rows[] = {
      {{{"QT_QPA_PLATFORM", "offscreen"}}, false, true},
      {{}, false, false},
      {{{"DISPLAY", ":97"}}, true, false},   // never contacted
      {{{"DISPLAY", ":97"}}, false, false},  // no server there: no display at all
      {{{"QT_QPA_PLATFORM", "nessuna"}}, false, false},
  };
  int n = 0;
  for (const auto& [display, terminal, window] : rows) {
    SCOPED_TRACE(++n);
    EnvChanges env = shareEnvironment(temp / "data");
    for (const auto& [name, value] : display) env[name] = value;
    std::vector<std::string> argv{extension, temp / "nota.txt"};
    if (terminal) argv.insert(argv.begin() + 1, "--terminal");
    const ChildResult result = runChild(argv, {.env = env});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(std::count(result.errLines.begin(), result.errLines.end(), kInitial), !window);
    EXPECT_EQ(hostLog(temp / "Movarix.app/Contents/MacOS", n, 5).size(), size_t(n));
  }
  size_t verified = 0;
  for (const CheckedBatch& batch : checkInbox(inboxIn(temp / "data"))) verified += batch.verified();
  EXPECT_EQ(verified, std::size(rows));
}

// A kill while the window is up presses "Annulla", and so does the loss of the X display under
// the window (Xvfb ended): the half-made batch is removed.
TEST(FrontEndChoiceTest, SigtermOrALostDisplayDuringAWindowShareCancelsIt) {
  TempDir temp;
  std::vector<std::string> argv{installBundle(temp.path())};
  for (int i = 0; i < 100; ++i) {
    argv.push_back(temp / std::to_string(i));
    writeFile(argv.back(), std::string(1 << 16, 'f'));
  }
  const std::string display = ":" + std::to_string(90 + getpid() % 500);
  for (const bool lostDisplay : {false, true}) {
    SCOPED_TRACE(lostDisplay);
    EnvChanges env = shareEnvironment(temp / "data");
    env[lostDisplay ? "DISPLAY" : "QT_QPA_PLATFORM"] = lostDisplay ? display : "offscreen";
    const pid_t xvfb = lostDisplay ? startChild({"Xvfb", display, "-nolisten", "tcp"}) : -1;
    sockaddr_un server{AF_UNIX, {}};  // ready once its socket takes connections
    snprintf(server.sun_path, sizeof server.sun_path, "/tmp/.X11-unix/X%s", &display[1]);
    for (int i = 0, connected = -1; lostDisplay && i < 1000 && connected != 0; ++i) {
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      connected = connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server);
      close(fd);
      if (connected != 0) usleep(10000);
    }
    const pid_t pid = startChild(argv, env);
    for (int i = 0; i < 20000 && listFolder(inboxIn(temp / "data")).empty(); ++i) usleep(500);
    EXPECT_FALSE(listFolder(inboxIn(temp / "data")).empty()) << "the share never started";
    kill(lostDisplay ? xvfb : pid, SIGTERM);
    EXPECT_EQ(waitChild(pid), 130);
    if (lostDisplay) waitChild(xvfb);
    EXPECT_TRUE(listFolder(inboxIn(temp / "data")).empty());
    EXPECT_TRUE(hostLog(temp / "Movarix.app/Contents/MacOS").empty());
  }
}

}  // namespace
}  // namespace quillop::testing
