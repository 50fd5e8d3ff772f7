// The store of one batch: what it decides of names and media types (tables), where the inbox
// lives, the batch folder's life on disk (one sweep over every failing call, which also holds
// the exact records and the durable order of publication), and the import's limits and texts
// (one table). The forms of an attachment's URL are tested through the share's intake.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "platform/unicode.h"
#include "store/batch_check.h"
#include "store/share_store.h"
#include "support/expect_error.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop {
namespace {

using namespace quillop::testing;
using F = FaultFileSystem;
constexpr std::uint64_t kMax = ShareStore::maxBytes;

// What a terminal is shown of a hostile name: C0, DEL, C1 and ill-formed bytes become "?".
TEST(Names, PrintableTextSafeNamesAndMediaTypes) {
  EXPECT_EQ(printableText("è\u00a0\x1b[\n\x7f\u0085\u009b\2331\377\303"), "è\u00a0?[?????1??");
  const std::string euro80 = std::regex_replace(std::string(80, 'x'), std::regex("x"), "€");
  const std::pair<bool, std::vector<std::string>> rows[] = {
      {true, {std::string(240, 'a'), euro80, " leading", "a.b", "perché è così", "a\u00a0b"}},
      {true, {"COM0", "COM10", "CONNECT.txt", "LPT", "CONSOLE", "nul_1.txt"}},
      {false, {"", std::string(241, 'a'), euro80 + "€", ".", "..", ".hidden", "name.", "name "}},
      {false, {"a/b", "a\\b", "a:b", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\tb", "a\x7f"}},
      {false, {"a\u0085b", "a\u202eb", "a\u200bb", "a\ufeffb", "a\u00adb"}},  // C1, format
      {false, {"caf\xe9", "\xc0\xaf", "a\xed\xa0\x80"}},  // Latin-1, overlong "/", surrogate
      {false, {"CON", "con", "Con.txt", "COM1.log", "lpt9", "Prn.txt", "aux.x", "LPT9.a.b", "nul"}},
  };
  for (const auto& [safe, names] : rows) {
    for (const std::string& name : names) EXPECT_EQ(ShareStore::safeName(name), safe) << name;
  }

  // Our own check of a sender's media type (not the system's type database): lower-cased, at
  // most 127 bytes after lower-casing, plain type/subtype; anything else is dropped.
  const std::string x = "application/" + std::string(114, 'x');  // 126 bytes
  const std::pair<std::optional<std::string>, std::optional<std::string>> types[] = {
      {"TEXT/Plain", "text/plain"},
      {x + "X", x + "x"},       // 127 bytes
      {x + "\u212a", x + "k"},  // 129 bytes, 127 once the KELVIN SIGN is lower-cased
      {x + "xx", {}},
  };
  for (const auto& [value, type] : types) EXPECT_EQ(ShareStore::mime(value), type);
  for (const char* v : {"a/b;q", "a/", "/b", "a/b/c", " a/b"}) EXPECT_FALSE(ShareStore::mime(v));
}

// The container from XDG_DATA_HOME when absolute, else ~/.local/share; created private, the
// inbox inside it not; a second lookup finds it again. Batch folders in the inbox: private,
// refused once the inbox holds 20 items, hidden ones included, and removed with all they hold
// unless published (links removed, never followed).
TEST(Store, InboxAndBatchFolders) {
  TempDir temp;
  temp.setEnv("HOME", temp.path());
  const std::string own = temp / "data/group-containers/K7QZ4MRX2P.ex.quillop.mac";
  const std::string home = temp / ".local/share/group-containers/K7QZ4MRX2P.ex.quillop.mac";
  const std::pair<std::optional<std::string>, std::string> rows[] = {
      {"relative", home}, {"", home}, {{}, home}, {temp / "data", own}, {temp / "data", own}};
  for (const auto& [dataHome, container] : rows) {
    temp.setEnv("XDG_DATA_HOME", dataHome);
    EXPECT_EQ(ShareStore::sharedDirectory(), container + "/quillop-share-inbox");
    EXPECT_EQ(permissions(container), 0700u);
    EXPECT_FALSE(exists(container + "/quillop-share-inbox"));
  }
  const std::string inbox = ShareStore::sharedDirectory();
  for (int i = 0; i < 18; ++i) makeFolder(inbox + "/" + std::to_string(i));
  writeFile(inbox + "/.hidden", "");
  makeFolder(temp / "outside/inner");
  {
    ShareStore last(inbox);
    EXPECT_FAILURE(ShareStore full(inbox), "La coda Condividi è piena. Apri Movarix per gestirla.");
    EXPECT_EQ(permissions(last.batchFolder()), 0700u);
    std::filesystem::create_directory_symlink(temp / "outside", last.batchFolder() + "/out");
  }
  EXPECT_TRUE(listFolder(inbox).size() == 19 && exists(temp / "outside/inner"));
}

// Every failing file-system call of a share (a file by copy_file_range, one through the buffer,
// a folder, the context, the publication), with two errors: either the whole batch is
// published and checks out, or an Error comes out, there is no manifest, and once the store is
// gone the inbox is empty and no descriptor is left open. JSON files go out in short writes, on
// a file system without user attributes.
// Only the one call fails, so the clean-up after an error meets no fault: a removal that failed
// could leave things behind, and would need its own exemption here.
TEST(Store, EveryFailingCallLeavesAPublishedBatchOrNothing) {
  TempDir temp;
  const std::string inbox = temp / "inbox";
  std::string bytes(600'001, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
  writeFile(temp / "a", bytes.substr(0, 300'000));
  writeFile(temp / "b", bytes);
  makeFolder(temp / "c/d");
  const auto share = [&](F& fs, std::string& folder) -> std::optional<Error> {
    fs.onRead("/b", [](const std::string&) {});  // keeps copy_file_range away from "b"
    fs.shortWrites(".tmp", 100);
    fs.inject({Op::setAttribute, "", ENOTSUP});  // no user attributes: no backup exclusion
    std::optional<ShareStore> store;
    CopyProgress progress;
    try {
      folder = store.emplace(inbox, fs).batchFolder();
      EXPECT_FAILURE(store->publish(), "Nessun file preparato.");
      store->append(Url::fromPath(temp / "a"), "a", "Text/Plain", {}, &progress);
      store->append(Url::fromPath(temp / "b"), "b", "not a type", {}, &progress);
      store->append(Url::fromPath(temp / "c"), "c", "text/plain", {}, &progress);
      store->context("tök/en", {"/a b", "/perché/è", "/c"});
      store->publish();
    } catch (const Error& error) {
      EXPECT_FALSE(exists(folder + "/manifest.json"));
      for (const std::string& name : listFolder(folder)) EXPECT_NE(name[0], '.') << name;
      return error;
    }
    EXPECT_EQ(progress.snapshot().written, progress.snapshot().expected);
    return std::nullopt;
  };
  F clean;
  std::string folder;
  const size_t descriptors = listFolder("/proc/self/fd").size();
  ASSERT_EQ(share(clean, folder), std::nullopt);
  const CheckedBatch batch = checkBatch(folder);
  ASSERT_EQ(batch.problem, std::nullopt);
  const auto id = [&](int i) { return batch.files.at(i).entry.id; };
  EXPECT_EQ(readFile(folder + "/" + id(0) + ".bin") + readFile(folder + "/" + id(1) + ".bin"),
            bytes.substr(0, 300'000) + bytes);
  EXPECT_EQ(readFile(folder + "/context.json"),
            R"({"ticket":"tök\/en","sources":["\/a b","\/perché\/è","\/c"]})");
  const std::string manifest =
      R"({"version":1,"id":")" + batch.id + R"(","files":[{"id":")" + id(0) +
      R"(","name":"a","size":300000,"mime":"text\/plain"},{"id":")" + id(1) +
      R"(","name":"b","size":600001},{"id":")" + id(2) + R"(","name":"c","size":)" +
      std::to_string(batch.files[2].entry.size) +
      R"(,"mime":"application\/x-quillop-directory"}]})";
  EXPECT_EQ(readFile(folder + "/manifest.json"), manifest);
  for (const char* v : {":-1", ":3e5", ":300001", ":\"300000\""}) {  // damaged: never verified
    writeFile(folder + "/manifest.json", std::regex_replace(manifest, std::regex(":300000"), v));
    EXPECT_TRUE(checkBatch(folder).problem) << v;
  }
  // Durability is an order no sweep sees: data on storage before it is recorded; each JSON
  // file written to a temporary file, synced, renamed, its folder synced; the inbox last.
  std::string log;
  for (const std::string& line : clean.log())
    if (line.starts_with("sync ") || line.starts_with("rename ")) log += line + "; ";
  log = std::regex_replace(log, std::regex("[^ ]*/|\\.\\w+\\.tmp"), "");
  log = std::regex_replace(log, std::regex("\\w{32}\\.bin"), "data");
  EXPECT_EQ(std::regex_replace(log, std::regex("\\w{32}"), "batch"),
            "sync data; sync data; sync data; sync .context.json; rename .context.json "
            "context.json; sync batch; sync .manifest.json; rename .manifest.json manifest.json; "
            "sync batch; sync inbox; ");
  for (int err : {EIO, ENOSPC}) {
    for (int n = 1; n <= clean.calls(); ++n) {
      std::filesystem::remove_all(inbox);
      F fs;
      fs.inject({Op::any, "", err, n, true});
      const std::optional<Error> error = share(fs, folder);
      const std::string fired = ::testing::PrintToString(fs.fired()) + " " + std::to_string(err);
      EXPECT_EQ(listFolder("/proc/self/fd").size(), descriptors) << fired;
      EXPECT_TRUE(error || checkBatch(folder).verified()) << fired;
      EXPECT_TRUE(!error || error->isPosix(err) || error->isFailure()) << fired;
      EXPECT_TRUE(!error || listFolder(inbox).empty()) << fired;
    }
  }
}

// Each import refused at a limit or failed in its copy: its text; it records no entry. 50 GB files
// are virtual: their bytes are neither read from nor written to any disk.
TEST(Import, LimitsAndFailures) {
  TempDir temp;
  const std::string changed = "Il file è cambiato durante la copia.";
  int stop = 0, polls = 0;
  const auto resize = [&](int n) {
    return [&, n](auto&) { std::filesystem::resize_file(temp / "a", n); };
  };
  const auto huge = [](F& fs, std::uint64_t size, std::uint64_t length) {
    fs.reportSize("/a", size), fs.virtualContent("/a", length, false);
    fs.discardWrites(".bin"), fs.setFreeSpace(2 * kMax);
  };
  const auto fail = [](Fault fault) { return [fault](F& fs) { fs.inject(fault); }; };
  // Cancelled at the second poll, while copy_file_range fails from its second call on: an
  // import that copies before it polls shows.
  const Fault copyFails{Op::copyRange, "", EIO, 2};
  const auto cancel = [&](F& fs) { fs.inject(copyFails), stop = 2; };
  using Row = std::pair<std::function<void(F&)>, std::string>;
  const Row rows[] = {
      {cancel, "Preparazione annullata."},
      {[&](F& fs) { huge(fs, kMax + 1, 0); }, "Il file non è regolare o supera 50 GB."},
      {[&](F& fs) { huge(fs, kMax, 0); }, changed},  // admitted: it gets to the copy
      {[&](F& fs) { huge(fs, kMax, kMax + 1); }, "Il limite è 50 GB per file."},
      {[](F& fs) { fs.setFreeSpace(600'000 + 16'777'216); }, "Spazio insufficiente sul Mac."},
      {fail({Op::open, ".bin", EACCES}), "File non leggibile."},
      {fail({Op::write, ".bin", 0}), "Scrittura interrotta."},
      {[&](F& fs) { fs.onRead("/a", resize(700'000)); }, changed},
      {[&](F& fs) { fs.onRead("/a", resize(300'000)); }, changed},
  };
  for (const auto& [setup, message] : rows) {
    writeFile(temp / "a", std::string(600'000, 'a'));
    F fs;
    polls = stop = 0;
    setup(fs);
    ShareStore store(temp / "inbox", fs);
    const Cancelled cancelled = [&] { return ++polls == stop; };
    EXPECT_FAILURE(store.append(Url::fromPath(temp / "a"), "a", {}, cancelled), message);
    EXPECT_TRUE(store.entries().empty()) << message;
  }
  ShareStore store(temp / "inbox");
  EXPECT_FAILURE(store.append(Url::fromPath(temp / "a"), "a/b", {}), "File condiviso non valido.");
  for (int i = 0; i < 100; ++i) store.append(Url::fromPath(temp / "a"), "a", std::nullopt);
  EXPECT_FAILURE(store.append(Url::fromPath(temp / "a"), "a", {}), "File condiviso non valido.");
}

}  // namespace
}  // namespace quillop
