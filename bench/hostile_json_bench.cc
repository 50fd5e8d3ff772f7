// How long the host side takes to answer a batch folder holding hostile JSON, and how long a real
// 26,000-member index takes to parse.
//
//   hostile_json_bench [LIMIT_SECONDS]     every shape, each in a child process of its own
//
// Each shape is written into a fresh batch folder (or a "ready.json") and read back the way the
// host and the extension read it: checkBatch for the batch files, readTicket for the ticket. A
// child reports its wall time and peak resident memory; one still busy after LIMIT_SECONDS
// (default 30) is stopped and reported as over the limit.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/archive_index.h"
#include "share/ticket.h"
#include "store/batch_check.h"

namespace {

namespace fs = std::filesystem;
using quillop::DirectoryWriter;

const std::string kBatchId = "0123456789abcdef0123456789abcdef";
const std::string kEntryId = "fedcba9876543210fedcba9876543210";

void writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string repeated(const std::string& unit, std::size_t count, const std::string& separator) {
  std::string text;
  text.reserve((unit.size() + separator.size()) * count);
  for (std::size_t i = 0; i < count; ++i) {
    if (i != 0) text += separator;
    text += unit;
  }
  return text;
}

std::string manyKeys(std::size_t count) {
  std::string text = "{";
  for (std::size_t i = 0; i < count; ++i) text += (i ? ",\"k" : "\"k") + std::to_string(i) + "\":0";
  return text + "}";
}

std::string nested(std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); }

std::string manifestText(const std::string& files) {
  return "{\"version\":1,\"id\":\"" + kBatchId + "\",\"files\":" + files + "}";
}

std::string oneFolderEntry(std::uint64_t size) {
  return "[{\"id\":\"" + kEntryId + "\",\"name\":\"d\",\"size\":" + std::to_string(size) +
         ",\"mime\":\"application\\/x-quillop-directory\"}]";
}

// A batch folder whose only entry is a folder archive holding `index` as its index.
void archiveBatch(const fs::path& folder, const std::string& index) {
  const std::string archive = quillop::header(static_cast<std::uint32_t>(index.size())) + index;
  writeFile(folder / (kEntryId + ".bin"), archive);
  writeFile(folder / "manifest.json", manifestText(oneFolderEntry(archive.size())));
  writeFile(folder / "context.json", "{\"ticket\":\"\",\"sources\":[\"\\/d\"]}");
}

// A batch folder with one file entry and the given manifest and context texts.
void fileBatch(const fs::path& folder, const std::string& manifest, const std::string& context) {
  writeFile(folder / (kEntryId + ".bin"), "x");
  writeFile(folder / "manifest.json", manifest);
  writeFile(folder / "context.json", context);
}

const std::string kOneFile = "[{\"id\":\"" + kEntryId + "\",\"name\":\"a\",\"size\":1}]";
const std::string kContext = "{\"ticket\":\"\",\"sources\":[\"\\/a\"]}";

struct Shape {
  const char* name;
  std::function<void(const fs::path&)> make;  // fills the folder
  bool ticket = false;                        // read as "ready.json" rather than as a batch
};

