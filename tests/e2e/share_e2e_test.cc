// The real quillop-share in a temporary copy of the bundle tree and a temporary XDG_DATA_HOME,
// with the tests' own host; batches are checked on disk, and by the real Movarix stand-in. It
// picks its front end from the environment: a window on Qt's offscreen platform when no
// --terminal is given, the terminal when there is no display that opens.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "e2e_support.h"
#include "platform/url.h"
#include "store/batch_check.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

class ShareE2eTest : public ::testing::Test {
 protected:
  // Runs argv in "<temp>/src" with the data folder "<temp>/data" and no display, unless
  // `options.env` says otherwise.
  ChildResult run(std::vector<std::string> argv, ChildOptions options = {}) {
    options.env.merge(shareEnvironment(temp / "data"));
    options.directory = temp / "src";
    return runChild(argv, options);
  }
  std::string source(const std::string& relative, size_t size = 4) {
    const std::string path = temp / ("src/" + relative);
    makeFolder(path.substr(0, path.rfind('/')));
    writeFile(path, std::string(size, 'd'));
    return path;
  }
  std::vector<std::string> batches() const { return listFolder(inbox); }
  std::vector<std::string> hostLines(size_t atLeast = 0) const {
    return hostLog(temp / "Movarix.app/Contents/MacOS", atLeast, 5);
  }

  TempDir temp;
  const std::string extension = installBundle(temp.path());
  const std::string movarix = QUILLOP_MOVARIX_EXE;
  const std::string inbox = inboxIn(temp / "data");
};

// Every argument form that shares nothing: exit status, what is printed, no batch, no host.
TEST_F(ShareE2eTest, ArgumentFormsThatShareNothing) {
  const std::string a = source("a.txt"), latin1 = source("caf\xe9/a.txt");
  const std::tuple<std::vector<std::string>, int, std::string> rows[] = {
      {{"--nessuna", a}, 2, "opzione sconosciuta: --nessuna\n"},
      {{""}, 2, "argomento vuoto"},  // not the current folder
      {{"--", a, ""}, 2, "argomento vuoto"},
      {{}, 1, "Preparazione dei file per Movarix\u2026\nSeleziona da 1 a 100 file.\n"},
      {{a, "https://example.com/b.txt"}, 1, "dal Finder, non un link.\n"},
      {{"file://altro" + a}, 1, "dal Finder, non un link.\n"},
      {{"file:a b.txt"}, 1, "dal Finder, non un link.\n"},  // a scheme, a raw space, no path
      {{"file://" + a + "%00"}, 1, "File non disponibile.\n"},
      {{"manca\x1b\xc2\x9b/a.txt"}, 1, "manca?\?/a.txt: No such file or directory\n"},  // C0, C1
      {{latin1}, 1, "Preparazione dei file per Movarix\u2026\nFile condiviso non valido.\n"},
  };
  for (auto [argv, status, printed] : rows) {
    argv.insert(argv.begin(), extension);
    const ChildResult result = run(argv, {.mergeErr = true});
    EXPECT_EQ(result.status, status) << printed;
    EXPECT_NE(result.out.find(printed), std::string::npos) << result.out;
  }
  EXPECT_TRUE(batches().empty());
  EXPECT_TRUE(hostLines().empty());
}

// Paths (relative through a link and "..", a dash after "--") and file URIs (encoded, with a
// final slash, a raw space and a literal "%20", upper case with localhost) to files and a
// folder: one batch in order, recording the files the kernel opens, which the stand-in verifies
// with the ticket it handed over, and later refuses once damaged.
TEST_F(ShareE2eTest, EveryFormOfFileAndFolderMakesOneBatchTheStandInVerifies) {
  const std::vector<std::string> paths{
      source("Lettera a Nicolò.txt"), source("vero/perché.csv"), source("con spazio%20.JPG"),
      source("Àncora/.nascosto"),     source("b.txt"),           source("-trattino.txt")};
  source("Àncora/sub/x.txt"), makeFolder(temp / "src/Àncora/bozze"), source("vero/sub/y");
  ASSERT_EQ(symlink("vero/sub", (temp / "src/giù").c_str()), 0);  // "giù/.." is "vero"
  ASSERT_EQ(run({movarix, "--ticket", "T-42"}).status, 0);
  const ChildResult shared =
      run({extension, "--terminal", Url::fromPath(paths[0]).text(), "./giù/../perché.csv",
           "file://" + paths[2], Url::fromPath(temp / "src/Àncora").text() + "/",
           "FILE://LOCALHOST" + paths[4], "--", "-trattino.txt"});
  EXPECT_EQ(shared.status, 0);
  EXPECT_EQ(shared.errLines.back(), "Preparati 6 di 6 file\u2026");
  const CheckedBatch batch = checkBatch(inbox + "/" + batches().at(0));
  ASSERT_TRUE(batch.verified()) << batch.problem.value_or("");
  EXPECT_EQ(batch.sources, (std::vector<std::string>{paths[0], paths[1], paths[2],
                                                     temp / "src/Àncora", paths[4], paths[5]}));
  const ChildResult report = run({movarix});
  EXPECT_EQ(report.status, 0);
  for (const std::string& line :
       {"Lotto " + batch.id + ": 6 file, ticket \"T-42\": verificato",
        std::string("perché.csv (4 byte, text/csv)"), std::string("JPG (4 byte, image/jpeg)"),
        std::string(", 4 voci verificate")})  // a hidden file and an empty folder too
    EXPECT_NE(report.out.find(line), std::string::npos) << report.out;

  // A host still running is brought to the front, not started again.
  const std::string host = temp / "Movarix.app/Contents/MacOS/Movarix";
  const pid_t running = startChild({host, "--stay"});
  ASSERT_EQ(hostLines(2).size(), 2u);               // the first share's host, and this one
  ASSERT_EQ(run({extension, paths[4]}).status, 0);  // a second batch, which verifies
  EXPECT_EQ(hostLines(3).back(), "activated " + std::to_string(running));
  kill(running, SIGTERM);
  EXPECT_EQ(waitChild(running), 0);

  // --take removes only what verifies; a hostile name reaches the terminal made printable.
  writeFile(inbox + "/" + batch.id + "/" + batch.files[0].entry.id + ".bin", "x");
  makeFolder(inbox + "/\x1b]0;x\x07\xc2\x9b" + "2J");
  writeFile(inbox + "/\x1b]0;x\x07\xc2\x9b" + "2J/manifest.json", "{}");
  const ChildResult taken = run({movarix, "--take"});
  EXPECT_EQ(taken.status, 1);
  EXPECT_NE(taken.out.find("Lotto " + batch.id + ": NON VALIDO"), std::string::npos);
  EXPECT_NE(taken.out.find("Lotto ?]0;x??2J: NON VALIDO"), std::string::npos) << taken.out;
  EXPECT_EQ(batches().size(), 2u);

  // A host that cannot be started: the batch stays, and the share says how to send it.
  ASSERT_EQ(chmod(host.c_str(), 0644), 0);
  const ChildResult unopened = run({extension, paths[4]});
  EXPECT_EQ(unopened.status, 1);
  EXPECT_TRUE(unopened.errLines.back().starts_with("File preparati. Apri Movarix. "))
      << unopened.out;
  EXPECT_EQ(batches().size(), 3u);
}

