// The real quillop-share in a temporary copy of the bundle tree and a temporary XDG_DATA_HOME,
// with the tests' own host; batches are checked on disk with the reader. Also the real Movarix
// stand-in's ticket and report.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "archive/archive_reader.h"
#include "e2e_support.h"
#include "linux/process_workspace.h"
#include "platform/url.h"
#include "store/batch_check.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

const std::string kInitial = "Preparazione dei file per Movarix\u2026";

class ShareE2eTest : public ::testing::Test {
 protected:
  ShareE2eTest() : extension(installBundle(temp.path())) { makeFolder(sources()); }

  Finished share(const std::vector<std::string>& arguments,
                 const std::function<void(pid_t, const std::string&)>& onErrLine = {},
                 const std::string& executable = "") {
    std::vector<std::string> argv{executable.empty() ? extension : executable};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return runProcess(argv, environment(), sources(), onErrLine);
  }
  std::map<std::string, std::string> environment() const {
    // Empty display variables: the terminal front end runs even on a desktop session.
    return {{"XDG_DATA_HOME", temp / "data"}, {"LC_ALL", "C.UTF-8"}, {"DISPLAY", ""},
            {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
  }
  std::string sources() const { return temp / "sources"; }
  std::string source(const std::string& relative, const std::string& contents = "dati") {
    const std::string path = sources() + "/" + relative;
    makeFolder(path.substr(0, path.find_last_of('/')));
    writeFile(path, contents);
    return path;
  }
  std::string inbox() const {
    return temp / "data/group-containers/K7QZ4MRX2P.ex.quillop.mac/quillop-share-inbox";
  }
  std::vector<std::string> batches() const { return listFolder(inbox()); }
  CheckedBatch onlyBatch() const {
    const std::vector<std::string> names = batches();
    EXPECT_EQ(names.size(), 1u);
    return names.empty() ? CheckedBatch{} : checkBatch(inbox() + "/" + names[0]);
  }
  std::string hostFolder() const { return temp / "Movarix.app/Contents/MacOS"; }
  // 100 files of 1 MiB: a share that takes long enough to be interrupted.
  std::vector<std::string> hundredFiles() {
    std::vector<std::string> files;
    for (int i = 0; i < 100; ++i) {
      std::string name = "f";  // not "f" + ...: GCC 12 warns wrongly (-Wrestrict) in release builds
      name += std::to_string(i) + ".bin";
      files.push_back(source(name, std::string(1 << 20, 'f')));
    }
    return files;
  }

  TempDir temp;
  std::string extension;
};

TEST_F(ShareE2eTest, SharesPathsAndFileUrisAndStartsTheHost) {
  const std::string letter = source("Lettera a Nicolò.txt", "Caro Nicolò,\n");
  source("perché.csv", "a;b\n1;2\n");
  source("Àncora/.nascosto", "h");
  source("Àncora/sub/x.txt", "x");
  makeFolder(sources() + "/Àncora/bozze");
  const std::string folderUri = Url::fromPath(sources() + "/Àncora").text();

  const Finished run = share({letter, "perché.csv", folderUri});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.errLines, (std::vector<std::string>{kInitial, "Preparati 1 di 3 file\u2026",
                                                    "Preparati 2 di 3 file\u2026",
                                                    "Preparati 3 di 3 file\u2026"}));
  const CheckedBatch batch = onlyBatch();
  ASSERT_TRUE(batch.verified()) << batch.problem.value_or("");
  EXPECT_EQ(batch.sources, (std::vector<std::string>{letter, sources() + "/perché.csv",
                                                     sources() + "/Àncora"}));
  ASSERT_EQ(batch.files.size(), 3u);
  EXPECT_EQ(batch.files[0].entry.name, "Lettera a Nicolò.txt");
  EXPECT_EQ(batch.files[0].entry.mime, "text/plain");
  EXPECT_EQ(batch.files[1].entry.mime, "text/csv");
  EXPECT_EQ(batch.files[2].entry.name, "Àncora");
  const ArchiveReader archive =
      ArchiveReader::open(inbox() + "/" + batch.id + "/" + batch.files[2].entry.id + ".bin");
  std::vector<std::string> members;
  for (const auto& member : archive.members()) members.push_back(member.path);
  EXPECT_EQ(members, (std::vector<std::string>{".nascosto", "bozze", "sub", "sub/x.txt"}));
  EXPECT_EQ(hostLog(hostFolder(), 1, 5).size(), 1u);
}

TEST_F(ShareE2eTest, ALinkCancelsAfterTheFailureAndLeavesNothing) {
  const Finished run = share({source("a.txt"), "https://example.com/b.txt"});
  EXPECT_EQ(run.status, 1);
  ASSERT_FALSE(run.errLines.empty());
  EXPECT_EQ(run.errLines.back(), "Condividi il file originale dal Finder, non un link.");
  EXPECT_TRUE(batches().empty());
  EXPECT_TRUE(hostLog(hostFolder()).empty());

  const Finished none = share({});
  EXPECT_EQ(none.status, 1);
  EXPECT_EQ(none.errLines, (std::vector<std::string>{kInitial, "Seleziona da 1 a 100 file."}));
}

TEST_F(ShareE2eTest, WithoutAnAppHostTheBatchStaysPublished) {
  const std::string upper = installBundle(temp / "upper", "Movarix.APP");
  const Finished run = share({source("a.txt")}, {}, upper);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.errLines.back(), "Apri Movarix per inviare i file preparati.");
  EXPECT_TRUE(onlyBatch().verified());
  EXPECT_TRUE(hostLog(temp / "upper/Movarix.APP/Contents/MacOS").empty());
}

