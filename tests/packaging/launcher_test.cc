// Installs into a temporary prefix (quotes, "$", "`", a space and an accent, as a home folder may
// have) and starts quillop-share through every installed file-manager action as its launcher
// does, on a selection whose paths hold spaces, accents, "%", URI-reserved marks and a line
// break. The installed host is the tests' own, which a share must find and start.
#include <gtest/gtest.h>

#include <algorithm>

#include "e2e_support.h"
#include "platform/url.h"
#include "store/batch_check.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

TEST(LauncherTest, EveryInstalledActionSharesTheSelection) {
  TempDir temp;
  const std::string home = temp / "casa \"di\" prova è, $HOME `x` l'altra";
  const std::string prefix = home + "/.local", share = prefix + "/share/";
  const ChildResult install = runChild(
      {QUILLOP_CMAKE, "--install", QUILLOP_BUILD_DIR, "--component", "movarix", "--prefix", prefix},
      {.env = {{"HOME", home}, {"XDG_DATA_HOME", std::nullopt}, {"DESTDIR", std::nullopt}},
       .mergeErr = true});
  ASSERT_EQ(install.status, 0) << install.out;
  installExecutable(QUILLOP_FAKE_HOST_EXE,
                    prefix + "/lib/movarix/Movarix.app/Contents/MacOS/Movarix");
  // KIO reads service menus in a home folder only when they are executable.
  EXPECT_EQ(permissions(share + "kio/servicemenus/ex.quillop.mac.share.desktop"), 0755u);
  const ChildResult valid =
      runChild({"desktop-file-validate", share + "applications/ex.quillop.mac.share.desktop",
                share + "kio/servicemenus/ex.quillop.mac.share.desktop",
                share + "Thunar/sendto/ex.quillop.mac.share.desktop"},
               {.mergeErr = true});
  EXPECT_EQ(std::to_string(valid.status) + valid.out, "0");  // not even a warning
  // What shows the action: hidden from application menus; for any file and folder in Dolphin
  // and Nemo.
  // clang-format off
  const std::pair<std::string, std::string> lines[] = {
      {"applications/ex.quillop.mac.share.desktop", "\nNoDisplay=true\n"},
      {"kio/servicemenus/ex.quillop.mac.share.desktop", "\nMimeType=application/octet-stream;inode/directory;\n"},
      {"nemo/actions/ex.quillop.mac.share.nemo_action", "\nSelection=notnone\nExtensions=any;\n"},
  };
  // clang-format on
  for (const auto& [file, line] : lines)
    EXPECT_NE(readFile(share + file).find(line), std::string::npos) << line;
  // That ours is never a type's opener (no MimeType, no field code) is the package test's: its
  // Exec line, and lintian's warning for a MimeType without one.

  const std::string parent = temp / "riga\nnuova è";
  std::vector<std::string> names{"con spazio.txt", "100% #1 & (x) [y].txt", "a%20b.txt",
                                 "cartella è"};
  std::vector<std::string> paths;
  std::string uris;
  makeFolder(parent + "/cartella è");
  writeFile(parent + "/a0b.txt", "not this one");
  for (const std::string& name : names) {
    paths.push_back(parent + "/" + name);
    writeFile(name == names.back() ? paths.back() + "/.nascosto" : paths.back(), "dati");
    uris += Url::fromPath(paths.back()).text() + "\n";
  }
  const std::string script = share + "nautilus/scripts/Invia con Movarix";
  names.insert(names.begin(), script);
  // An Exec line of (file, group) to start with `gio launch`, GLib's own launcher, or else the
  // Nautilus script's arguments and NAUTILUS_SCRIPT_SELECTED_URIS.
  using Uris = std::optional<std::string>;
  // clang-format off
  const std::tuple<std::string, std::string, std::vector<std::string>, Uris> rows[] = {
      {"file-manager/actions/ex.quillop.mac.share.desktop", "X-Action-Profile selection", {}, {}},
      {"kio/servicemenus/ex.quillop.mac.share.desktop", "Desktop Action inviaConMovarix", {}, {}},
      {"nemo/actions/ex.quillop.mac.share.nemo_action", "Nemo Action", {}, {}},
      {"Thunar/sendto/ex.quillop.mac.share.desktop", "Desktop Entry", {}, {}},
      {"", "", {script, "a0b.txt"}, uris},
      {"", "", names, std::nullopt},
  };
  // clang-format on
  size_t run = 0;
  for (const auto& [file, group, script, uris] : rows) {
    SCOPED_TRACE(file.empty() ? script.at(1) : file);
    std::vector<std::string> argv = script, sources = paths;
    if (!file.empty()) {
      const std::string text = readFile(share + file);
      const size_t exec = text.find("\nExec=", text.find("[" + group + "]"));
      EXPECT_NE(text.find("\nName=Invia con Movarix\n"), std::string::npos);
      writeFile(temp / "entry.desktop", "[Desktop Entry]\nType=Application\nName=x" +
                                            text.substr(exec, text.find('\n', exec + 1) - exec) +
                                            "\n");
      argv = {"gio", "launch", temp / "entry.desktop"};
      // Thunar launches the folders (the last path), then the files, side by side: one batch,
      // in the order the two processes come.
      if (file.starts_with("Thunar/")) {
        argv = {"sh", "-c", "gio launch \"$0\" \"$1\" & shift; gio launch \"$0\" \"$@\" && wait $!",
                temp / "entry.desktop", paths.back()};
        std::sort(sources.begin(), sources.end());
      }
      argv.insert(argv.end(), paths.begin(), paths.end() - (argv[0] == "sh"));
    }
    const std::string data = temp / ("data" + std::to_string(++run));
    EnvChanges env = shareEnvironment(data);
    env["HOME"] = home;
    env["NAUTILUS_SCRIPT_SELECTED_URIS"] = uris;
    const ChildResult result = runChild(argv, {.env = env, .directory = parent, .mergeErr = true});
    ASSERT_EQ(result.status, 0) << result.out;
    // gio returns once the share has started; the share starts the host once it has published.
    ASSERT_EQ(hostLog(prefix + "/lib/movarix/Movarix.app/Contents/MacOS", run, 60).size(), run);
    const std::vector<CheckedBatch> batches = checkInbox(inboxIn(data));
    ASSERT_EQ(batches.size(), 1u);
    EXPECT_TRUE(batches[0].verified()) << batches[0].problem.value_or("");
    std::vector<std::string> shared = batches[0].sources;
    if (argv[0] == "sh") std::sort(shared.begin(), shared.end());
    EXPECT_EQ(shared, sources);
  }
}

}  // namespace
}  // namespace quillop::testing