// Signals press "Annulla" and the batch goes; SIGPIPE is ignored, and so is a signal ignored on
// entry (nohup, a background job). A share that dies keeps its unpublished folder; the stand-in
// removes it once no share holds its lock, never while the share runs (here: stopped).
TEST_F(ShareE2eTest, SignalsDuringAShare) {
  std::vector<std::string> files{extension};  // 100 files: long enough to be interrupted
  for (int i = 0; i < 100; ++i) files.push_back(source(std::to_string(i), 1 << 16));
  std::string whileStopped;
  // clang-format off
  for (const auto& [signal, ignored, status, left] :  // ignored on entry; batches left
       {std::tuple{SIGINT, "", 130, 0u}, {SIGTERM, "", 130, 0u}, {SIGHUP, "", 130, 0u},
        {SIGPIPE, "", 0, 1u}, {SIGHUP, "trap '' HUP;", 0, 2u}, {SIGINT, "trap '' INT;", 0, 3u},
        {SIGKILL, "", 137, 4u}}) {
    std::vector<std::string> argv = files;
    if (*ignored) argv.insert(argv.begin(), {"/bin/sh", "-c", ignored + std::string(" exec \"$0\" \"$@\"")});
    const ChildResult result = run(argv, {.onErrLine = [&](pid_t pid, const std::string& line) {
      if (line != "Preparati 1 di 100 file\u2026") return;
      if (signal == SIGKILL) kill(pid, SIGSTOP), whileStopped = run({movarix}).out;  // then dies
      kill(pid, signal);
    }});
    // clang-format on
    EXPECT_EQ(result.status, status) << signal << ignored;
    EXPECT_EQ(batches().size(), left) << signal << ignored;
    // Only the published shares opened the host, which may still be starting.
    const size_t published = left - (signal == SIGKILL);
    EXPECT_EQ(hostLines(published).size(), published) << signal << ignored;
  }
  EXPECT_NE(whileStopped.find("1 lotto in preparazione"), std::string::npos) << whileStopped;
  EXPECT_NE(run({movarix}).out.find(": preparazione interrotta, tolto dalla"), std::string::npos);
  EXPECT_EQ(batches().size(), 3u);
}

// A window when a display opens, else the terminal: the first line is printed only there. With
// its standard descriptors closed at start (none becomes its signal pipe) a share completes.
TEST_F(ShareE2eTest, AWindowWhenADisplayOpensElseTheTerminal) {
  // The environment, --terminal given, a window expected. No server listens on :97.
  const std::tuple<EnvChanges, bool, bool> rows[] = {
      {{{"QT_QPA_PLATFORM", "offscreen"}}, false, true},
      {{{"QT_QPA_PLATFORM", "offscreen"}}, true, false},
      {{{"DISPLAY", ":97"}}, false, false},
      {{{"DISPLAY", ":97"}, {"QT_QPA_PLATFORM", "xcb"}}, false, false},
      {{{"QT_QPA_PLATFORM", "nessuna"}}, false, false},
  };
  size_t n = 0;
  for (const auto& [env, terminal, window] : rows) {
    SCOPED_TRACE(++n);
    std::vector<std::string> argv{extension, source("nota.txt")};
    if (terminal) argv.insert(argv.begin() + 1, "--terminal");
    const ChildResult result = run(argv, {.env = env});
    EXPECT_EQ(result.status, 0);
    const std::string first = "Preparazione dei file per Movarix\u2026";
    EXPECT_EQ(std::ranges::count(result.errLines, first), !window);
  }  // status 0: published and the host opened
  EXPECT_EQ(
      run({"/bin/sh", "-c", "exec \"$0\" \"$@\" <&- >&- 2>&-", extension, source("a")}).status, 0);
}

}  // namespace
}  // namespace quillop::testing
