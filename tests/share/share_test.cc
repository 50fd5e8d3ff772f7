// The share front end on the fake platform: a failure at every file-system call of real shares,
// a power cut at every point of them, tables of requests, hosts and tickets, and "Annulla" racing
// real threads.
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "share/argument_attachments.h"
#include "share/ticket.h"
#include "share_harness.h"
#include "store/batch_check.h"
#include "store/batch_lock.h"

namespace quillop::testing {
namespace {

using State = SharePreparation::State;

// One share of two files (one copied by copy_file_range, one through the buffer), a folder, and
// a file as URL text and as URL bytes, with a hand-over ticket waiting; JSON files go out in
// short writes. Call N fails, for every N and errno: the share publishes a batch that verifies
// and opens the host, or it publishes nothing, leaves no batch and shows the error; either way
// its work ends once, "Annulla" still answers and no descriptor stays open. A file system
// without user attributes (ENOTSUP) still publishes. (Removals run only after a failure, so no
// run fails one.) Or the share dies at call N (that call and every later one fail without
// effect; past the last call, none does) and the power goes, in the kindest order (every unsynced
// entry lost) or the worst (unsynced folders and renames kept, files lost): the host's recovery
// leaves at most one batch, which verifies, and a share that reported success keeps it.
TEST(ShareSweepTest, AFailedCallOrAPowerCutAnywherePublishesAllOrNothing) {
  ShareHarness in;  // its folder holds the sources
  makeFolder(in.temp / "Cartella/vuota");
  in.file("Cartella/dati", std::string(300'000, 'c'));
  const std::string a = in.file("a.txt", std::string(300'000, 'a')), text = Url::fromPath(a).text();
  const std::string b = in.file("b.jpg", std::string(600'001, 'b'));
  const std::vector<LoadedItem> items{Url::fromPath(a), Url::fromPath(b),
                                      Url::fromPath(in.temp / "Cartella"), text,
                                      Bytes(text.begin(), text.end())};
  const std::vector<std::string> mapped{
      // failures named by their step, not by their error
      kNoGroup, "Sorgente non leggibile.", "File non leggibile.", "File speciale non supportato.",
      "Impossibile preparare la cartella."};
  int calls = 0;
  const size_t descriptors = listFolder("/proc/self/fd").size();
  constexpr int kPowerCut = -1, kPowerCutWorstOrder = -2;
  // 0: the clean run, which counts the calls
  for (const int err : {0, EIO, ENOSPC, ENOTSUP, kPowerCut, kPowerCutWorstOrder}) {
    for (int n = err ? 1 : 0; n <= (err ? calls + (err < 0) : 0); ++n) {
      SCOPED_TRACE(::testing::Message() << "call " << n << " fails with " << err);
      ShareHarness share;
      const std::string ready =
          "{\"time\":" + std::to_string(SystemClock().now()) + ",\"ticket\":\"T\"}";
      makeFolder(share.container());
      writeFile(share.container() + "/ready.json", ready);
      share.fs.onRead("b.jpg", [](auto&) {}), share.fs.shortWrites(".tmp", 100);
      if (err) share.fs.inject({Op::any, "", err < 0 ? EIO : err, n, err > 0});
      share.run(items);
      calls = err ? calls : share.fs.calls();
      const std::string status = share.statuses.empty() ? "(none)" : share.statuses.back();
      const bool published = share.controller->preparationState() == State::published;
      if (err < 0) {
        share.fs.losePower(err == kPowerCutWorstOrder);
        removeAbandonedBatches(share.inbox());
        const std::vector<std::string> left = share.batches();
        ASSERT_LE(left.size(), 1u);
        ASSERT_EQ(left.size(), published ? 1u : left.size());
        for (const std::string& id : left) {
          const CheckedBatch batch = checkBatch(share.inbox() + "/" + id);
          EXPECT_TRUE(batch.verified()) << batch.problem.value_or("no manifest");
        }
        continue;
      }
      ASSERT_EQ(share.fs.fired().size(), err ? 1u : 0u);
      ASSERT_EQ(share.batches().size(), published ? 1u : 0u);
      EXPECT_EQ(share.workspace->opened, std::vector<std::string>(published, "/opt/Movarix.app"));
      EXPECT_EQ(requestState(*share.request), published ? "completed" : "open");
      EXPECT_TRUE(published || err != ENOTSUP || !share.fs.fired()[0].starts_with("setAttr"));
      if (published) {
        const CheckedBatch batch = checkBatch(share.inbox() + "/" + share.batches()[0]);
        EXPECT_TRUE(batch.verified()) << batch.problem.value_or("");
        ASSERT_EQ(batch.files.size(), items.size());
        EXPECT_EQ(batch.ticket, !err || !share.fs.fired()[0].ends_with("/ready.json") ? "T" : "");
        EXPECT_EQ(status, progressLine(items.size(), items.size()));
      } else {
        // A system error names the file of the call that failed (a full inbox is not the source's).
        const std::string failed = share.fs.fired().at(0).substr(share.fs.fired()[0].find(' ') + 1);
        EXPECT_TRUE(std::ranges::count(mapped, status) ||
                    (status.starts_with(failed) && status.ends_with(systemMessage(err))))
            << status;
        EXPECT_EQ(share.controller->preparationState(), State::cancelled);
        share.controller->updateProgress();
        EXPECT_TRUE(findView<ProgressIndicator>(share.controller->view())->state().hidden);
      }
      EXPECT_EQ(readFile(share.container() + "/ready.json"), ready);
      EXPECT_EQ(share.scope->starts, share.scope->stops);
      EXPECT_EQ(share.offMain, 0);
      EXPECT_FALSE(share.controller->busy());
      EXPECT_EQ(share.idleCalls, 1);
      share.controller->cancelShare();
      EXPECT_EQ(requestState(*share.request), published ? "completed" : kUserCancel);
      EXPECT_EQ(share.ends, 1);
    }
  }
  EXPECT_EQ(listFolder("/proc/self/fd").size(), descriptors);
}

// Requests, deliveries, inboxes and hosts, with every status line each must show. A batch is
// published once all its items are in; the request completes once the host has opened. Every
// grant is refused here: the share goes on, and nothing is given back.
TEST(ShareIntakeTest, RequestsDeliveriesAndHosts) {
  ShareHarness probe;  // its attachments, and their deliveries, are lent to each share below
  const auto single = [&](LoadedItem item, std::optional<Error> error = std::nullopt) {
    return std::vector<InputItem>{{true, {probe.attachment(std::move(item), error)}}};
  };
  std::vector<std::string> done{progressLine(1, 1)}, hundredDone;
  for (size_t i = 1; i <= 100; ++i) hundredDone.push_back(progressLine(i, 100));
  const std::string a = probe.file("città.txt"), missing = probe.temp / "manca.txt";
  const std::string text = Url::fromPath(a).text(), link = probe.temp / "link.txt";
  ASSERT_EQ(symlink(a.c_str(), link.c_str()), 0);
  const Error error("NSItemProviderErrorDomain", -1000, "Impossibile caricare l'elemento.");
  const Attachments hundred(100, probe.attachment(Url::fromPath(a)));
  const std::vector<InputItem> one = single(Url::fromPath(a));
  const std::string none = "File non disponibile.", count = "Seleziona da 1 a 100 file.";
  const std::string notLink = "Condividi il file originale dal Finder, non un link.";
  const auto web = argumentAttachment("https://example.com/a.txt", "/", nullptr);  // a link
  const std::string appex = "/Contents/PlugIns/QuillopShare.appex";
  const std::vector<std::string> hostless{done[0], "Apri Movarix per inviare i file preparati."};
  // Input items, status lines, and an odd circumstance of the share, if any.
  const std::vector<std::tuple<std::vector<InputItem>, std::vector<std::string>, std::string>> rows{
      {single(Url::fromPath(a), error), done, ""},
      {{{true, hundred}}, hundredDone, ""},
      {{{true, {probe.attachment(text), web}}}, {progressLine(1, 2), notLink}, ""},
      {{{true, {probe.attachment(text), probe.attachment(Url::fromPath(missing))}}},
       {progressLine(1, 2), systemError(ENOENT, missing).message()},
       ""},
      {single(Url::fromPath(link)), {"Il file non è regolare o supera 50 GB."}, ""},
      {single(std::monostate{}, error), {error.message()}, ""},
      {single("https://example.com/a.txt"), {none}, ""},
      {single("file:a.txt"), {none}, ""},
      {single("file://altro/etc/hosts"), {none}, ""},
      {single(Bytes{'a', ' ', 'b'}), {none}, ""},
      {{{true, hundred}, {true, {probe.attachment(text)}}}, {count}, ""},
      {{one[0], {false, one[0].attachments}}, {count}, ""},
      {one, {count}, "no context"},
      {one, {}, "annulla"},
      {one, {progressLine(1, 1), "File preparati. Apri Movarix. " + error.message()}, "no opening"},
      {one, hostless, "/opt/Movarix.app.bak" + appex},
  };
  for (const auto& [input, statuses, setup] : rows) {
    ShareHarness share;
    share.deliveries = probe.deliveries;
    share.scope->grants = false;
    if (setup.starts_with("/")) share.bundle->path = setup;
    if (setup == "no opening") share.workspace->error = error;
    share.start(input, setup != "no context");
    share.controller->viewDidAppear();  // starts nothing more
    if (setup == "annulla") share.controller->cancelShare();
    share.settle();
    EXPECT_EQ(share.statuses, statuses) << setup;
    size_t items = 0;
    for (const InputItem& item : input) items += item.attachments.size();
    const bool published = std::ranges::count(statuses, progressLine(items, items)) == 1;
    const bool completed = published && statuses.size() == items;
    EXPECT_EQ(share.batches().size(), published) << setup;
    const std::string end = setup == "annulla" ? kUserCancel : completed ? "completed" : "open";
    EXPECT_EQ(requestState(*share.request), end);
    EXPECT_EQ(share.scope->stops, 0);
  }
}

// The hand-over ticket: a small regular JSON file of exactly "time" and "ticket", written less
// than 8 s from now either way; anything else gives the empty ticket. (What every JSON reader
// refuses, a key more or repeated among it, is tested with the store's and the archive's.)
TEST(ReadTicketTest, OnlyAFreshWellFormedSmallFileGivesItsTicket) {
  TempDir dir;
  const auto at = [](const std::string& time, const std::string& ticket = "\"T\"") {
    return "{\"time\":" + time + ",\"ticket\":" + ticket + "}";
  };
  std::string big = at("1700000000.5");
  big.insert(1, std::string((1 << 20) - big.size(), ' '));  // exactly 1 MiB
  ASSERT_EQ(mkfifo((dir / "fifo.json").c_str(), 0600), 0);  // no writer: must not block
  ASSERT_EQ(symlink((dir / "ready.json").c_str(), (dir / "link.json").c_str()), 0);
  for (const auto& [contents, ticket] :
       std::vector<std::pair<std::string, std::string>>{{at("1699999992.6"), "T"},
                                                        {at("1700000008.4"), "T"},
                                                        {at("1699999992.5"), ""},
                                                        {at("1700000008.5"), ""},
                                                        {at("\"1700000000.5\""), ""},
                                                        {at("1700000000.5", "7"), ""},
                                                        {"{\"ticket\":\"T\"}", ""},
                                                        {"{\"time\":1700000000.5}", ""},
                                                        {at("1700000000.5") + " ", "T"},
                                                        {" " + big, ""},
                                                        {big, "T"},
                                                        {"fifo.json", ""},
                                                        {"link.json", "T"}}) {  // to the last above
    if (!contents.ends_with(".json")) writeFile(dir / "ready.json", contents);
    const std::string path = dir / (contents.ends_with(".json") ? contents : "ready.json");
    EXPECT_EQ(readTicket(FileSystem::posix(), path, 1'700'000'000.5), ticket) << contents.size();
  }
}

// Shares on real threads (the controller's worker queue, a delivering thread, a workspace that
// answers at once) with "Annulla" pressed, or the window closed, while the work goes on. Each
// batch ends published and verifying or absent, status lines change only on the main thread,
// and no thread, descriptor or file is left behind.
TEST(ShareStressTest, AnnullaWhileTheWorkGoesOnLeavesEachBatchPublishedOrAbsent) {
  ShareHarness share;  // a controller of its own for each share below
  share.workerThreads = true;
  makeFolder(share.temp / "Cartella");
  const std::vector<std::string> sources{
      share.file("piccolo.txt", "ciao"), share.file("medio.bin", std::string(300000, 'm')),
      share.file("Cartella/dati.bin", std::string(100000, 'd')), share.temp / "Cartella"};
  auto delivery = std::make_shared<WorkerQueue>("item-loading");
  std::thread([] {}).join();  // the sanitizer's helper thread, if any, starts before we count
  const size_t threads = listFolder("/proc/self/task").size();
  const size_t fds = listFolder("/proc/self/fd").size();
  std::mt19937 random(20240607);
  int published = 0, cancelled = 0;
  for (int round = 0; round < 100; ++round) {
    SCOPED_TRACE(round);
    Attachments attachments;
    for (size_t i = random() % 4; i < 4; ++i) {
      attachments.push_back(argumentAttachment(sources[random() % 4], "/", delivery));
    }
    share.start(attachments);
    // "Annulla" once this many main-thread jobs have run (a progress line each, the launch, the
    // completion) while the work goes on; in a third of the shares the window closes then too.
    const size_t pressAt = random() % (attachments.size() + 3), closes = random() % 3 == 0;
    bool pressed = false, cancels = false;  // pressed at all; pressed before the request ended
    const std::weak_ptr<ShareViewController> weak = share.controller;
    for (size_t ran = 0;
         (share.controller ? share.controller->busy() : !weak.expired()) || share.main.pending();) {
      if (!pressed && ran == pressAt) {
        pressed = true;
        cancels = share.request->outcome() == ShareRequest::Outcome::open;
        share.controller->cancelShare();
        if (closes) share.controller.reset();  // its last job releases it, wherever that runs
      }
      ran += share.main.runOne();
      if (!share.main.pending()) std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    share.controller.reset();  // joins its work queue
    const std::string last = share.statuses.empty() ? "Preparati " : share.statuses.back();
    EXPECT_TRUE(last.starts_with("Preparati ") || last == "Preparazione annullata.") << last;
    EXPECT_EQ(requestState(*share.request), cancels ? kUserCancel : "completed");
    EXPECT_EQ(listFolder(share.container()), std::vector<std::string>{"quillop-share-inbox"});
    const std::vector<std::string> batches = share.batches();
    ++(batches.empty() ? cancelled : published);
    EXPECT_TRUE(pressed || !batches.empty());
    for (const std::string& batch : batches) {
      const CheckedBatch checked = checkBatch(share.inbox() + "/" + batch);
      EXPECT_TRUE(checked.verified()) << checked.problem.value_or("");
      EXPECT_EQ(checked.sources.size(), attachments.size());
      removeTree(FileSystem::posix(), share.inbox() + "/" + batch);  // the host takes it
    }
  }
  EXPECT_EQ(share.offMain, 0);
  EXPECT_TRUE(published > 30 && cancelled > 30) << published << " published, " << cancelled;
  // A queue released by its own job may still be going.
  for (int i = 0; i < 500 && listFolder("/proc/self/task").size() != threads; ++i) usleep(2000);
  EXPECT_EQ(listFolder("/proc/self/task").size(), threads);
  EXPECT_EQ(listFolder("/proc/self/fd").size(), fds);
}

}  // namespace
}  // namespace quillop::testing
