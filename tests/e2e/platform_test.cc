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

TEST(ProcessWorkspaceTest, StartsTheHostOrBringsItToTheFrontOrReportsWhyNot) {
  TempDir dir;
  ProcessWorkspace workspace;
  const auto open = [&](const std::string& bundle) {
    std::promise<std::optional<Error>> answer;
    workspace.openApplication(bundle, {}, [&](std::optional<Error> e) { answer.set_value(e); });
    return answer.get_future().get();
  };
  makeFolder(dir / "Fermo.app/Contents/MacOS");
  writeFile(dir / "Fermo.app/Contents/MacOS/Fermo", "#!/bin/sh\n");  // not executable
  const std::optional<Error> error = open(dir / "Fermo.app/");       // a missing one: end to end
  EXPECT_TRUE(error && error->isPosix(EACCES));
  // Starting one is seen end to end; a running instance is sent SIGCONT, not started again.
  const std::string staying = dir / "Resta.app/Contents/MacOS/Resta";
  installExecutable(QUILLOP_FAKE_HOST_EXE, staying);
  const pid_t running = startChild({staying, "--stay"});
  ASSERT_EQ(hostLog(dir / "Resta.app/Contents/MacOS", 1, 5).size(), 1u);
  EXPECT_EQ(workspace.runningInstances(staying), std::vector<int>{running});
  EXPECT_FALSE(open(dir / "Resta.app"));
  const std::string pid = std::to_string(running);
  EXPECT_EQ(hostLog(dir / "Resta.app/Contents/MacOS", 2, 5),
            (std::vector<std::string>{"started " + pid, "activated " + pid}));
  kill(running, SIGTERM);
  EXPECT_EQ(waitChild(running), 0);
  EXPECT_TRUE(workspace.runningInstances(staying).empty());
}

}  // namespace
}  // namespace quillop::testing
