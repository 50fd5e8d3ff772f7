// ShareViewController, part 3 of 3 (launchHost): the last step of a successful share: open the
// host application found three folders above the extension's bundle, then complete the request
// once the platform reports it open.

#include <string>

#include "platform/path.h"
#include "share/share_view_controller.h"
#include "store/share_store.h"

namespace quillop {

void ShareViewController::launchHost() {
  std::string host = platform_.bundle->mainBundlePath();
  for (int i = 0; i < 3; ++i) host = parentFolder(host);
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
            self->showFailure("File preparati. Apri Movarix. " + error->message());
          } else if (self->extensionContext_) {
            self->extensionContext_->completeRequest();
          }
        });
      });
}

}  // namespace quillop
