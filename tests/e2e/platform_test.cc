// Opening the host application from its bundle: started, brought to the front when it runs
// already, or the reason why not. The completion comes on a thread of the workspace's own.
#include <gtest/gtest.h>
#include <signal.h>

#include <future>

#include "e2e_support.h"
#include "linux/process_workspace.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

std::optional<Error> open(ProcessWorkspace& workspace, const std::string& bundle) {
  std::promise<std::optional<Error>> answer;
  workspace.openApplication(bundle, {},
                            [&](std::optional<Error> error) { answer.set_value(error); });
  return answer.get_future().get();
}

TEST(ProcessWorkspaceTest, StartsTheHostOrBringsItToTheFrontOrReportsWhyNot) {
  TempDir dir;
  ProcessWorkspace workspace;
  makeFolder(dir / "Fermo.app/Contents/MacOS");
  writeFile(dir / "Fermo.app/Contents/MacOS/Fermo", "#!/bin/sh\n");  // not executable
  for (const auto& [bundle, err] : {std::pair{"Nessuno.app", ENOENT}, {"Fermo.app/", EACCES}}) {
    const std::optional<Error> error = open(workspace, dir / bundle);
    EXPECT_TRUE(error && error->isPosix(err)) << bundle;
  }

  const std::string executable = dir / "Host.app/Contents/MacOS/Host";
  installExecutable(QUILLOP_FAKE_HOST_EXE, executable);
  EXPECT_FALSE(open(workspace, dir / "Host.app"));
  EXPECT_EQ(hostLog(dir / "Host.app/Contents/MacOS", 1, 5).size(), 1u);
  // A running instance is sent SIGCONT, not started again.
  const std::string staying = dir / "Resta.app/Contents/MacOS/Resta";
  installExecutable(QUILLOP_FAKE_HOST_EXE, staying);
  const pid_t running = startChild({staying, "--stay"});
  ASSERT_EQ(hostLog(dir / "Resta.app/Contents/MacOS", 1, 5).size(), 1u);
  EXPECT_EQ(workspace.runningInstances(staying), std::vector<int>{running});
  EXPECT_FALSE(open(workspace, dir / "Resta.app"));
  const std::string pid = std::to_string(running);
  EXPECT_EQ(hostLog(dir / "Resta.app/Contents/MacOS", 2, 5),
            (std::vector<std::string>{"started " + pid, "activated " + pid}));
  kill(running, SIGTERM);
  EXPECT_EQ(waitChild(running), 0);
  EXPECT_TRUE(workspace.runningInstances(staying).empty());
}

}  // namespace
}  // namespace quillop::testing
