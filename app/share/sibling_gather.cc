#include "sibling_gather.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>

namespace quillop {
namespace {

// Each gap between two launches of one selection is a few milliseconds plus the start of a
// process; the pause leaves room for a loaded machine.
constexpr auto kPause = std::chrono::milliseconds(800);
constexpr auto kLongest = std::chrono::seconds(3);
constexpr timeval kIoTimeout{2, 0};

struct Socket {
  int fd;
  explicit Socket(int descriptor) : fd(descriptor) {}
  ~Socket() {
    if (fd >= 0) close(fd);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
};

// An abstract socket name (no file to leave behind), one for each user and key.
sockaddr_un addressFor(const std::string& key, socklen_t& length) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string name = "quillop-share/gather/" + std::to_string(getuid()) + "/" +
                           std::to_string(std::hash<std::string>{}(key));
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  return address;
}

// Any user may bind or connect to an abstract name: only our own user's processes count.
bool sameUser(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == getuid();
}

void setTimeouts(int fd) {
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &kIoTimeout, sizeof kIoTimeout);
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &kIoTimeout, sizeof kIoTimeout);
}

bool writeAll(int fd, const std::string& data) {
  for (size_t done = 0; done < data.size();) {
    const ssize_t written = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

// Hands `arguments` to the process holding the name; true once it has taken them.
bool handOver(const sockaddr_un& address, socklen_t length,
              const std::vector<std::string>& arguments) {
  Socket peer(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (peer.fd < 0) return false;
  setTimeouts(peer.fd);
  if (connect(peer.fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
      !sameUser(peer.fd))
    return false;
  std::string data;
  for (const std::string& argument : arguments) data += argument + '\0';
  char taken = 0;
  return writeAll(peer.fd, data) && shutdown(peer.fd, SHUT_WR) == 0 &&
         recv(peer.fd, &taken, 1, 0) == 1 && taken == '1';
}

// Reads one sibling's arguments (NUL-terminated, up to end of stream) and confirms them.
void takeFrom(int fd, std::vector<std::string>& arguments) {
  Socket peer(fd);
  setTimeouts(peer.fd);
  if (!sameUser(peer.fd)) return;
  std::string data;
  char buffer[65536];
  for (ssize_t got; (got = recv(peer.fd, buffer, sizeof buffer, 0)) != 0;) {
    if (got < 0 || data.size() > (64u << 20)) return;
    data.append(buffer, static_cast<size_t>(got));
  }
  if (!data.empty() && data.back() != '\0') return;
  if (!writeAll(peer.fd, "1")) return;
  for (size_t start = 0, end; (end = data.find('\0', start)) != std::string::npos; start = end + 1)
    arguments.push_back(data.substr(start, end - start));
}

}  // namespace

std::optional<std::vector<std::string>> gatherSiblingArguments(const std::string& key,
                                                               std::vector<std::string> arguments) {
  socklen_t length = 0;
  const sockaddr_un address = addressFor(key, length);
  Socket listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (listener.fd < 0) return arguments;
  if (bind(listener.fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
    if (errno == EADDRINUSE && handOver(address, length, arguments)) return std::nullopt;
    return arguments;
  }
  if (listen(listener.fd, 64) != 0) return arguments;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point last = Clock::now() + kLongest;
  for (Clock::time_point until = Clock::now() + kPause;;) {
    const Clock::time_point now = Clock::now();
    const auto wait =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::min(until, last) - now);
    pollfd ready{listener.fd, POLLIN, 0};
    if (wait.count() <= 0 || poll(&ready, 1, static_cast<int>(wait.count())) <= 0) break;
    const int peer = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer >= 0) takeFrom(peer, arguments);
    until = Clock::now() + kPause;
  }
  return arguments;
}

}  // namespace quillop
