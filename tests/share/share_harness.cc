#include "share_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace quillop::testing {

ShareHarness::ShareHarness() {
  if (const char* previous = std::getenv("XDG_DATA_HOME")) savedDataHome_ = previous;
  setenv("XDG_DATA_HOME", (temp / "data").c_str(), 1);
}

ShareHarness::~ShareHarness() {
  controller.reset();
  if (savedDataHome_) {
    setenv("XDG_DATA_HOME", savedDataHome_->c_str(), 1);
  } else {
    unsetenv("XDG_DATA_HOME");
  }
}

std::string ShareHarness::file(const std::string& relative, const std::string& contents) {
  const std::string path = temp / ("sources/" + relative);
  makeFolder(path.substr(0, path.find_last_of('/')));
  writeFile(path, contents);
  return path;
}

std::shared_ptr<ItemProvider> ShareHarness::fileAttachment(const std::string& path) {
  return attachment(true, Url::fromPath(path));
}

std::shared_ptr<ItemProvider> ShareHarness::attachment(bool fileUrl, LoadedItem item,
                                                       std::optional<Error> error) {
  return std::make_shared<FakeItemProvider>(fakes.loader, fileUrl, std::move(item),
                                            std::move(error));
}

void ShareHarness::start(std::vector<InputItem> items, bool withContext) {
  request = std::make_shared<ShareRequest>(std::move(items));
  controller = ShareViewController::create(fakes.platform(fs));
  if (withContext) controller->setExtensionContext(request);
  controller->loadView();
  auto label = std::dynamic_pointer_cast<TextField>(controller->view()->subviews().at(0));
  label->setObserver([this](const std::string& text) {
    statuses.push_back(text);
    statusThreads.push_back(std::this_thread::get_id());
  });
}

void ShareHarness::start(Attachments attachments) {
  start(std::vector<InputItem>{InputItem{true, std::move(attachments)}});
}

void ShareHarness::share(const std::vector<std::string>& paths) {
  Attachments attachments;
  for (const std::string& path : paths) attachments.push_back(fileAttachment(path));
  start(std::move(attachments));
  controller->viewDidAppear();
  settle();
}

void ShareHarness::settle(std::optional<Error> openingError) {
  for (;;) {
    bool moved = fakes.main->runAll() > 0;
    moved = fakes.work->runAll() > 0 || moved;
    moved = fakes.loader->deliverNext() || moved;
    moved = fakes.workspace->answer(openingError) || moved;
    if (!moved) return;
  }
}

ProgressIndicator::State ShareHarness::progress() {
  controller->updateProgress();
  return findView<ProgressIndicator>(controller->view())->state();
}

std::string ShareHarness::container() const {
  return temp / "data/group-containers/K7QZ4MRX2P.ex.quillop.mac";
}

std::string ShareHarness::inbox() const { return container() + "/quillop-share-inbox"; }

std::vector<std::string> ShareHarness::batches() const { return listFolder(inbox()); }

std::string ShareHarness::onlyBatch() const {
  const std::vector<std::string> names = batches();
  EXPECT_EQ(names.size(), 1u);
  return names.empty() ? inbox() + "/<none>" : inbox() + "/" + names.front();
}

std::string progressLine(size_t done, size_t total) {
  return numbered("Preparati ", done, " di ") + numbered("", total, " file\u2026");
}

std::string numbered(const std::string& prefix, size_t number, const std::string& suffix) {
  std::string text = prefix;
  text += std::to_string(number);
  text += suffix;
  return text;
}

std::string requestState(const ShareRequest& request) {
  switch (request.outcome()) {
    case ShareRequest::Outcome::open:
      return "open";
    case ShareRequest::Outcome::completed:
      return "completed";
    case ShareRequest::Outcome::cancelled: {
      const Error error = *request.error();
      return "cancelled: " + error.domain() + " " + std::to_string(error.code()) + " " +
             error.message();
    }
  }
  return "?";
}

}  // namespace quillop::testing
