#include "share_sample.h"

#include <nlohmann/json.hpp>

#include "support/temp_dir.h"

namespace quillop::testing {

std::vector<std::string> sampleNames() {
  return {"con spazio.txt", "perché così è.txt", "100% #1 & (x) [y].txt", "a%20b.txt",
          "cartella con è"};
}

std::vector<std::string> sampleItems(const std::string& parent) {
  std::vector<std::string> paths;
  for (const std::string& name : sampleNames()) paths.push_back(parent + "/" + name);
  return paths;
}

std::string makeSample(const std::string& root) {
  const std::string parent = root + "/riga\nnuova è";
  const std::vector<std::string> items = sampleItems(parent);
  makeFolder(items[4] + "/vuota");
  writeFile(items[0], "uno\n");
  writeFile(items[1], "due, con più parole\n");
  writeFile(items[2], "tre\n");
  writeFile(items[3], "sei\n");
  writeFile(parent + "/a0b.txt", "non questo\n");
  writeFile(items[4] + "/dentro.txt", "quattro\n");
  writeFile(items[4] + "/.nascosto", "cinque\n");
  return parent;
}

std::string inboxIn(const std::string& dataHome) {
  return dataHome + "/group-containers/K7QZ4MRX2P.ex.quillop.mac/quillop-share-inbox";
}

std::vector<std::string> contextSources(const std::string& batchFolder) {
  const nlohmann::json context = nlohmann::json::parse(readFile(batchFolder + "/context.json"));
  return context.at("sources").get<std::vector<std::string>>();
}

}  // namespace quillop::testing
