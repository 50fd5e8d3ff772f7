// ShareViewController, part 1 of 3: creation, the view, "Annulla", failures and the count of
// pending jobs. The intake is in intake.cc, the host launch in host_launch.cc.
#include "share/share_view_controller.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "store/share_store.h"

namespace quillop {

// Pending work: every job holds the controller through this record, which tells the idle
// observer when the last job has gone.
struct ShareViewController::Jobs {
  Jobs(Self owner, std::function<void()> observer)
      : owner(std::move(owner)), observer(std::move(observer)) {}
  ~Jobs() {
    std::function<void()> notify = std::move(observer);
    owner.reset();  // may destroy the controller; nothing below touches it
    if (notify) notify();
  }
  Self owner;
  std::function<void()> observer;
};

std::shared_ptr<ShareViewController> ShareViewController::create(SharePlatform platform) {
  return std::shared_ptr<ShareViewController>(new ShareViewController(std::move(platform)));
}

ShareViewController::ShareViewController(SharePlatform platform)
    : platform_(std::move(platform)),
      work_(platform_.makeSerialQueue(workQueueLabel)),
      preparation_(std::make_shared<SharePreparation>()),
      label_(TextField::labelWithString("Preparazione dei file per Movarix\u2026")) {}

ShareViewController::~ShareViewController() = default;

void ShareViewController::setExtensionContext(std::shared_ptr<ExtensionContext> context) {
  extensionContext_ = std::move(context);
}

void ShareViewController::loadView() {
  view_ = std::make_shared<View>(Rect{0, 0, 430, 130});
  label_->setFrame(Rect{24, 68, 382, 40});
  label_->setMaximumNumberOfLines(2);
  view_->addSubview(label_);
  // The button must not keep its controller alive: the controller owns the view tree.
  std::weak_ptr<ShareViewController> target = weak_from_this();
  auto button = Button::buttonWithTitle("Annulla", [target] {
    if (Self controller = target.lock()) controller->cancelShare();
  });
  button->setFrame(Rect{320, 20, 86, 30});
  view_->addSubview(std::move(button));
  progress_ = std::make_shared<ProgressIndicator>(Rect{24, 25, 284, 20});
  view_->addSubview(progress_);
  updateProgress();  // busy until the sizes are known
}

void ShareViewController::viewDidAppear() {
  if (started_) return;
  started_ = true;
  if (!preparation_->begin()) return;
  AttachmentList attachments = attachmentList();
  attachmentCount_ = attachments->size();
  if (attachments->empty() || attachments->size() > maxAttachments) {
    fail(ShareStore::failure("Seleziona da 1 a 100 file."));
    return;
  }
  work_->async([self = retain(), attachments] { self->prepare(attachments); });
}

void ShareViewController::cancelShare() {
  preparation_->cancel();
  if (extensionContext_) {
    extensionContext_->cancelRequest(cancellation());
  }
}

void ShareViewController::fail(const Error& error) {
  preparation_->cancel();
  platform_.mainQueue->async(
      [self = retain(), message = error.message()] { self->showFailure(message); });
}

void ShareViewController::showFailure(const std::string& message) {
  failureShown_ = true;
  if (progress_) progress_->setState(ProgressIndicator::State{.hidden = true});
  label_->setText(message);
}

void ShareViewController::updateProgress() {
  if (!progress_ || failureShown_) return;
  const CopyProgress::Snapshot copied = copied_.snapshot();
  // The selection's items deliver their places one at a time: its total is known once the last
  // item has announced its size.
  const bool known = attachmentCount_ > 0 && copied.items >= attachmentCount_;
  ProgressIndicator::State state;
  state.indeterminate = copied.walking || !known;
  state.bytes = copied.written;
  if (known) {
    state.totalBytes = copied.expected;
    if (copied.expected > 0) {
      state.fraction =
          std::min(1.0, static_cast<double>(copied.written) / static_cast<double>(copied.expected));
    }
  }
  progress_->setState(state);
}

void ShareViewController::failWithCurrentException() {
  try {
    throw;
  } catch (const Error& error) {
    fail(error);
  } catch (const std::bad_alloc&) {
    fail(systemError(ENOMEM, ""));
  } catch (const std::exception&) {
    // Errors of a library that does not speak `Error` (JSON, containers): their English text
    // means nothing to the user, and is never shown.
    fail(ShareStore::failure("Impossibile preparare i file."));
  }
}

void ShareViewController::abandon(std::chrono::milliseconds grace) {
  preparation_->cancel();
  const auto deadline = std::chrono::steady_clock::now() + grace;
  jobsLock_.lock();
  while ((makingBatch_ || !batchFolder_.empty()) && batchSettled_.waitUntil(jobsLock_, deadline)) {
  }
  const std::string folder = batchFolder_;
  jobsLock_.unlock();
  // Cancelled, or published before: publication can no longer start.
  if (folder.empty() || preparation_->state() == SharePreparation::State::published) return;
  // Work that is slow rather than stuck may add a file meanwhile, which fails the folder's own
  // removal: remove again until the folder is gone.
  for (int attempt = 0; attempt < 10 && removeTree(*platform_.fileSystem, folder); ++attempt) {
  }
}

void ShareViewController::setBatchFolder(std::string folder) {
  const MutexLock guard(jobsLock_);
  makingBatch_ = false;
  batchFolder_ = std::move(folder);
  batchSettled_.notifyAll();
}

bool ShareViewController::busy() const {
  const MutexLock guard(jobsLock_);
  return !jobs_.expired();
}

void ShareViewController::setIdleObserver(std::function<void()> observer) {
  const MutexLock guard(jobsLock_);
  idleObserver_ = std::move(observer);
}

ShareViewController::Self ShareViewController::retain() {
  const MutexLock guard(jobsLock_);
  std::shared_ptr<Jobs> jobs = jobs_.lock();
  if (!jobs) {
    jobs = std::make_shared<Jobs>(shared_from_this(), idleObserver_);
    jobs_ = jobs;
  }
  return Self(jobs, this);
}

}  // namespace quillop
