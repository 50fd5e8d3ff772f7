// Wall time and peak memory of packing one folder with DirectoryWriter::write, against
// `tar cf` of the same folder followed by `sync` of the tar file (the same durability), and
// against `sha256sum` of every file, side by side in one run. The walk alone (the first pass,
// which writes nothing) is timed too, to show where the time of `write` goes.
//
// Usage: archive_write_bench FOLDER [RUNS (default 3)] [WORKDIR (default $TMPDIR or /tmp)]
// FOLDER is typically made by bench/make_tree.sh. The page cache is warmed first; each
// contestant runs in a child process so that its peak resident memory is its own; the table
// shows the median time and the largest peak over the runs.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/directory_writer.h"
#include "archive/folder_walk.h"
#include "child_run.h"
#include "platform/error.h"

namespace {

using bench::Run;
using bench::timeChild;

std::string quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

Run shell(const std::string& command) { return timeChild({"sh", "-c", command}); }

// The measured side of `write`, run in a child: pack `source` into `target` and exit.
int packInChild(const std::string& source, const std::string& target) {
  try {
    // With a progress counter, as the share packs folders.
    quillop::CopyProgress progress;
    const std::uint64_t length = quillop::DirectoryWriter::write(
        source, target, [] { return false; }, quillop::FileSystem::posix(), &progress);
    std::fprintf(stderr, "archive: %llu bytes\n", static_cast<unsigned long long>(length));
    return 0;
  } catch (const quillop::Error& error) {
    std::fprintf(stderr, "write failed: %s\n", error.message().c_str());
    return 1;
  }
}

// The first pass alone, run in a child: walk and hash `source`, write nothing.
int walkInChild(const std::string& source) {
  try {
    quillop::walkFolder(
        source, [] { return false; }, quillop::FileSystem::posix());
    return 0;
  } catch (const quillop::Error& error) {
    std::fprintf(stderr, "walk failed: %s\n", error.message().c_str());
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--pack") return packInChild(argv[2], argv[3]);
  if (argc == 3 && std::string(argv[1]) == "--walk") return walkInChild(argv[2]);
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FOLDER [RUNS] [WORKDIR]\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const char* tmp = std::getenv("TMPDIR");
  const std::string work = argc > 3 ? argv[3] : (tmp != nullptr && *tmp == '/' ? tmp : "/tmp");
  const std::string archive = work + "/archive-bench.bin", tar = work + "/archive-bench.tar";
  const std::string self = argv[0];

  std::printf("folder: %s\n", folder.c_str());
  shell("find " + quoted(folder) + " -type f -print0 | xargs -0 cat > /dev/null");  // warm cache

  struct Contestant {
    const char* name;
    std::vector<Run> runs;
  };
  std::vector<Contestant> table = {{"DirectoryWriter::write", {}},
                                   {"tar cf + sync", {}},
                                   {"the walk alone", {}},
                                   {"sha256sum of every file", {}}};
  for (int i = 0; i < runs; ++i) {
    std::remove(archive.c_str());
    std::remove(tar.c_str());
    shell("sync");  // start every run with nothing left to write back
    table[0].runs.push_back(timeChild({self, "--pack", folder, archive}));
    shell("sync");
    // tar cf and sync of the tar file, in one shell so the time covers both.
    table[1].runs.push_back(
        shell("tar cf " + quoted(tar) + " -C " + quoted(folder) + " . && sync " + quoted(tar)));
    table[2].runs.push_back(timeChild({self, "--walk", folder}));
    table[3].runs.push_back(shell("cd " + quoted(folder) +
                                  " && find . -type f -print0 | xargs -0 sha256sum > /dev/null"));
  }
  std::remove(archive.c_str());
  std::remove(tar.c_str());

  std::printf("%-26s %12s %12s   (median of %d runs, largest peak)\n", "", "wall s", "peak MiB",
              runs);
  double medians[2] = {};
  for (Contestant& contestant : table) {
    std::sort(contestant.runs.begin(), contestant.runs.end(),
              [](const Run& a, const Run& b) { return a.seconds < b.seconds; });
    long peak = 0;
    for (const Run& run : contestant.runs) peak = std::max(peak, run.peakKiB);
    const double median = contestant.runs[contestant.runs.size() / 2].seconds;
    if (&contestant - table.data() < 2) medians[&contestant - table.data()] = median;
    std::printf("%-26s %12.3f %12.1f\n", contestant.name, median, peak / 1024.0);
  }
  std::printf("write / (tar cf + sync): %.3f\n", medians[0] / medians[1]);
  return 0;
}
