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

const std::string kInitial = "Preparazione dei file per Movarix\u2026";

class ShareE2eTest : public ::testing::Test {
 protected:
  ShareE2eTest() { makeFolder(temp / "src"); }

  ChildResult run(std::vector<std::string> argv, ChildOptions options = {},
                  const std::string& data = "data") {
    options.env = shareEnvironment(temp / data);
    options.directory = temp / "src";
    return runChild(argv, options);
  }
  ChildResult share(std::vector<std::string> arguments, ChildOptions options = {},
                    const std::string& data = "data") {
    arguments.insert(arguments.begin(), extension);
    return run(arguments, options, data);
  }
  std::string source(const std::string& relative, const std::string& contents = "dati") {
    const std::string path = temp / ("src/" + relative);
    makeFolder(path.substr(0, path.rfind('/')));
    writeFile(path, contents);
    return path;
  }
  std::vector<std::string> batches(const std::string& data = "data") const {
    return listFolder(inboxIn(temp / data));
  }
  CheckedBatch onlyBatch(const std::string& data = "data") const {
    const std::vector<std::string> names = batches(data);
    EXPECT_EQ(names.size(), 1u);
    return names.empty() ? CheckedBatch{} : checkBatch(inboxIn(temp / data) + "/" + names[0]);
  }
  std::vector<std::string> hostLines(size_t atLeast = 0) const {
    return hostLog(temp / "Movarix.app/Contents/MacOS", atLeast, atLeast ? 5 : 0);
  }
  // 100 files of 64 KiB: a share that runs long enough to be interrupted.
  std::vector<std::string> hundredFiles() {
    std::vector<std::string> files;
    for (int i = 0; i < 100; ++i)
      files.push_back(source(std::to_string(i), std::string(1 << 16, 'f')));
    return files;
  }

  TempDir temp;
  const std::string extension = installBundle(temp.path());
  const std::string movarix = QUILLOP_MOVARIX_EXE;
};

// Every argument form that shares nothing: exit status, a fragment of what is printed, no batch
// and no host started.
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
      {{}, 1, "Seleziona da 1 a 100 file."},
      {{a, "https://example.com/b.txt"}, 1, "Condividi il file originale dal Finder, non un link."},
      {{"file://altro" + a}, 1, "Condividi il file originale dal Finder, non un link."},
      {{"file://" + a + "%00"}, 1, "File non disponibile."},
  };
  int n = 0;
  for (const auto& [arguments, status, printed] : rows) {
    SCOPED_TRACE(arguments.empty() ? "(none)" : arguments.back());
    const std::string data = "data" + std::to_string(++n);
    const ChildResult result = share(arguments, {.mergeErr = true}, data);
    EXPECT_EQ(result.status, status);
    EXPECT_NE(result.out.find(printed), std::string::npos) << result.out;
    EXPECT_TRUE(batches(data).empty());
  }
  EXPECT_TRUE(hostLines().empty());
}

