// ShareViewController, part 2 of 3 (the intake): the attachment list, the preparation job, and
// the chain of `load` steps that imports one attachment at a time, then writes the context,
// publishes the batch and hands over to the host launch.
//
// The chain's store is held only by its pending steps and completions; when the chain ends,
// for whatever reason, the store goes with it and an unpublished batch folder is removed.

#include <string>

#include "platform/path.h"
#include "share/share_view_controller.h"
#include "share/ticket.h"
#include "store/share_store.h"

namespace quillop {
namespace {

std::string progressLine(size_t done, size_t total) {
  std::string line = "Preparati ";
  line += std::to_string(done);
  line += " di ";
  line += std::to_string(total);
  line += " file\u2026";
  return line;
}

}  // namespace

ShareViewController::AttachmentList ShareViewController::attachmentList() const {
  auto list = std::make_shared<Attachments>();
  if (!extensionContext_) return list;
  const std::vector<InputItem> items = extensionContext_->inputItems();
  for (const InputItem& item : items) {
    if (!item.extensionItem) return std::make_shared<Attachments>();
  }
  for (const InputItem& item : items) {
    list->insert(list->end(), item.attachments.begin(), item.attachments.end());
  }
  return list;
}

void ShareViewController::prepare(const AttachmentList& attachments) {
  FileSystem& fs = *platform_.fileSystem;
  std::string inbox;
  try {
    inbox = ShareStore::sharedDirectory(fs);
  } catch (...) {
    failWithCurrentException();
    return;
  }
  const std::string ticket =
      readTicket(fs, parentFolder(inbox) + "/ready.json", platform_.clock->now());
  std::shared_ptr<ShareStore> store;
  {
    const MutexLock guard(jobsLock_);
    makingBatch_ = true;
  }
  try {
    // The folder counts as there until the store's destructor has removed it.
    store.reset(new ShareStore(inbox, fs), [weak = weak_from_this()](ShareStore* done) {
      delete done;
      if (const Self self = weak.lock()) self->setBatchFolder({});
    });
  } catch (...) {
    setBatchFolder({});
    failWithCurrentException();
    return;
  }
  setBatchFolder(store->batchFolder());
  load(attachments, 0, std::move(store), ticket);
}

void ShareViewController::load(const AttachmentList& attachments, size_t index,
                               std::shared_ptr<ShareStore> store, const std::string& ticket) {
  if (preparation_->isCancelled()) return;
  if (index >= attachments->size()) {
    try {
      store->context(ticket, sources_);
      preparation_->publish(*store);
    } catch (...) {
      failWithCurrentException();
      return;
    }
    platform_.mainQueue->async([self = retain()] { self->launchHost(); });
    return;
  }
  const std::shared_ptr<ItemProvider>& attachment = (*attachments)[index];
  if (!attachment->hasFileUrl()) {
    fail(ShareStore::failure("Condividi il file originale dal Finder, non un link."));
    return;
  }
  attachment->loadFileUrl([self = retain(), attachments, index, store = std::move(store), ticket](
                              LoadedItem item, std::optional<Error> error) mutable {
    // The store moves on with the chain: a completion kept by the platform after its call
    // does not keep the batch alive, and the store goes before the controller does.
    self->loaded(attachments, index, std::move(store), ticket, item, error);
  });
}

void ShareViewController::loaded(const AttachmentList& attachments, size_t index,
                                 std::shared_ptr<ShareStore> store, const std::string& ticket,
                                 const LoadedItem& item, const std::optional<Error>& error) {
  const std::optional<Url> url = ShareStore::fileURL(item);
  if (!url) {
    fail(error ? *error : ShareStore::failure("File non disponibile."));
    return;
  }
  SecurityScope& scope = *platform_.securityScope;
  const bool granted = scope.startAccessing(*url);
  sources_.push_back(url->path());
  const std::string name = url->lastPathComponent();
  const std::optional<std::string> mime =
      platform_.mediaTypes->preferredMediaType(url->pathExtension());
  try {
    std::shared_ptr<SharePreparation> preparation = preparation_;
    store->append(
        *url, name, mime, [preparation] { return preparation->isCancelled(); }, &copied_);
  } catch (...) {
    if (granted) scope.stopAccessing(*url);
    failWithCurrentException();
    return;
  }
  platform_.mainQueue->async(
      [self = retain(), line = progressLine(index + 1, attachments->size())] {
        self->label_->setText(line);
      });
  // Each job hands the store on (or releases it) before it lets go of the controller, so the
  // controller counts as busy until an unpublished batch folder has been removed.
  work_->async([self = retain(), attachments, next = index + 1, store = std::move(store),
                ticket]() mutable { self->load(attachments, next, std::move(store), ticket); });
  if (granted) scope.stopAccessing(*url);
}

}  // namespace quillop
