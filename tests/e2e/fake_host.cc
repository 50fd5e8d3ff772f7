// A host application of the tests' own: installed as "<X>.app/Contents/MacOS/<X>", it appends
// "started <pid>" to "host.log" beside itself. With "--stay" it then waits: each SIGCONT (the
// request to come to the front) appends "activated <pid>", SIGTERM ends it.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace {

void record(const std::string& log, const std::string& what) {
  const std::string line = what + " " + std::to_string(getpid()) + "\n";
  const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  [[maybe_unused]] ssize_t written = write(fd, line.data(), line.size());
  close(fd);
}

}  // namespace

int main(int argc, char** argv) {
  char exe[PATH_MAX];
  if (realpath("/proc/self/exe", exe) == nullptr) return 1;
  std::string log = exe;
  log = log.substr(0, log.find_last_of('/')) + "/host.log";

  sigset_t waited;
  sigemptyset(&waited);
  sigaddset(&waited, SIGCONT);
  sigaddset(&waited, SIGTERM);
  sigprocmask(SIG_BLOCK, &waited, nullptr);
  record(log, "started");
  if (argc < 2 || std::string(argv[1]) != "--stay") return 0;
  for (;;) {
    int signal = 0;
    if (sigwait(&waited, &signal) != 0) return 1;
    if (signal == SIGTERM) return 0;
    record(log, "activated");
  }
}
