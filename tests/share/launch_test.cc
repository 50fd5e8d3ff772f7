// The host launch after publication: where the host is looked for, the "app" check, a
// platform opening error, and the completion of the request.
#include <gtest/gtest.h>

#include "share_harness.h"
#include "store/batch_check.h"

namespace quillop::testing {
namespace {

using State = SharePreparation::State;
const std::string kUserCancel = "cancelled: QuillopShare 2 Preparazione annullata.";

TEST(ShareLaunchTest, TheHostIsThreeFoldersAboveTheExtensionBundle) {
  for (const std::string bundle : {"/opt/Movarix.app/Contents/PlugIns/QuillopShare.appex",
                                   "/opt/Movarix.app/Contents/PlugIns/QuillopShare.appex/"}) {
    ShareHarness share;
    share.fakes.bundle->path = bundle;
    share.share({share.file("a.txt")});
    EXPECT_EQ(share.fakes.workspace->openedPaths(), std::vector<std::string>{"/opt/Movarix.app"});
    EXPECT_EQ(requestState(*share.request), "completed");
    EXPECT_EQ(share.statuses.back(), "Preparati 1 di 1 file\u2026");
  }
}

// Without a host bundle the published batch stays and only "Annulla" ends the request.
TEST(ShareLaunchTest, AnAncestorWithoutTheExactAppExtensionIsNoHost) {
  for (const std::string host : {"/opt/Movarix.APP", "/opt/Movarix.App", "/opt/Movarix",
                                 "/opt/.app", "/opt/Movarix.app.bak"}) {
    SCOPED_TRACE(host);
    ShareHarness share;
    share.fakes.bundle->path = host + "/Contents/PlugIns/QuillopShare.appex";
    share.share({share.file("a.txt")});
    EXPECT_EQ(share.statuses.back(), "Apri Movarix per inviare i file preparati.");
    EXPECT_TRUE(share.fakes.workspace->openedPaths().empty());
    EXPECT_EQ(requestState(*share.request), "open");
    EXPECT_EQ(share.controller->preparationState(), State::published);
    share.controller->cancelShare();
    EXPECT_EQ(requestState(*share.request), kUserCancel);
    EXPECT_TRUE(checkBatch(share.onlyBatch()).verified());
  }
}

TEST(ShareLaunchTest, AnOpeningErrorIsShownBehindTheFixedPrefix) {
  ShareHarness share;
  share.start(Attachments{share.fileAttachment(share.file("a.txt"))});
  share.controller->viewDidAppear();
  const Error error("POSIX", ENOENT, "/opt/Movarix.app/Contents/MacOS/Movarix: manca");
  share.settle(error);
  const std::string prefix = "File preparati. Apri Movarix. ";
  ASSERT_EQ(prefix.size(), 30u);
  EXPECT_EQ(share.statuses.back(), prefix + error.message());
  EXPECT_EQ(requestState(*share.request), "open");
  EXPECT_EQ(share.controller->preparationState(), State::published);
  EXPECT_FALSE(share.controller->busy());
  share.controller->cancelShare();
  EXPECT_EQ(requestState(*share.request), kUserCancel);
  EXPECT_EQ(share.controller->preparationState(), State::published);
  EXPECT_TRUE(checkBatch(share.onlyBatch()).verified());
}

}  // namespace
}  // namespace quillop::testing