TEST_F(ShareE2eTest, AnOpeningErrorFollowsTheFixedPrefix) {
  const std::string hostless = installBundle(temp / "hostless", "Movarix.app", false);
  const Finished run = share({source("a.txt")}, {}, hostless);
  EXPECT_EQ(run.status, 1);
  const std::string prefix = "File preparati. Apri Movarix. ";
  ASSERT_FALSE(run.errLines.empty());
  EXPECT_EQ(run.errLines.back().substr(0, prefix.size()), prefix);
  EXPECT_NE(run.errLines.back().find("/hostless/Movarix.app/Contents/MacOS/Movarix"),
            std::string::npos)
      << run.errLines.back();
  EXPECT_TRUE(onlyBatch().verified());
}

TEST_F(ShareE2eTest, SignalsPressAnnullaAndTheBatchIsRemovedButSigpipeIsIgnored) {
  const std::vector<std::string> files = hundredFiles();
  for (const auto& [signal, status] :
       {std::pair{SIGINT, 130}, {SIGTERM, 130}, {SIGHUP, 130}, {SIGPIPE, 0}}) {
    SCOPED_TRACE(signal);
    const Finished run = share(files, [&](pid_t pid, const std::string& line) {
      if (line == "Preparati 1 di 100 file\u2026") kill(pid, signal);
    });
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(batches().size(), status == 0 ? 1u : 0u);
    EXPECT_EQ(hostLog(hostFolder()).size(), status == 0 ? 1u : 0u);
  }
}

// A share that dies keeps its unpublished folder; the stand-in removes it once no share holds
// its lock, never while the share runs (here: stopped).
TEST_F(ShareE2eTest, TheStandInRemovesTheBatchOfAShareThatDied) {
  std::string whileRunning;
  const Finished run = share(hundredFiles(), [&](pid_t pid, const std::string& line) {
    if (line != "Preparati 1 di 100 file\u2026") return;
    kill(pid, SIGSTOP);
    whileRunning = runProcess({QUILLOP_MOVARIX_EXE}, environment()).out;
    kill(pid, SIGKILL);
  });
  EXPECT_EQ(run.status, 128 + SIGKILL);
  EXPECT_NE(whileRunning.find("1 lotto in preparazione"), std::string::npos) << whileRunning;
  const std::vector<std::string> left = batches();
  ASSERT_EQ(left.size(), 1u);
  const Finished report = runProcess({QUILLOP_MOVARIX_EXE}, environment());
  EXPECT_NE(report.out.find("Lotto " + left[0] + ": preparazione interrotta, tolto dalla coda"),
            std::string::npos)
      << report.out;
  EXPECT_TRUE(batches().empty());
}

