// SHA-256 throughput of DirectoryWriter::stream on one large file (page cache warm), against
// `openssl speed -evp sha256` on 256 KiB blocks and against hashing the same chunk buffer in
// memory, side by side in one run; then the process's peak memory, which stays near one chunk
// above the program's own baseline however large the file.
//
// Usage: stream_bench [SIZE_MB (default 2048)] [RUNS (default 3)] [WORKDIR]
// WORKDIR defaults to $TMPDIR, else /tmp.
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/directory_writer.h"

namespace {

double since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Bytes per second that `openssl speed` reports for SHA-256 on 262,144-byte blocks.
double opensslSpeed() {
  FILE* pipe = ::popen("openssl speed -seconds 3 -bytes 262144 -evp sha256 2>/dev/null", "r");
  if (pipe == nullptr) return 0;
  char line[512];
  double kilobytes = 0;
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    if (std::sscanf(line, "sha256 %lfk", &kilobytes) == 1) break;
  }
  ::pclose(pipe);
  return kilobytes * 1000;
}

// SHA-256 of the same 256 KiB buffer over and over: the hash alone, no file reads.
double inMemorySpeed(std::uint64_t total) {
  std::vector<unsigned char> buffer(quillop::kChunkSize, 0x5a);
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
  const auto start = std::chrono::steady_clock::now();
  for (std::uint64_t done = 0; done < total; done += buffer.size()) {
    EVP_DigestUpdate(context, buffer.data(), buffer.size());
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  EVP_DigestFinal_ex(context, digest, &length);
  EVP_MD_CTX_free(context);
  return static_cast<double>(total) / since(start);
}

}  // namespace

int main(int argc, char** argv) {
  const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 2048;
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  const char* tmp = std::getenv("TMPDIR");
  const std::string work = argc > 3 ? argv[3] : (tmp != nullptr && *tmp == '/' ? tmp : "/tmp");
  const std::string path = work + "/stream-bench.bin";
  const std::uint64_t size = megabytes * 1024 * 1024;

  // Written once with varied bytes (a file of zeros could be stored sparse), then read once.
  {
    std::vector<unsigned char> block(1 << 20);
    std::uint32_t state = 12345;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    for (std::uint64_t done = 0; fd >= 0 && done < size; done += block.size()) {
      for (unsigned char& byte : block)
        byte = static_cast<unsigned char>((state = state * 1664525u + 1013904223u) >> 24);
      if (::write(fd, block.data(), block.size()) != static_cast<long>(block.size())) return 1;
    }
    if (fd < 0) return 1;
    ::close(fd);
  }
  quillop::DirectoryWriter::stream(path, nullptr, [] { return false; });  // warm the cache

  std::vector<double> streamed, hashed;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const auto result = quillop::DirectoryWriter::stream(path, nullptr, [] { return false; });
    streamed.push_back(static_cast<double>(result.count) / since(start));
    hashed.push_back(inMemorySpeed(size));
  }
  std::remove(path.c_str());
  const double openssl = opensslSpeed();

  const double stream = median(streamed);
  std::printf("file: %llu MiB, median of %d runs\n", static_cast<unsigned long long>(megabytes),
              runs);
  std::printf("%-36s %10s %12s\n", "", "MB/s", "vs openssl");
  std::printf("%-36s %10.0f %11.1f%%\n", "DirectoryWriter::stream (file)", stream / 1e6,
              100 * stream / openssl);
  std::printf("%-36s %10.0f %11.1f%%\n", "EVP SHA-256, same buffer in memory", median(hashed) / 1e6,
              100 * median(hashed) / openssl);
  std::printf("%-36s %10.0f %11.1f%%\n", "openssl speed -evp sha256 (256 KiB)", openssl / 1e6,
              100.0);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak resident memory of this process: %.1f MiB\n", usage.ru_maxrss / 1024.0);
  return 0;
}
