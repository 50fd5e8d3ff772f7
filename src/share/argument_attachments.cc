#include "share/argument_attachments.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "platform/error.h"
#include "platform/file_system.h"

namespace quillop {
namespace {

// The path the kernel reaches through the absolute `path`, as open(2) and lstat(2) walk it:
// each link before the last component is followed before the ".." after it applies, never
// tidied away as text. The last component itself is kept (a final link is shared as a link,
// which the store refuses) unless it is "." or "..", or a "/" follows it, as then the kernel
// resolves it too. No trailing "/" remains. A path that cannot be resolved (a folder missing or
// not searchable) stays as written, trailing "/" included, so that opening it says why.
std::string kernelPath(const std::string& path) {
  std::string_view whole = path;
  while (whole.size() > 1 && whole.back() == '/') whole.remove_suffix(1);
  const std::string_view last = whole.substr(whole.rfind('/') + 1);
  FileSystem& fs = FileSystem::posix();
  try {
    if (whole.size() != path.size() || last.empty() || last == "." || last == "..") {
      return fs.resolve(path);
    }
    const std::string folder = fs.resolve(std::string(whole.substr(0, whole.size() - last.size())));
    return (folder == "/" ? "" : folder) + "/" + std::string(last);
  } catch (const Error&) {
    return path;
  }
}

// Delivers `item`, or for a `path` (absolute, no NUL) the file URL of the path the kernel
// reaches through it, resolved on the delivery queue.
class DeliveringProvider final : public ItemProvider {
 public:
  DeliveringProvider(bool fileUrl, LoadedItem item, std::shared_ptr<SerialQueue> delivery,
                     std::string path = {})
      : fileUrl_(fileUrl),
        item_(std::move(item)),
        path_(std::move(path)),
        delivery_(std::move(delivery)) {}

  bool hasFileUrl() const override { return fileUrl_; }
  void loadFileUrl(Completion completion) override {
    delivery_->async([completion = std::move(completion), item = item_, path = path_] {
      completion(path.empty() ? item : Url::fromPath(kernelPath(path)), std::nullopt);
    });
  }

 private:
  const bool fileUrl_;
  const LoadedItem item_;
  const std::string path_;
  const std::shared_ptr<SerialQueue> delivery_;
};

std::shared_ptr<ItemProvider> pathAttachment(std::string path,
                                             std::shared_ptr<SerialQueue> delivery) {
  return std::make_shared<DeliveringProvider>(true, std::monostate{}, std::move(delivery),
                                              std::move(path));
}

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
  if (argument.starts_with('/')) return argument;
  return workingDirectory + (workingDirectory.ends_with('/') ? "" : "/") + argument;
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
      // A path that is not absolute or holds a NUL names no file: delivered as it came, for the
      // store to refuse.
      if (!url->path().starts_with('/') || url->path().find('\0') != std::string::npos) {
        return std::make_shared<DeliveringProvider>(true, argument, std::move(delivery));
      }
      return pathAttachment(url->path(), std::move(delivery));
    }
    // Some launchers pass "file:///a b.txt" unencoded: that names "/a b.txt". Any other text
    // with a scheme is a link (or a file of another machine), never a path relative to here.
    const std::optional<std::string> path = url ? std::nullopt : unencodedFilePath(argument);
    if (!path) {
      return std::make_shared<DeliveringProvider>(false, std::monostate{}, std::move(delivery));
    }
    return pathAttachment(*path, std::move(delivery));
  }
  return pathAttachment(absolutePath(argument, workingDirectory), std::move(delivery));
}

}  // namespace quillop
