// The last step of a successful share: open the host application found three folders above the
// extension's bundle, then complete the request once the platform reports it open.

#include <string>

#include "share/share_view_controller.h"
#include "store/share_store.h"

namespace quillop {
namespace {

// The folder that holds `path`, as removing a URL's last path component does ("/a/b/" and
// "/a/b" both give "/a"; the root stays the root).
std::string removingLastComponent(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::string::size_type slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The text after the last "." of the last component; empty for none and for ".name".
std::string pathExtension(const std::string& path) {
  const std::string name = path.substr(path.find_last_of('/') + 1);
  const std::string::size_type dot = name.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return {};
  return name.substr(dot + 1);
}

}  // namespace

void ShareViewController::launchHost() {
  std::string host = platform_.bundle->mainBundlePath();
  for (int i = 0; i < 3; ++i) host = removingLastComponent(host);
  if (pathExtension(host) != "app") {
    fail(ShareStore::failure("Apri Movarix per inviare i file preparati."));
    return;
  }
  OpenConfiguration configuration;
  configuration.activates = true;
  configuration.createsNewApplicationInstance = false;
  platform_.workspace->openApplication(
      host, configuration, [self = retain()](std::optional<Error> error) {
        self->platform_.mainQueue->async([self, error = std::move(error)] {
          if (error) {
            self->label_->setText("File preparati. Apri Movarix. " + error->message());
          } else if (self->extensionContext_) {
            self->extensionContext_->completeRequest();
          }
        });
      });
}

}  // namespace quillop
