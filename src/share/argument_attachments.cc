#include "share/argument_attachments.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace quillop {
namespace {

class DeliveringProvider final : public ItemProvider {
 public:
  DeliveringProvider(bool fileUrl, LoadedItem item, std::shared_ptr<SerialQueue> delivery)
      : fileUrl_(fileUrl), item_(std::move(item)), delivery_(std::move(delivery)) {}

  bool hasFileUrl() const override { return fileUrl_; }
  void loadFileUrl(Completion completion) override {
    delivery_->async([completion = std::move(completion), item = item_] {
      completion(item, std::nullopt);
    });
  }

 private:
  const bool fileUrl_;
  const LoadedItem item_;
  const std::shared_ptr<SerialQueue> delivery_;
};

bool startsWithScheme(const std::string& text) {
  if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0]))) return false;
  for (size_t i = 1; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == ':') return true;
    if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return false;
}

std::string absolutePath(const std::string& argument, const std::string& workingDirectory) {
  std::filesystem::path path(argument);
  if (path.is_relative()) path = std::filesystem::path(workingDirectory) / path;
  std::string normal = path.lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

// The path that "file:///path" or "file://localhost/path" (scheme and host in any case) names,
// taken as written: text that is no valid URI was never percent-encoded.
std::optional<std::string> unencodedFilePath(const std::string& argument) {
  for (const std::string_view prefix : {"file:///", "file://localhost/"}) {
    if (argument.size() < prefix.size()) continue;
    if (std::equal(prefix.begin(), prefix.end(), argument.begin(), [](char a, char b) {
          return a == std::tolower(static_cast<unsigned char>(b));
        })) {
      return argument.substr(prefix.size() - 1);
    }
  }
  return std::nullopt;
}

}  // namespace

std::shared_ptr<ItemProvider> argumentAttachment(const std::string& argument,
                                                 const std::string& workingDirectory,
                                                 std::shared_ptr<SerialQueue> delivery) {
  if (startsWithScheme(argument)) {
    const std::optional<Url> url = Url::parse(argument);
    if (url && url->isLocalFileUrl()) {
      return std::make_shared<DeliveringProvider>(true, argument, std::move(delivery));
    }
    // Some launchers pass "file:///a b.txt" unencoded: that names "/a b.txt". Any other text
    // with a scheme is a link (or a file of another machine), never a path relative to here.
    const std::optional<std::string> path = url ? std::nullopt : unencodedFilePath(argument);
    if (!path) {
      return std::make_shared<DeliveringProvider>(false, std::monostate{}, std::move(delivery));
    }
    return std::make_shared<DeliveringProvider>(true, Url::fromPath(absolutePath(*path, "/")),
                                                std::move(delivery));
  }
  return std::make_shared<DeliveringProvider>(
      true, Url::fromPath(absolutePath(argument, workingDirectory)), std::move(delivery));
}

}  // namespace quillop
