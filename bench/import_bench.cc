// Wall time and peak memory of importing one large regular file into a batch, against
// `cp` followed by `sync` of the copy (the same durability), side by side in one run.
//
// Usage: import_bench [SIZE_MB (default 2048)] [FOLDER (default: a temporary folder in $TMPDIR)]
// The source is written once, read once to warm the page cache, and each contestant runs in a
// child process so that its peak resident memory is its own.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "child_run.h"
#include "platform/file_system.h"
#include "platform/url.h"
#include "store/share_store.h"

namespace {

using bench::Run;
using bench::timeChild;

void writeSource(const std::string& path, long long megabytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char> block(1 << 20);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 2654435761u >> 13);
  for (long long i = 0; i < megabytes; ++i) {
    block[0] = static_cast<char>(i);
    if (write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
      std::perror("write");
      std::exit(1);
    }
  }
  close(fd);
}

void warm(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  std::vector<char> block(1 << 20);
  while (read(fd, block.data(), block.size()) > 0) {
  }
  close(fd);
}

// The child side: one import into a fresh batch, which is then published so it stays.
int importOnce(const std::string& source, const std::string& inbox) {
  quillop::ShareStore store(inbox);
  quillop::CopyProgress progress;  // counted, as the share imports files
  store.append(quillop::Url::fromPath(source), "source.bin", std::nullopt, {}, &progress);
  store.publish();
  return 0;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--import") == 0) return importOnce(argv[2], argv[3]);
  const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 2048;
  std::string folder;
  if (argc > 2) {
    folder = argv[2];
  } else {
    const char* tmp = std::getenv("TMPDIR");
    folder = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/import-bench-XXXXXX";
    if (!mkdtemp(folder.data())) return 1;
  }
  const std::string source = folder + "/source.bin";
  std::printf("Writing a %lld MB source in %s ...\n", megabytes, folder.c_str());
  writeSource(source, megabytes);
  warm(source);

  char selfPath[4096] = {};
  if (readlink("/proc/self/exe", selfPath, sizeof selfPath - 1) <= 0) return 1;
  const std::string self = selfPath;
  std::vector<double> cpTimes, importTimes;
  long cpPeak = 0, importPeak = 0;
  for (int round = 0; round < 3; ++round) {
    const std::string copy = folder + "/copy.bin";
    Run cp = timeChild({"sh", "-c", "cp -- \"$0\" \"$1\" && sync -- \"$1\"", source, copy});
    cpTimes.push_back(cp.seconds);
    cpPeak = std::max(cpPeak, cp.peakKiB);
    unlink(copy.c_str());
    const std::string inbox = folder + "/inbox" + std::to_string(round);
    Run import = timeChild({self, "--import", source, inbox});
    importTimes.push_back(import.seconds);
    importPeak = std::max(importPeak, import.peakKiB);
    quillop::removeTree(quillop::FileSystem::posix(), inbox);
  }
  std::printf("%-28s %12s %14s\n", "contestant (median of 3)", "wall s", "peak RSS KiB");
  std::printf("%-28s %12.3f %14ld\n", "cp + sync", median(cpTimes), cpPeak);
  std::printf("%-28s %12.3f %14ld\n", "ShareStore::append", median(importTimes), importPeak);
  if (argc <= 2) quillop::removeTree(quillop::FileSystem::posix(), folder);
  return 0;
}
