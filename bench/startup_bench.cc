// Start-up to the first window on screen, side by side: each contestant is started on a private
// Xvfb server (no window manager, so a top-level window is a child of the root) and timed from
// just before its exec to the MapNotify of its first window; then it gets SIGTERM. Contestants
// take turns; the table gives the median and the quartiles of the runs, in milliseconds.
//
// Usage: startup_bench RUNS NAME=COMMAND... (each COMMAND split at spaces)
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) {
    std::perror(args[0]);
    std::exit(1);
  }
  return pid;
}

// Milliseconds from the spawn to the first map of a top-level window; -1 after 10 s.
double timeToMap(xcb_connection_t* connection, const std::vector<std::string>& argv) {
  const auto start = Clock::now();
  const pid_t pid = spawn(argv);
  double ms = -1;
  pollfd fd{xcb_get_file_descriptor(connection), POLLIN, 0};
  while (ms < 0 && Clock::now() - start < std::chrono::seconds(10)) {
    xcb_generic_event_t* event = xcb_poll_for_event(connection);
    if (!event) {
      poll(&fd, 1, 100);
      continue;
    }
    if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY) {
      ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    }
    free(event);
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  // Drop what the contestant's exit sends (unmaps, destroys).
  usleep(50000);
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) free(event);
  return ms;
}

double quantile(std::vector<double> values, double q) {
  std::ranges::sort(values);
  return values[static_cast<size_t>(q * (values.size() - 1) + 0.5)];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: startup_bench RUNS NAME=COMMAND...\n");
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  std::vector<std::pair<std::string, std::vector<std::string>>> contestants;
  for (int i = 2; i < argc; ++i) {
    const std::string contestant = argv[i];  // NAME=COMMAND
    const size_t equals = contestant.find('=');
    std::istringstream words(contestant.substr(equals + 1));
    std::vector<std::string> command;
    for (std::string word; words >> word;) command.push_back(word);
    contestants.push_back({contestant.substr(0, equals), command});
  }

  const std::string display = ":" + std::to_string(200 + getpid() % 300);
  const pid_t server =
      spawn({"Xvfb", display, "-nolisten", "tcp", "-noreset", "-screen", "0", "1280x800x24"});
  const std::string socket = "/tmp/.X11-unix/X" + display.substr(1);
  struct stat st {};
  for (int i = 0; i < 500 && stat(socket.c_str(), &st) != 0; ++i) usleep(10000);
  usleep(100000);
  setenv("DISPLAY", display.c_str(), 1);
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  if (xcb_connection_has_error(connection)) {
    std::fprintf(stderr, "no X server on %s\n", display.c_str());
    return 1;
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
  xcb_flush(connection);

  std::vector<std::vector<double>> times(contestants.size());
  for (int run = -1; run < runs; ++run) {  // run -1 warms the caches and is not counted
    for (size_t c = 0; c < contestants.size(); ++c) {
      const double ms = timeToMap(connection, contestants[c].second);
      if (ms < 0) {
        std::fprintf(stderr, "%s: no window within 10 s\n", contestants[c].first.c_str());
        return 1;
      }
      if (run >= 0) times[c].push_back(ms);
    }
  }
  xcb_disconnect(connection);
  kill(server, SIGTERM);
  waitpid(server, nullptr, 0);

  std::printf("| | median ms | quartiles ms | vs %s |\n|---|---:|---:|---:|\n",
              contestants[0].first.c_str());
  const double floor = quantile(times[0], 0.5);
  for (size_t c = 0; c < contestants.size(); ++c) {
    const double median = quantile(times[c], 0.5);
    std::printf("| %s | %.1f | %.1f to %.1f | %.2f |\n", contestants[c].first.c_str(), median,
                quantile(times[c], 0.25), quantile(times[c], 0.75), median / floor);
  }
  return 0;
}
