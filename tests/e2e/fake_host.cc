// A host application of the tests' own: installed as "<X>.app/Contents/MacOS/<X>", it appends
// "started <pid>" to "host.log" beside itself. With "--stay" it then waits: each SIGCONT (the
// request to come to the front) appends "activated <pid>", SIGTERM ends it.
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  const auto log = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "host.log";
  sigset_t waited;
  sigemptyset(&waited);
  sigaddset(&waited, SIGCONT);
  sigaddset(&waited, SIGTERM);
  sigprocmask(SIG_BLOCK, &waited, nullptr);
  for (std::string what = "started";; what = "activated") {
    std::ofstream(log, std::ios::app) << what << " " << getpid() << std::endl;
    int signal = 0;
    if (argc < 2 || std::string(argv[1]) != "--stay" || sigwait(&waited, &signal) != 0 ||
        signal == SIGTERM)
      return 0;
  }
}