// Paths (absolute, relative, after "--" with a dash) and file URIs (encoded, with a raw space,
// upper-case with localhost) to files and a folder: one batch in order, checked by the stand-in,
// which also hands over its ticket and later refuses what was damaged.
TEST_F(ShareE2eTest, SharesEveryFormOfFileAndFolderAndTheStandInVerifiesIt) {
  const std::string letter = source("Lettera a Nicolò.txt", "Caro Nicolò,\n");
  const std::vector<std::string> paths{letter,
                                       source("perché.csv", "a;b\n"),
                                       source("con spazio.JPG"),
                                       source("Àncora/.nascosto"),
                                       source("b.txt"),
                                       source("-trattino.txt")};
  source("Àncora/sub/x.txt");
  makeFolder(temp / "src/Àncora/bozze");
  ASSERT_EQ(
      runChild({movarix, "--ticket", "T-42"}, {.env = shareEnvironment(temp / "data")}).status, 0);

  const ChildResult shared = share({"--terminal", letter, "perché.csv", "file://" + paths[2],
                                    Url::fromPath(temp / "src/Àncora").text(),
                                    "FILE://LOCALHOST" + paths[4], "--", "-trattino.txt"});
  EXPECT_EQ(shared.status, 0);
  std::vector<std::string> expected{kInitial};
  for (int i = 1; i <= 6; ++i)
    expected.push_back("Preparati " + std::to_string(i) + " di 6 file\u2026");
  EXPECT_EQ(shared.errLines, expected);
  EXPECT_EQ(hostLines(1).size(), 1u);
  const CheckedBatch batch = onlyBatch();
  ASSERT_TRUE(batch.verified()) << batch.problem.value_or("");
  EXPECT_EQ(batch.ticket, "T-42");
  EXPECT_EQ(batch.sources, (std::vector<std::string>{letter, paths[1], paths[2],
                                                     temp / "src/Àncora", paths[4], paths[5]}));
  ASSERT_EQ(batch.files.size(), 6u);
  const std::vector<std::string> mimes{"text/plain", "text/csv", "image/jpeg"};
  for (size_t i = 0; i < mimes.size(); ++i) EXPECT_EQ(batch.files[i].entry.mime, mimes[i]);
  EXPECT_EQ(batch.files[0].entry.name, "Lettera a Nicolò.txt");
  EXPECT_EQ(batch.files[5].entry.name, "-trattino.txt");
  const ArchiveReader folder = ArchiveReader::open(inboxIn(temp / "data") + "/" + batch.id + "/" +
                                                   batch.files[3].entry.id + ".bin");
  std::vector<std::string> members;
  for (const auto& member : folder.members()) members.push_back(member.path);
  EXPECT_EQ(members, (std::vector<std::string>{".nascosto", "bozze", "sub", "sub/x.txt"}));
  const ChildResult report = run({movarix});
  EXPECT_EQ(report.status, 0);
  EXPECT_NE(report.out.find("Lotto " + batch.id + ": 6 file, ticket \"T-42\": verificato"),
            std::string::npos)
      << report.out;
  EXPECT_NE(report.out.find("Lettera a Nicolò.txt (14 byte, text/plain)"), std::string::npos)
      << report.out;

  // A damaged batch and a hostile folder name are refused in the exit status; --take removes only
  // what verifies, and a name reaches the terminal without its control characters.
  ASSERT_EQ(share({letter}).status, 0);
  writeFile(inboxIn(temp / "data") + "/" + batch.id + "/" + batch.files[0].entry.id + ".bin", "x");
  const std::string hostile =
      "\x1b]0;x\x07\xc2\x9b"
      "2J";
  makeFolder(inboxIn(temp / "data") + "/" + hostile);
  writeFile(inboxIn(temp / "data") + "/" + hostile + "/manifest.json", "{}");
  const ChildResult taken = run({movarix, "--take"});
  EXPECT_EQ(taken.status, 1);
  EXPECT_NE(taken.out.find("Lotto " + batch.id + ": NON VALIDO"), std::string::npos);
  EXPECT_NE(taken.out.find("Lotto ?]0;x??2J: NON VALIDO"), std::string::npos) << taken.out;
  EXPECT_EQ(batches(), (std::vector<std::string>{hostile, batch.id}));
}

// The batch is published before the host is opened: when the opening fails, it stays.
TEST_F(ShareE2eTest, AHostThatCannotBeOpenedLeavesThePublishedBatch) {
  const struct {
    std::string hostName;
    bool withHost;
    std::string message;
  } rows[] = {
      {"Movarix.APP", true, "Apri Movarix per inviare i file preparati."},
      {"Movarix.app", false, "File preparati. Apri Movarix. "},
  };
  for (const auto& [hostName, withHost, message] : rows) {
    SCOPED_TRACE(hostName);
    TempDir root;
    const std::string data = "data " + hostName + std::to_string(withHost);
    const ChildResult result =
        run({installBundle(root.path(), hostName, withHost), source("a.txt")}, {}, data);
    EXPECT_EQ(result.status, 1);
    ASSERT_FALSE(result.errLines.empty());
    EXPECT_EQ(result.errLines.back().rfind(message, 0), 0u) << result.errLines.back();
    EXPECT_TRUE(onlyBatch(data).verified());
    EXPECT_TRUE(hostLog(root / (hostName + "/Contents/MacOS")).empty());
  }
}

