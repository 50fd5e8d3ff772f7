// A host application of the tests' own: installed as "<X>.app/Contents/MacOS/<X>", it appends
// "started <pid>" to "host.log" beside itself. With "--stay" it then waits: each SIGCONT (the
// request to come to the front) appends "activated <pid>", SIGTERM ends it.
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  char exe[PATH_MAX];
  if (realpath("/proc/self/exe", exe) == nullptr) return 1;
  const std::string log = std::string(exe).substr(0, std::string(exe).rfind('/')) + "/host.log";
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
