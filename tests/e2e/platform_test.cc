// The Linux implementations behind the share: media types by name, and opening or reusing the
// host application.
#include <gtest/gtest.h>
#include <signal.h>

#include <future>

#include "e2e_support.h"
#include "linux/process_workspace.h"
#include "linux/qt_media_types.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

TEST(QtMediaTypesTest, ByExtensionOnly) {
  QtMediaTypes types;
  EXPECT_EQ(types.preferredMediaType("txt"), "text/plain");
  EXPECT_EQ(types.preferredMediaType("JPG"), "image/jpeg");
  EXPECT_EQ(types.preferredMediaType("pdf"), "application/pdf");
  EXPECT_EQ(types.preferredMediaType(""), std::nullopt);
  EXPECT_EQ(types.preferredMediaType("estensione-sconosciuta"), std::nullopt);
}

std::optional<Error> open(ProcessWorkspace& workspace, const std::string& bundle,
                          OpenConfiguration config = {}) {
  std::promise<std::optional<Error>> answer;
  workspace.openApplication(bundle, config, [&](std::optional<Error> error) {
    answer.set_value(std::move(error));
  });
  return answer.get_future().get();
}

TEST(ProcessWorkspaceTest, StartsTheBundleExecutableOrReportsWhyNot) {
  TempDir dir;
  ProcessWorkspace workspace;
  EXPECT_EQ(ProcessWorkspace::executableOf("/a/Movarix.app/"), "/a/Movarix.app/Contents/MacOS/Movarix");

  const std::optional<Error> missing = open(workspace, dir / "Nessuno.app");
  ASSERT_TRUE(missing);
  EXPECT_TRUE(missing->isPosix(ENOENT));
  EXPECT_NE(missing->message().find("Nessuno.app/Contents/MacOS/Nessuno"), std::string::npos);

  makeFolder(dir / "Fermo.app/Contents/MacOS");
  writeFile(dir / "Fermo.app/Contents/MacOS/Fermo", "#!/bin/sh\n");  // not executable
  const std::optional<Error> denied = open(workspace, dir / "Fermo.app");
  ASSERT_TRUE(denied);
  EXPECT_TRUE(denied->isPosix(EACCES));

  installExecutable(QUILLOP_FAKE_HOST_EXE, dir / "Host.app/Contents/MacOS/Host");
  EXPECT_FALSE(open(workspace, dir / "Host.app"));
  EXPECT_EQ(hostLog(dir / "Host.app/Contents/MacOS", 1, 5).size(), 1u);
}

TEST(ProcessWorkspaceTest, ARunningInstanceIsBroughtToTheFrontNotStartedAgain) {
  TempDir dir;
  ProcessWorkspace workspace;
  const std::string executable = dir / "Host.app/Contents/MacOS/Host";
  installExecutable(QUILLOP_FAKE_HOST_EXE, executable);
  const pid_t running = startProcess({executable, "--stay"});
  ASSERT_EQ(hostLog(dir / "Host.app/Contents/MacOS", 1, 5).size(), 1u);
  EXPECT_EQ(workspace.runningInstances(executable), std::vector<int>{running});

  EXPECT_FALSE(open(workspace, dir / "Host.app"));
  const std::vector<std::string> log = hostLog(dir / "Host.app/Contents/MacOS", 2, 5);
  const std::string pid = std::to_string(running);
  EXPECT_EQ(log, (std::vector<std::string>{"started " + pid, "activated " + pid}));
  kill(running, SIGTERM);
  EXPECT_EQ(waitProcess(running), 0);
  EXPECT_TRUE(workspace.runningInstances(executable).empty());
}

}  // namespace
}  // namespace quillop::testing