// Standard descriptors closed at start must not end up as the share's own signal pipe.
TEST_F(ShareE2eTest, ClosedStandardDescriptorsAreNoCancellation) {
  const ChildResult result =
      run({"/bin/sh", "-c", "exec \"$0\" \"$@\" <&- >&- 2>&-", extension, source("a.txt")});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(onlyBatch().verified());
}

TEST_F(ShareE2eTest, SignalsPressAnnullaAndTheBatchIsRemovedButSigpipeIsIgnored) {
  const std::vector<std::string> files = hundredFiles();
  for (const auto& [signal, status] :
       {std::pair{SIGINT, 130}, {SIGTERM, 130}, {SIGHUP, 130}, {SIGPIPE, 0}}) {
    SCOPED_TRACE(signal);
    const ChildResult result = share(files, {.onErrLine = [&](pid_t pid, const std::string& line) {
                                       if (line == "Preparati 1 di 100 file\u2026")
                                         kill(pid, signal);
                                     }});
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(batches().size(), status == 0 ? 1u : 0u);
    EXPECT_EQ(hostLines().size(), status == 0 ? 1u : 0u);
  }
}

// A share that dies keeps its unpublished folder; the stand-in removes it once no share holds
// its lock, never while the share runs (here: stopped).
TEST_F(ShareE2eTest, TheStandInRemovesTheBatchOfAShareThatDied) {
  std::string whileRunning;
  const ChildResult result =
      share(hundredFiles(), {.onErrLine = [&](pid_t pid, const std::string& line) {
              if (line != "Preparati 1 di 100 file\u2026") return;
              kill(pid, SIGSTOP);
              whileRunning = run({movarix}).out;
              kill(pid, SIGKILL);
            }});
  EXPECT_EQ(result.status, 128 + SIGKILL);
  EXPECT_NE(whileRunning.find("1 lotto in preparazione"), std::string::npos) << whileRunning;
  const std::vector<std::string> left = batches();
  ASSERT_EQ(left.size(), 1u);
  const std::string report = run({movarix}).out;
  EXPECT_NE(report.find("Lotto " + left[0] + ": preparazione interrotta, tolto dalla coda"),
            std::string::npos)
      << report;
  EXPECT_TRUE(batches().empty());
}

// The README's main job: the sample selection shared from the build tree, then the report.
TEST(ShareSampleScriptTest, SharesTheSamplesAndReportsTheVerifiedBatch) {
  TempDir data;
  const ChildResult result =
      runChild({"/bin/bash", QUILLOP_SOURCE_DIR "/scripts/share-sample.sh", QUILLOP_BUILD_DIR},
               {.env = {{"XDG_DATA_HOME", data.path()}}});
  EXPECT_EQ(result.status, 0) << result.out;
  for (const char* line :
       {": 4 file, ticket \"campione-", "Progetto \u00c0ncora (", "5 voci verificate"})
    EXPECT_NE(result.out.find(line), std::string::npos) << result.out;
  // The share started the build tree's stand-in; let it finish before its data folder goes.
  const std::string host = QUILLOP_BUILD_DIR "/Movarix.app/Contents/MacOS/Movarix";
  for (int i = 0; i < 500 && !ProcessWorkspace().runningInstances(host).empty(); ++i) usleep(10000);
}

}  // namespace
}  // namespace quillop::testing