std::vector<Shape> shapes() {
  return {
      {"index: 200,000 empty objects",
       [](auto& d) {
         archiveBatch(d, "{\"version\":1,\"entries\":[" + repeated("{}", 200'000, ",") + "]}");
       }},
      {"index: 1,000,000 empty objects",
       [](auto& d) {
         archiveBatch(d, "{\"version\":1,\"entries\":[" + repeated("{}", 1'000'000, ",") + "]}");
       }},
      {"index: 2,000,000 numbers in one array",
       [](auto& d) {
         archiveBatch(d, "{\"version\":1,\"entries\":[" + repeated("0", 2'000'000, ",") + "]}");
       }},
      {"index: 300,000 keys in one member",
       [](auto& d) { archiveBatch(d, "{\"version\":1,\"entries\":[" + manyKeys(300'000) + "]}"); }},
      {"index: nested 2,000,000 deep", [](auto& d) { archiveBatch(d, nested(2'000'000)); }},
      {"manifest: 100,000 keys", [](auto& d) { fileBatch(d, manyKeys(100'000), kContext); }},
      {"manifest: 1,000,000 keys", [](auto& d) { fileBatch(d, manyKeys(1'000'000), kContext); }},
      {"manifest: nested 5,000,000 deep",
       [](auto& d) { fileBatch(d, nested(5'000'000), kContext); }},
      {"manifest: 1,000,000 files",
       [](auto& d) {
         fileBatch(d, manifestText("[" + repeated("{}", 1'000'000, ",") + "]"), kContext);
       }},
      {"context: 1,000,000 sources",
       [](auto& d) {
         fileBatch(d, manifestText(kOneFile),
                   "{\"ticket\":\"\",\"sources\":[" + repeated("\"a\"", 1'000'000, ",") + "]}");
       }},
      {"context: 500,000 keys",
       [](auto& d) { fileBatch(d, manifestText(kOneFile), manyKeys(500'000)); }},
      {"context: nested 5,000,000 deep",
       [](auto& d) { fileBatch(d, manifestText(kOneFile), nested(5'000'000)); }},
      {"ready.json: 80,000 keys", [](auto& d) { writeFile(d / "ready.json", manyKeys(80'000)); },
       true},
      {"ready.json: nested 500,000 deep",
       [](auto& d) { writeFile(d / "ready.json", nested(500'000)); }, true},
      {"ready.json: 500,000 numbers",
       [](auto& d) { writeFile(d / "ready.json", "[" + repeated("0", 500'000, ",") + "]"); }, true},
  };
}

// A realistic index: the first 26,000 entries under /usr (paths, kinds, sizes), with made-up
// digests, in member order.
std::string realIndex(std::size_t count) {
  DirectoryWriter::Manifest manifest;
  manifest.version = 1;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(
           "/usr/share", fs::directory_options::skip_permission_denied, error);
       it != fs::recursive_directory_iterator() && manifest.entries.size() < count;
       it.increment(error)) {
    const std::string path = it->path().lexically_relative("/usr/share").string();
    if (!quillop::isAcceptablePath(path) || it->is_symlink()) {
      if (it->is_directory() && !it->is_symlink()) it.disable_recursion_pending();
      continue;
    }
    const bool directory = it->is_directory();
    manifest.entries.push_back({path, directory, directory ? 0 : it->file_size(error),
                                directory ? "" : std::string(64, 'a')});
  }
  std::sort(manifest.entries.begin(), manifest.entries.end(),
            [](const auto& a, const auto& b) { return quillop::pathBefore(a.path, b.path); });
  return quillop::encodeIndex(manifest);
}

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// In the child: reads the folder as the host (or the extension, for a ticket) would.
int runOne(const Shape& shape, const fs::path& folder) {
  const auto start = std::chrono::steady_clock::now();
  std::string verdict;
  if (shape.ticket) {
    verdict = quillop::readTicket(quillop::FileSystem::posix(), folder / "ready.json", 0).empty()
                  ? "empty ticket"
                  : "TICKET TAKEN";
  } else {
    const quillop::CheckedBatch batch = quillop::checkBatch(folder);
    verdict = batch.verified() ? "VERIFIED" : batch.problem->substr(0, 60);
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("| %s | %.3f | %.0f | %s |\n", shape.name, seconds(start), usage.ru_maxrss / 1024.0,
              verdict.c_str());
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int limit = argc > 1 ? std::atoi(argv[1]) : 30;
  const fs::path root =
      fs::temp_directory_path() / ("hostile_json_bench." + std::to_string(getpid()));
  std::printf("| shape | s | peak MiB | answer |\n|---|---:|---:|---|\n");
  for (const Shape& shape : shapes()) {
    const fs::path folder = root / kBatchId;
    fs::remove_all(root);
    fs::create_directories(folder);
    shape.make(folder);
    std::fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
      alarm(static_cast<unsigned>(limit));
      signal(SIGALRM, [](int) { _exit(3); });
      _exit(runOne(shape, folder));
    }
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
      std::printf("| %s | over %d | | stopped |\n", shape.name, limit);
  }
  fs::remove_all(root);

  const std::string index = realIndex(26'000);
  std::vector<double> runs;
  std::size_t members = 0;
  for (int i = 0; i < 9; ++i) {
    const auto start = std::chrono::steady_clock::now();
    members = quillop::parseIndex(index).entries.size();
    runs.push_back(seconds(start));
  }
  std::sort(runs.begin(), runs.end());
  std::printf("\nparseIndex of a real index, %zu members, %zu bytes: median %.3f s of 9\n", members,
              index.size(), runs[4]);
}
