// The real quillop-share in a temporary copy of the bundle tree and a temporary XDG_DATA_HOME,
// with the tests' own host; batches are checked on disk, and by the real Movarix stand-in.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "archive/archive_reader.h"
#include "e2e_support.h"
#include "linux/process_workspace.h"
#include "platform/url.h"
#include "store/batch_check.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

class ShareE2eTest : public ::testing::Test {
 protected:
  // Runs argv in "<temp>/src" with the data folder "<temp>/<data>".
  ChildResult run(std::vector<std::string> argv, ChildOptions options = {},
                  const std::string& data = "data") {
    options.env = shareEnvironment(temp / data);
    options.directory = temp / "src";
    return runChild(argv, options);
  }
  std::string source(const std::string& relative, size_t size = 4) {
    const std::string path = temp / ("src/" + relative);
    makeFolder(path.substr(0, path.rfind('/')));
    writeFile(path, std::string(size, 'd'));
    return path;
  }
  std::vector<std::string> batches(const std::string& data = "data") const {
    return listFolder(inboxIn(temp / data));
  }
  std::vector<std::string> hostLines(size_t atLeast = 0) const {
    return hostLog(temp / "Movarix.app/Contents/MacOS", atLeast, 5);
  }
  // 100 files: a share that runs long enough to be interrupted.
  std::vector<std::string> hundredFiles() {
    std::vector<std::string> files{extension};
    for (int i = 0; i < 100; ++i) files.push_back(source(std::to_string(i), 1 << 16));
    return files;
  }

  TempDir temp;
  const std::string extension = installBundle(temp.path());
  const std::string movarix = QUILLOP_MOVARIX_EXE;
};

// Every argument form that shares nothing: exit status, what is printed, no batch, no host.
TEST_F(ShareE2eTest, ArgumentFormsThatShareNothing) {
  const std::string a = source("a.txt");
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string printed;
  } rows[] = {
      {{"--help"}, 0, "Uso: quillop-share [--terminal] [--] FILE...\n"},
      {{"--version"}, 0, "quillop-share 0.1.0\n"},
      {{"--nessuna", a}, 2, "opzione sconosciuta: --nessuna\n"},
      {{""}, 2, "argomento vuoto"},  // not the current folder
      {{"--", a, ""}, 2, "argomento vuoto"},
      {{}, 1, "Preparazione dei file per Movarix\u2026\nSeleziona da 1 a 100 file.\n"},
      {{a, "https://example.com/b.txt"}, 1, "dal Finder, non un link.\n"},
      {{"file://altro" + a}, 1, "dal Finder, non un link.\n"},
      {{"file://" + a + "%00"}, 1, "File non disponibile.\n"},
  };
  for (size_t n = 0; n < std::size(rows); ++n) {
    std::vector<std::string> argv = rows[n].arguments;
    argv.insert(argv.begin(), extension);
    const ChildResult result = run(argv, {.mergeErr = true}, std::to_string(n));
    EXPECT_EQ(result.status, rows[n].status) << n;
    EXPECT_NE(result.out.find(rows[n].printed), std::string::npos) << n << result.out;
    EXPECT_TRUE(batches(std::to_string(n)).empty()) << n;
  }
  EXPECT_TRUE(hostLines().empty());
}

// Paths (absolute, relative, a dash after "--") and file URIs (encoded, a raw space, upper case
// with localhost) to files and a folder: one batch in order, which the stand-in verifies with
// the ticket it handed over, and later refuses once damaged.
TEST_F(ShareE2eTest, EveryFormOfFileAndFolderMakesOneBatchTheStandInVerifies) {
  const std::vector<std::string> paths{
      source("Lettera a Nicolò.txt"), source("perché.csv"), source("con spazio.JPG"),
      source("Àncora/.nascosto"),     source("b.txt"),      source("-trattino.txt")};
  source("Àncora/sub/x.txt");
  makeFolder(temp / "src/Àncora/bozze");
  ASSERT_EQ(run({movarix, "--ticket", "T-42"}).status, 0);
  const ChildResult shared = run({extension, "--terminal", paths[0], "perché.csv",
                                  "file://" + paths[2], Url::fromPath(temp / "src/Àncora").text(),
                                  "FILE://LOCALHOST" + paths[4], "--", "-trattino.txt"});
  EXPECT_EQ(shared.status, 0);
  ASSERT_EQ(shared.errLines.size(), 7u);
  EXPECT_EQ(shared.errLines[0], "Preparazione dei file per Movarix\u2026");
  EXPECT_EQ(shared.errLines[6], "Preparati 6 di 6 file\u2026");
  EXPECT_EQ(hostLines(1).size(), 1u);
  const std::string inbox = inboxIn(temp / "data");
  const CheckedBatch batch = checkBatch(inbox + "/" + batches().at(0));
  ASSERT_TRUE(batch.verified()) << batch.problem.value_or("");
  EXPECT_EQ(batch.sources, (std::vector<std::string>{paths[0], paths[1], paths[2],
                                                     temp / "src/Àncora", paths[4], paths[5]}));
  EXPECT_EQ(batch.files.at(2).entry.mime, "image/jpeg");
  const ArchiveReader folder =
      ArchiveReader::open(inbox + "/" + batch.id + "/" + batch.files.at(3).entry.id + ".bin");
  std::vector<std::string> members;
  for (const auto& member : folder.members()) members.push_back(member.path);
  EXPECT_EQ(members, (std::vector<std::string>{".nascosto", "bozze", "sub", "sub/x.txt"}));
  const ChildResult report = run({movarix});
  EXPECT_EQ(report.status, 0);
  for (const std::string& line : {"Lotto " + batch.id + ": 6 file, ticket \"T-42\": verificato",
                                  std::string("perché.csv (4 byte, text/csv)")})
    EXPECT_NE(report.out.find(line), std::string::npos) << report.out;

  // --take removes only what verifies; a hostile name reaches the terminal made printable.
  ASSERT_EQ(run({extension, paths[4]}).status, 0);  // a second batch, which verifies
  writeFile(inbox + "/" + batch.id + "/" + batch.files[0].entry.id + ".bin", "x");
  makeFolder(inbox + "/\x1b]0;x\x07\xc2\x9b" + "2J");
  writeFile(inbox + "/\x1b]0;x\x07\xc2\x9b" + "2J/manifest.json", "{}");
  const ChildResult taken = run({movarix, "--take"});
  EXPECT_EQ(taken.status, 1);
  EXPECT_NE(taken.out.find("Lotto " + batch.id + ": NON VALIDO"), std::string::npos);
  EXPECT_NE(taken.out.find("Lotto ?]0;x??2J: NON VALIDO"), std::string::npos) << taken.out;
  EXPECT_EQ(batches().size(), 2u);
}

