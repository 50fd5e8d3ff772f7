#include "share/argument_attachments.h"

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

}  // namespace

std::shared_ptr<ItemProvider> argumentAttachment(const std::string& argument,
                                                 const std::string& workingDirectory,
                                                 std::shared_ptr<SerialQueue> delivery) {
  if (startsWithScheme(argument)) {
    if (const std::optional<Url> url = Url::parse(argument)) {
      if (url->isFileUrl()) {
        return std::make_shared<DeliveringProvider>(true, argument, std::move(delivery));
      }
      return std::make_shared<DeliveringProvider>(false, std::monostate{}, std::move(delivery));
    }
  }
  return std::make_shared<DeliveringProvider>(
      true, Url::fromPath(absolutePath(argument, workingDirectory)), std::move(delivery));
}

}  // namespace quillop