// Standard descriptors closed at start must not end up as the share's own signal pipe.
TEST_F(ShareE2eTest, ClosedStandardDescriptorsAreNoCancellation) {
  const Finished run =
      runProcess({"/bin/sh", "-c", "exec \"$0\" \"$@\" <&- >&- 2>&-", extension, source("a.txt")},
                 environment(), sources());
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(onlyBatch().verified());
}

TEST_F(ShareE2eTest, OptionsAndTheEndOfOptions) {
  const Finished help = share({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Uso: quillop-share", 0), 0u);
  const Finished version = share({"--version"});
  EXPECT_EQ(version.out, "quillop-share 0.1.0\n");
  EXPECT_EQ(share({"--nessuna"}).status, 2);
  EXPECT_EQ(share({""}).status, 2);  // not the current folder
  EXPECT_EQ(share({"--", ""}).status, 2);
  EXPECT_TRUE(batches().empty());

  source("-trattino.txt");
  const Finished dash = share({"--terminal", "--", "-trattino.txt"});
  EXPECT_EQ(dash.status, 0);
  EXPECT_EQ(onlyBatch().files.at(0).entry.name, "-trattino.txt");
}

TEST_F(ShareE2eTest, TheStandInHandsOverItsTicketAndReportsEveryBatch) {
  const std::vector<std::string> movarix{QUILLOP_MOVARIX_EXE, "--ticket", "T-42"};
  EXPECT_EQ(runProcess(movarix, environment()).status, 0);
  ASSERT_EQ(share({source("a.txt", "ciao")}).status, 0);
  const CheckedBatch batch = onlyBatch();
  EXPECT_EQ(batch.ticket, "T-42");

  const Finished report = runProcess({QUILLOP_MOVARIX_EXE}, environment());
  EXPECT_EQ(report.status, 0);
  EXPECT_NE(report.out.find("Lotto " + batch.id + ": 1 file, ticket \"T-42\": verificato"),
            std::string::npos)
      << report.out;
  EXPECT_NE(report.out.find("a.txt (4 byte, text/plain)"), std::string::npos) << report.out;

  // A damaged batch is reported, and so is the failure in the exit status; --take removes only
  // what verifies. A hostile name reaches the terminal without its control characters.
  ASSERT_EQ(share({source("b.txt")}).status, 0);  // a second batch, which verifies
  writeFile(inbox() + "/" + batch.id + "/" + batch.files.at(0).entry.id + ".bin", "ciao!");
  const std::string hostile =
      "\x1b]0;x\x07\xc2\x9b"
      "2J";
  makeFolder(inbox() + "/" + hostile);
  writeFile(inbox() + "/" + hostile + "/manifest.json", "{}");
  const Finished broken = runProcess({QUILLOP_MOVARIX_EXE, "--take"}, environment());
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.out.find("Lotto " + batch.id + ": NON VALIDO"), std::string::npos);
  EXPECT_NE(broken.out.find("Lotto ?]0;x??2J: NON VALIDO"), std::string::npos) << broken.out;
  EXPECT_EQ(batches(), (std::vector<std::string>{hostile, batch.id}));
}

// The README's main job: the sample selection shared from the build tree, then the report.
TEST(ShareSampleScriptTest, SharesTheSamplesAndReportsTheVerifiedBatch) {
  TempDir data;
  const Finished run = runProcess(
      {"/bin/bash", QUILLOP_SOURCE_DIR "/scripts/share-sample.sh", QUILLOP_BUILD_DIR},
      {{"XDG_DATA_HOME", data.path()}});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find(": 4 file, ticket \"campione-"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Progetto \u00c0ncora ("), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("5 voci verificate"), std::string::npos) << run.out;
  EXPECT_EQ(run.errLines.back(), "Preparati 4 di 4 file\u2026");
  // The share started the build tree's stand-in; let it finish before its data folder goes.
  ProcessWorkspace processes;
  const std::string movarix = QUILLOP_BUILD_DIR "/Movarix.app/Contents/MacOS/Movarix";
  for (int i = 0; i < 500 && !processes.runningInstances(movarix).empty(); ++i) {
    usleep(10000);
  }
}

}  // namespace
}  // namespace quillop::testing