// The batch is published before the host is opened: when the opening fails, it stays.
TEST_F(ShareE2eTest, AHostThatCannotBeOpenedLeavesThePublishedBatch) {
  for (const auto& [host, message] :
       {std::pair{"Movarix.APP", "Apri Movarix per inviare i file preparati."},
        {"Movarix.app", "File preparati. Apri Movarix. "}}) {
    const ChildResult result =
        run({installBundle(temp / host, host, host[8] == 'A'), source("a.txt")}, {}, host);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errLines.back().rfind(message, 0), 0u) << result.errLines.back();
    EXPECT_TRUE(checkBatch(inboxIn(temp / host) + "/" + batches(host).at(0)).verified());
    EXPECT_TRUE(hostLog(temp / (std::string(host) + "/" + host + "/Contents/MacOS")).empty());
  }
}

// Standard descriptors closed at start must not end up as the share's own signal pipe.
TEST_F(ShareE2eTest, ClosedStandardDescriptorsAreNoCancellation) {
  EXPECT_EQ(
      run({"/bin/sh", "-c", "exec \"$0\" \"$@\" <&- >&- 2>&-", extension, source("a")}).status, 0);
  EXPECT_EQ(batches().size(), 1u);
}

TEST_F(ShareE2eTest, SignalsPressAnnullaAndTheBatchIsRemovedButSigpipeIsIgnored) {
  const std::vector<std::string> argv = hundredFiles();
  for (const auto& [signal, status] :
       {std::pair{SIGINT, 130}, {SIGTERM, 130}, {SIGHUP, 130}, {SIGPIPE, 0}}) {
    const ChildResult result = run(argv, {.onErrLine = [&](pid_t pid, const std::string& line) {
                                     if (line == "Preparati 1 di 100 file\u2026") kill(pid, signal);
                                   }});
    EXPECT_EQ(result.status, status) << signal;
    EXPECT_EQ(batches().size(), status == 0 ? 1u : 0u) << signal;
    EXPECT_EQ(hostLines().size(), status == 0 ? 1u : 0u) << signal;
  }
}

// A share that dies keeps its unpublished folder; the stand-in removes it once no share holds
// its lock, never while the share runs (here: stopped).
TEST_F(ShareE2eTest, TheStandInRemovesTheBatchOfAShareThatDied) {
  std::string whileRunning;
  const ChildResult result =
      run(hundredFiles(), {.onErrLine = [&](pid_t pid, const std::string& line) {
            if (line != "Preparati 1 di 100 file\u2026") return;
            kill(pid, SIGSTOP);
            whileRunning = run({movarix}).out;
            kill(pid, SIGKILL);
          }});
  EXPECT_EQ(result.status, 128 + SIGKILL);
  EXPECT_NE(whileRunning.find("1 lotto in preparazione"), std::string::npos) << whileRunning;
  ASSERT_EQ(batches().size(), 1u);
  const std::string removed = "Lotto " + batches()[0] + ": preparazione interrotta, tolto dalla";
  EXPECT_NE(run({movarix}).out.find(removed), std::string::npos);
  EXPECT_TRUE(batches().empty());
}

// The README's main job: the sample selection shared from the build tree, then the report.
TEST(ShareSampleScriptTest, SharesTheSamplesAndReportsTheVerifiedBatch) {
  TempDir data;
  const ChildResult result =
      runChild({"/bin/bash", QUILLOP_SOURCE_DIR "/scripts/share-sample.sh", QUILLOP_BUILD_DIR},
               {.env = {{"XDG_DATA_HOME", data.path()}}});
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_NE(result.out.find("\u00c0ncora ("), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("5 voci verificate"), std::string::npos) << result.out;
  // The share started the build tree's stand-in; let it finish before its data folder goes.
  const std::string host = QUILLOP_BUILD_DIR "/Movarix.app/Contents/MacOS/Movarix";
  for (int i = 0; i < 500 && !ProcessWorkspace().runningInstances(host).empty(); ++i) usleep(10000);
}

}  // namespace
}  // namespace quillop::testing
