// The intake: every way a share can fail on the work queue or in a delivery, with the exact
// text on the status line and what is left in the inbox; the kinds of delivered items; the
// security-scoped grant; and the hand-over ticket from "ready.json".
#include <gtest/gtest.h>
#include <unistd.h>

#include "share_harness.h"
#include "store/batch_check.h"

namespace quillop::testing {
namespace {

using State = SharePreparation::State;

// The share failed with `text` as the last status, left the request open, cancelled the
// preparation, launched nothing and left no batch folder.
void expectFailedWith(ShareHarness& share, const std::string& text) {
  ASSERT_FALSE(share.statuses.empty());
  EXPECT_EQ(share.statuses.back(), text);
  EXPECT_EQ(requestState(*share.request), "open");
  EXPECT_EQ(share.controller->preparationState(), State::cancelled);
  EXPECT_TRUE(share.fakes.workspace->openedPaths().empty());
  EXPECT_TRUE(share.batches().empty());
  EXPECT_FALSE(share.controller->busy());
}

TEST(ShareIntakeTest, NoContainerFailsWithCodeOne) {
  ShareHarness share;
  writeFile(share.temp / "plain", "");
  setenv("XDG_DATA_HOME", (share.temp / "plain").c_str(), 1);  // no folder can be made below it
  share.share({share.file("a.txt")});
  expectFailedWith(share,
                   "Condivisione Mac non configurata: serve un profilo con App Group autorizzato.");
  EXPECT_EQ(share.fakes.loader->requested(), 0u);
}

TEST(ShareIntakeTest, FullInboxFailsAndIsLeftUnchanged) {
  ShareHarness share;
  for (int i = 0; i < 19; ++i) makeFolder(numbered(share.inbox() + "/old", i));
  writeFile(share.inbox() + "/.hidden", "");
  const std::vector<std::string> before = share.batches();
  share.share({share.file("a.txt")});
  EXPECT_EQ(share.statuses.back(), "La coda Condividi è piena. Apri Movarix per gestirla.");
  EXPECT_EQ(share.batches(), before);
  EXPECT_EQ(share.controller->preparationState(), State::cancelled);
  EXPECT_EQ(share.fakes.loader->requested(), 0u);
}

TEST(ShareIntakeTest, ALinkAfterTwoGoodItemsStopsTheShare) {
  ShareHarness share;
  share.start(Attachments{share.fileAttachment(share.file("a.txt")),
                          share.fileAttachment(share.file("b.txt")),
                          share.attachment(false, std::string("https://example.com/c.txt"))});
  share.controller->viewDidAppear();
  share.settle();
  EXPECT_EQ(share.statuses,
            (std::vector<std::string>{"Preparati 1 di 3 file\u2026", "Preparati 2 di 3 file\u2026",
                                      "Condividi il file originale dal Finder, non un link."}));
  EXPECT_EQ(share.fakes.loader->requested(), 2u);
  expectFailedWith(share, "Condividi il file originale dal Finder, non un link.");
  share.controller->cancelShare();
  EXPECT_EQ(requestState(*share.request), "cancelled: QuillopShare 2 Preparazione annullata.");
}

TEST(ShareIntakeTest, DeliveredItemsWithoutAUsableFileUrlFail) {
  struct Case {
    const char* what;
    LoadedItem item;
    std::optional<Error> error;
    std::string status;
  };
  const Error loadError("NSItemProviderErrorDomain", -1000, "Impossibile caricare l'elemento.");
  const std::vector<Case> cases{
      {"nothing", std::monostate{}, std::nullopt, "File non disponibile."},
      {"nothing, with an error", std::monostate{}, loadError, loadError.message()},
      {"a number, with an error", 42.0, loadError, loadError.message()},
      {"a web URL", std::string("https://example.com/a.txt"), std::nullopt,
       "File non disponibile."},
      {"a relative file URL", std::string("file:a.txt"), std::nullopt, "File non disponibile."},
      {"a NUL in the path", std::string("file:///etc/hosts%00/a.pdf"), std::nullopt,
       "File non disponibile."},
      {"another host", std::string("file://altro/etc/hosts"), std::nullopt,
       "File non disponibile."},
      {"bytes that are no URL", Bytes{'a', ' ', 'b'}, std::nullopt, "File non disponibile."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ShareHarness share;
    share.start(Attachments{share.attachment(true, c.item, c.error)});
    share.controller->viewDidAppear();
    share.settle();
    expectFailedWith(share, c.status);
    EXPECT_TRUE(share.fakes.scope->log().empty());
  }
}

TEST(ShareIntakeTest, UrlTextUrlBytesAndAUrlWithAnErrorAreAccepted) {
  ShareHarness share;
  const std::string text = share.file("città.txt", "uno");
  const std::string bytes = share.file("perché.txt", "due");
  const std::string withError = share.file("ciò.txt", "tre");
  const std::string textUrl = Url::fromPath(text).text();
  const std::string bytesUrl = Url::fromPath(bytes).text();
  share.start(Attachments{
      share.attachment(true, textUrl),
      share.attachment(true, Bytes(bytesUrl.begin(), bytesUrl.end())),
      share.attachment(true, Url::fromPath(withError), Error("X", 1, "ignorato"))});
  share.controller->viewDidAppear();
  share.settle();
  EXPECT_EQ(requestState(*share.request), "completed");
  const CheckedBatch batch = checkBatch(share.onlyBatch());
  ASSERT_TRUE(batch.verified()) << batch.problem.value_or("");
  EXPECT_EQ(batch.sources, (std::vector<std::string>{text, bytes, withError}));
  EXPECT_EQ(batch.files[0].entry.name, "città.txt");
  EXPECT_EQ(batch.files[1].entry.name, "perché.txt");
}

TEST(ShareIntakeTest, ARefusedGrantStillImportsAndIsNeverStopped) {
  ShareHarness share;
  share.fakes.scope->grants = false;
  const std::string path = share.file("a.txt");
  share.share({path});
  EXPECT_EQ(requestState(*share.request), "completed");
  EXPECT_TRUE(checkBatch(share.onlyBatch()).verified());
  EXPECT_EQ(share.fakes.scope->log(), std::vector<std::string>{"start " + path});
}

TEST(ShareIntakeTest, ImportFailuresStopTheShareAfterTheGrantEnds) {
  ShareHarness share;
  const std::string missing = share.temp / "sources/manca.txt";
  share.start(Attachments{share.fileAttachment(share.file("a.txt")),
                          share.fileAttachment(missing)});
  share.controller->viewDidAppear();
  share.settle();
  expectFailedWith(share, systemError(ENOENT, missing).message());
  EXPECT_EQ(share.statuses.size(), 2u);
  const std::vector<std::string> log = share.fakes.scope->log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[3], "stop " + missing);

  ShareHarness link;
  const std::string target = link.file("vero.txt");
  ASSERT_EQ(symlink(target.c_str(), (link.temp / "sources/collegamento.txt").c_str()), 0);
  link.share({link.temp / "sources/collegamento.txt"});
  expectFailedWith(link, "Il file non è regolare o supera 50 GB.");
}

TEST(ShareIntakeTest, ContextAndPublicationFailuresRemoveTheBatch) {
  for (const std::string name : {"context.json", "manifest.json"}) {
    SCOPED_TRACE(name);
    ShareHarness share;
    share.fs.inject({Op::rename, name, EIO});
    share.share({share.file("a.txt")});
    ASSERT_EQ(share.statuses.size(), 2u);
    EXPECT_EQ(share.statuses[0], "Preparati 1 di 1 file\u2026");
    EXPECT_NE(share.statuses[1].find(name), std::string::npos) << share.statuses[1];
    EXPECT_TRUE(share.statuses[1].ends_with(": " + systemMessage(EIO)));
    expectFailedWith(share, share.statuses[1]);
  }
}

// The ticket is read once from "ready.json" at the container's root; whatever is wrong with it
// gives the empty ticket, silently, and the share goes on.
TEST(ShareIntakeTest, TicketFromReadyJson) {
  struct Case {
    const char* what;
    std::optional<std::string> file;  // none: no file at all
    std::string ticket;
  };
  const double now = 1'700'000'000.5;
  auto at = [&](double offset, const std::string& ticket = "\"T-1\"") {
    char time[64];
    snprintf(time, sizeof time, "%.3f", now + offset);
    return std::string("{\"time\":") + time + ",\"ticket\":" + ticket + ",\"altro\":1}";
  };
  const std::vector<Case> cases{
      {"7.9 s in the past", at(-7.9), "T-1"},
      {"7.9 s in the future", at(7.9), "T-1"},
      {"8.0 s in the past", at(-8.0), ""},
      {"8.0 s in the future", at(8.0), ""},
      {"an empty ticket", at(0, "\"\""), ""},
      {"time as a string", "{\"time\":\"1700000000.5\",\"ticket\":\"T-1\"}", ""},
      {"ticket as a number", at(0, "7"), ""},
      {"time as a boolean", "{\"time\":true,\"ticket\":\"T-1\"}", ""},
      {"no time", "{\"ticket\":\"T-1\"}", ""},
      {"no ticket", "{\"time\":1700000000.5}", ""},
      {"an array at the top level", std::string("[").append(at(0)).append("]"), ""},
      {"not JSON", "time=1700000000.5", ""},
      {"missing", std::nullopt, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ShareHarness share;
    share.fakes.clock->time = now;
    makeFolder(share.container());
    if (c.file) writeFile(share.container() + "/ready.json", *c.file);
    share.share({share.file("a.txt")});
    EXPECT_EQ(requestState(*share.request), "completed");
    const CheckedBatch batch = checkBatch(share.onlyBatch());
    EXPECT_TRUE(batch.verified());
    EXPECT_EQ(batch.ticket, c.ticket);
    if (c.file) {
      EXPECT_EQ(readFile(share.container() + "/ready.json"), *c.file);  // only read, never touched
    }
  }
}

}  // namespace
}  // namespace quillop::testing
