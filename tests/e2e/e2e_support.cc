#include "e2e_support.h"


#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

namespace quillop::testing {

Finished runProcess(const std::vector<std::string>& argv,
                    const std::map<std::string, std::string>& env, const std::string& directory,
                    const std::function<void(pid_t, const std::string&)>& onErrLine) {
  return runChild(argv, {.env = EnvChanges(env.begin(), env.end()),
                         .directory = directory,
                         .onErrLine = onErrLine});
}

pid_t startProcess(const std::vector<std::string>& argv) { return startChild(argv); }
int waitProcess(pid_t pid) { return waitChild(pid); }

void installExecutable(const std::string& from, const std::string& to) {
  std::filesystem::create_directories(std::filesystem::path(to).parent_path());
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(to, std::filesystem::perms(0755));
}

std::string installBundle(const std::string& root, const std::string& hostName, bool withHost) {
  const std::string host = root + "/" + hostName;
  const std::string extension =
      host + "/Contents/PlugIns/QuillopShare.appex/Contents/MacOS/quillop-share";
  installExecutable(QUILLOP_SHARE_EXE, extension);
  if (withHost) {
    std::string name = hostName;
    if (name.ends_with(".app")) name.resize(name.size() - 4);
    installExecutable(QUILLOP_FAKE_HOST_EXE, host + "/Contents/MacOS/" + name);
  }
  return extension;
}

std::vector<std::string> hostLog(const std::string& folder, size_t atLeast, double wait) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(wait);
  for (;;) {
    std::vector<std::string> lines;
    if (exists(folder + "/host.log")) {
      std::istringstream text(readFile(folder + "/host.log"));
      for (std::string line; std::getline(text, line);) lines.push_back(line);
    }
    if (lines.size() >= atLeast || std::chrono::steady_clock::now() >= deadline) return lines;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace quillop::testing
