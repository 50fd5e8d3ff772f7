#include "e2e_support.h"

#include <chrono>
#include <filesystem>
#include <sstream>
#include <thread>

#include "support/temp_dir.h"

namespace quillop::testing {

void installExecutable(const std::string& from, const std::string& to) {
  std::filesystem::create_directories(std::filesystem::path(to).parent_path());
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(to, std::filesystem::perms(0755));
}

std::string installBundle(const std::string& root, const std::string& hostName) {
  const std::string host = root + "/" + hostName;
  const std::string extension =
      host + "/Contents/PlugIns/QuillopShare.appex/Contents/MacOS/quillop-share";
  installExecutable(QUILLOP_SHARE_EXE, extension);
  installExecutable(QUILLOP_FAKE_HOST_EXE,
                    host + "/Contents/MacOS/" + hostName.substr(0, hostName.rfind(".app")));
  return extension;
}

EnvChanges shareEnvironment(const std::string& dataHome) {
  return {{"XDG_DATA_HOME", dataHome},
          {"LC_ALL", "C.UTF-8"},
          {"DISPLAY", {}},
          {"WAYLAND_DISPLAY", {}},
          {"QT_QPA_PLATFORM", {}}};
}

std::string inboxIn(const std::string& dataHome) {
  return dataHome + "/group-containers/K7QZ4MRX2P.ex.quillop.mac/quillop-share-inbox";
}

std::vector<std::string> hostLog(const std::string& folder, size_t atLeast, double wait) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(wait);
  for (;;) {
    std::vector<std::string> lines;
    std::istringstream text(exists(folder + "/host.log") ? readFile(folder + "/host.log") : "");
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    if (lines.size() >= atLeast || std::chrono::steady_clock::now() >= deadline) return lines;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

}  // namespace quillop::testing
