// The front end's own platform pieces: the worker queue, the request's single end, the
// command-line attachments, the bundle rule and the special cases of "ready.json".
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <future>

#include "linux/linux_services.h"
#include "linux/worker_queue.h"
#include "share/argument_attachments.h"
#include "share/share_request.h"
#include "share/ticket.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

TEST(WorkerQueueTest, RunsJobsInOrderOnOneOtherThreadAndDrainsOnDestruction) {
  std::vector<int> order;
  std::vector<std::thread::id> threads;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  {
    WorkerQueue queue("ex.quillop.mac.share");
    queue.async([released] { released.wait(); });
    for (int i = 0; i < 50; ++i) {
      queue.async([&, i] {
        order.push_back(i);
        threads.push_back(std::this_thread::get_id());
      });
    }
    release.set_value();
  }  // destruction waits for the 50 jobs
  ASSERT_EQ(order.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(order[i], i);
  EXPECT_NE(threads.front(), std::this_thread::get_id());
  for (const auto& id : threads) EXPECT_EQ(id, threads.front());
}

TEST(WorkerQueueTest, AJobMayReleaseItsOwnQueue) {
  std::thread([] {}).join();  // a sanitizer's helper thread, if any, starts before we count
  const size_t threads = listFolder("/proc/self/task").size();
  auto queue = std::make_shared<WorkerQueue>("self");
  std::promise<void> released;
  std::shared_future<void> mainReleased = released.get_future().share();
  std::promise<void> done;
  // The last owner goes inside a job of the queue: its thread must end by itself.
  queue->async([queue, mainReleased, &done]() mutable {
    mainReleased.wait();
    queue.reset();
    done.set_value();
  });
  queue.reset();
  released.set_value();
  done.get_future().wait();
  for (int i = 0; i < 500 && listFolder("/proc/self/task").size() != threads; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(listFolder("/proc/self/task").size(), threads);
}

TEST(ShareRequestTest, OnlyTheFirstEndCounts) {
  ShareRequest request({});
  int ends = 0;
  request.setEndObserver([&] { ++ends; });
  request.completeRequest();
  request.cancelRequest(Error("QuillopShare", 2, "Preparazione annullata."));
  request.completeRequest();
  EXPECT_EQ(request.outcome(), ShareRequest::Outcome::completed);
  EXPECT_FALSE(request.error());
  EXPECT_EQ(ends, 1);
}

TEST(ArgumentAttachmentTest, PathsFileUrisAndOtherUris) {
  auto delivery = std::make_shared<WorkerQueue>("item-loading");
  auto load = [&](const std::string& argument) {
    auto provider = argumentAttachment(argument, "/home/giulia/Documenti", delivery);
    std::promise<std::pair<LoadedItem, std::thread::id>> result;
    provider->loadFileUrl([&](LoadedItem item, std::optional<Error> error) {
      EXPECT_FALSE(error);
      result.set_value({std::move(item), std::this_thread::get_id()});
    });
    auto [item, thread] = result.get_future().get();
    EXPECT_NE(thread, std::this_thread::get_id());
    return std::make_pair(provider->hasFileUrl(), item);
  };
  auto urlPath = [](const LoadedItem& item) {
    const Url* url = std::get_if<Url>(&item);
    return url ? url->path() : std::string("<no url>");
  };

  EXPECT_EQ(urlPath(load("foto/città.jpg").second), "/home/giulia/Documenti/foto/città.jpg");
  EXPECT_EQ(urlPath(load("./a/../b.txt").second), "/home/giulia/Documenti/b.txt");
  EXPECT_EQ(urlPath(load("/srv/Cartella/").second), "/srv/Cartella");
  EXPECT_EQ(urlPath(load("./nota:1.txt").second), "/home/giulia/Documenti/nota:1.txt");
  EXPECT_EQ(urlPath(load("-").second), "/home/giulia/Documenti/-");

  const auto [fileUri, text] = load("file:///tmp/citt%C3%A0.txt");
  EXPECT_TRUE(fileUri);
  EXPECT_EQ(std::get<std::string>(text), "file:///tmp/citt%C3%A0.txt");
  EXPECT_FALSE(load("https://example.com/a.txt").first);
  EXPECT_FALSE(load("smb://server/share/a.txt").first);
  EXPECT_TRUE(load("file://LocalHost/tmp/a.txt").first);
  EXPECT_FALSE(load("file://altro/tmp/a.txt").first);  // another machine's file
  // Not valid URIs: the obvious file path as written, else a link; never relative to here.
  EXPECT_EQ(urlPath(load("file:///tmp/a b%20.txt").second), "/tmp/a b%20.txt");
  EXPECT_EQ(urlPath(load("FILE://localhost/tmp/città.txt").second), "/tmp/città.txt");
  EXPECT_FALSE(load("file:a b.txt").first);
  EXPECT_FALSE(load("https://example.com/a b.txt").first);
}

TEST(ExecutableBundleTest, TheFolderAboveContentsMacOsElseTheExecutablesFolder) {
  EXPECT_EQ(ExecutableBundle::bundleOf(
                "/b/Movarix.app/Contents/PlugIns/QuillopShare.appex/Contents/MacOS/quillop-share"),
            "/b/Movarix.app/Contents/PlugIns/QuillopShare.appex");
  EXPECT_EQ(ExecutableBundle::bundleOf("/usr/bin/quillop-share"), "/usr/bin");
  EXPECT_EQ(ExecutableBundle::bundleOf("/quillop-share"), "/");
  EXPECT_EQ(ExecutableBundle::bundleOf("/x/NotContents/MacOS/q"), "/x/NotContents/MacOS");
}

TEST(ReadTicketTest, OnlyASmallRegularFileIsRead) {
  TempDir dir;
  const double now = 1'700'000'000.0;
  const std::string valid = "{\"time\":1700000000,\"ticket\":\"T\"}";
  FileSystem& fs = FileSystem::posix();

  writeFile(dir / "ready.json", valid);
  EXPECT_EQ(readTicket(fs, dir / "ready.json", now), "T");
  ASSERT_EQ(symlink((dir / "ready.json").c_str(), (dir / "link.json").c_str()), 0);
  EXPECT_EQ(readTicket(fs, dir / "link.json", now), "T");

  // Exactly 1 MiB is read; one byte more is not.
  std::string padded = valid;
  padded.insert(1, std::string((1 << 20) - valid.size(), ' '));
  writeFile(dir / "big.json", padded);
  EXPECT_EQ(readTicket(fs, dir / "big.json", now), "T");
  writeFile(dir / "big.json", " " + padded);
  EXPECT_EQ(readTicket(fs, dir / "big.json", now), "");

  makeFolder(dir / "folder.json");
  EXPECT_EQ(readTicket(fs, dir / "folder.json", now), "");
  ASSERT_EQ(mkfifo((dir / "fifo.json").c_str(), 0600), 0);  // no writer: must not block
  EXPECT_EQ(readTicket(fs, dir / "fifo.json", now), "");
  writeFile(dir / "bad.json", "{\"time\":1700000000,\"ticket\":\"\xff\"}");
  EXPECT_EQ(readTicket(fs, dir / "bad.json", now), "");
}

}  // namespace
}  // namespace quillop::testing
