#include "share/share_preparation.h"

#include <gtest/gtest.h>

#include <thread>

#include "store/share_store.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop {
namespace {

using namespace quillop::testing;

// '1': published, with the batch id; '0': refused as cancelled; 'E': the store's own EIO.
char publish(SharePreparation& preparation, ShareStore& store) {
  try {
    return preparation.publish(store) == store.id() ? '1' : '?';
  } catch (const Error& error) {
    return error.isCancellation() ? '0' : error.isPosix(EIO) ? 'E' : '?';
  }
}

// Steps: b(egin) and c(ancel), 1 when they moved the state and 0 when not; p(ublish), as above;
// f: the store's next publication fails. Then the state: r(eady), o (copying), x (cancelled),
// p(ublished). The store ends published exactly when the preparation does.
TEST(Preparation, Transitions) {
  const std::pair<std::string, std::string> rows[] = {
      {"p", "0r"},         {"bbccb", "10100x"}, {"cbp", "100x"},
      {"bpbpc", "11000p"}, {"bfpcp", "1E10x"},  {"bfpp", "1E1p"},
  };
  TempDir temp;
  writeFile(temp / "item", "data");
  for (const auto& [steps, expected] : rows) {
    FaultFileSystem fs;
    ShareStore store(temp / "inbox", fs);
    store.append(Url::fromPath(temp / "item"), "item", std::nullopt);
    SharePreparation preparation;
    std::string seen;
    for (const char step : steps) {
      if (step == 'b') seen += preparation.begin() ? '1' : '0';
      if (step == 'c') seen += preparation.cancel() ? '1' : '0';
      if (step == 'p') seen += publish(preparation, store);
      if (step == 'f') fs.inject({Op::rename, "manifest.json", EIO, 1, true});
    }
    seen += "roxp"[static_cast<int>(preparation.state())];
    EXPECT_EQ(seen, expected) << steps;
    EXPECT_EQ(preparation.isCancelled(), seen.back() == 'x') << steps;
    EXPECT_EQ(store.finished(), seen.back() == 'p') << steps;
  }
}

// "Annulla" races the publication, each starting first in turn: every round ends either
// published with a manifest or cancelled without one, never both.
TEST(Preparation, CancelRacingPublishNeverEndsBoth) {
  TempDir temp;
  writeFile(temp / "item", "data");
  for (int round = 0; round < 200; ++round) {
    ShareStore store(temp / ("inbox" + std::to_string(round)));
    store.append(Url::fromPath(temp / "item"), "item", std::nullopt);
    SharePreparation shared;
    shared.begin();
    std::atomic<int> wins{0};
    const auto go = [&](bool c) { wins += c ? shared.cancel() : publish(shared, store) == '1'; };
    std::jthread(go, round % 2 == 0), std::jthread(go, round % 2 == 1);  // both run, then join
    EXPECT_EQ(wins, 1) << round;
    EXPECT_EQ(exists(store.batchFolder() + "/manifest.json"), !shared.isCancelled()) << round;
  }
}

}  // namespace
}  // namespace quillop
