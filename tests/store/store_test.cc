// The store of one batch: what it decides of names and media types (tables), where the inbox
// lives and the import's limits and texts (one table), the batch folder's life on disk (one
// sweep over every failing call, which also holds the exact records and the durable order of
// publication), and the preparation that guards its publication against "Annulla". The forms of
// an attachment's URL are tested through the share's intake.
#include <gmock/gmock.h>

#include <filesystem>
#include <regex>
#include <thread>

#include "platform/unicode.h"
#include "share/share_preparation.h"
#include "store/batch_check.h"
#include "store/share_store.h"
#include "support/expect_error.h"
#include "support/fault_file_system.h"
#include "support/temp_dir.h"

namespace quillop::testing {
namespace {

using F = FaultFileSystem;

// What the store decides before any copy: names, media types, where the inbox lives and how
// many batches it holds; then each import refused at a limit or failed in its copy.
TEST(Store, NamesTypesInboxAndImports) {
  // What a terminal is shown of a hostile name: C0, DEL, C1 and ill-formed bytes become "?".
  EXPECT_EQ(printableText("è\u00a0\x1b[\n\x7f\u0085\u009b\2331\377\303"), "è\u00a0?[?????1??");
  const std::string euro80 = std::regex_replace(std::string(80, 'x'), std::regex("x"), "€");
  // clang-format off
  const std::pair<bool, std::vector<std::string>> rows[] = {
      {true, {std::string(240, 'a'), euro80, " leading", "a.b", "perché è così", "a\u00a0b"}},
      {true, {"COM0", "COM10", "CONNECT.txt", "LPT", "CONSOLE", "nul_1.txt", "CON\u2028x"}},
      {false, {"", std::string(241, 'a'), euro80 + "€", ".", "..", ".hidden", "name.", "name "}},
      {false, {"a/b", "a\\b", "a:b", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b", "a\tb", "a\x7f"}},
      {false, {"a\u0085b", "a\u202eb", "a\u200bb", "a\ufeffb", "a\u00adb", "CON\u2028", "nul.a\u2029"}},
      {false, {"caf\xe9", "\xc0\xaf", "a\xed\xa0\x80"}},  // Latin-1, overlong "/", surrogate
      {false, {"CON", "con", "Con.txt", "COM1.log", "lpt9", "Prn.txt", "aux.x", "LPT9.a.b", "nul"}},
  };
  // clang-format on
  for (const auto& [safe, names] : rows)
    for (const std::string& name : names) EXPECT_EQ(ShareStore::safeName(name), safe) << name;

  // Our own check of a sender's media type (not the system's type database): lower-cased, at
  // most 127 bytes after lower-casing, plain type/subtype; anything else is dropped.
  const std::string x = "application/" + std::string(114, 'x');  // 126 bytes
  const std::pair<std::optional<std::string>, std::optional<std::string>> types[] = {
      {x + "X", x + "x"},       // 127 bytes
      {x + "\u212a", x + "k"},  // 129 bytes, 127 once the KELVIN SIGN is lower-cased
      {x + "xx", {}},
  };
  for (const auto& [value, type] : types) EXPECT_EQ(ShareStore::mime(value), type);
  for (const char* v : {"a/b;q", "a/", "/b", "a/b/c", " a/b"}) EXPECT_FALSE(ShareStore::mime(v));

  // The container from XDG_DATA_HOME when absolute, else ~/.local/share; created private, the
  // inbox inside it not; a second lookup finds it again. Batch folders in the inbox: private,
  // refused once the inbox holds 20 items, hidden ones included, and removed with all they hold
  // unless published (links removed, never followed).
  TempDir temp;
  temp.setEnv("HOME", temp.path());
  const std::string local = ".local/share", data = temp / "data";
  const std::pair<std::optional<std::string>, std::string> homes[] = {
      {"relative", local}, {"", local}, {{}, local}, {data, "data"}, {data, "data"}};
  for (const auto& [dataHome, base] : homes) {
    temp.setEnv("XDG_DATA_HOME", dataHome);
    const std::string container = temp / base + "/group-containers/K7QZ4MRX2P.ex.quillop.mac";
    EXPECT_EQ(ShareStore::sharedDirectory(), container + "/quillop-share-inbox");
    EXPECT_EQ(permissions(container), 0700u);
    EXPECT_FALSE(exists(container + "/quillop-share-inbox"));
  }
  const std::string inbox = ShareStore::sharedDirectory();
  for (int i = 0; i < 18; ++i) makeFolder(inbox + "/" + std::to_string(i));
  makeFolder(inbox + "/.hidden/inner");
  std::optional<ShareStore> last(std::in_place, inbox);
  EXPECT_FAILURE(ShareStore full(inbox), "La coda Condividi è piena. Apri Movarix per gestirla.");
  EXPECT_EQ(permissions(last->batchFolder()), 0700u);
  std::filesystem::create_directory_symlink(inbox + "/.hidden", last->batchFolder() + "/out");
  last.reset();
  EXPECT_TRUE(listFolder(inbox).size() == 19 && exists(inbox + "/.hidden/inner"));
  // Removal goes on past a failure and reports the first; folders nested past its bound stay.
  std::string deep = temp / "rm/g";
  for (std::size_t i = 2; i < kMaxRemovalDepth; ++i) deep += "/d";  // "rm", "g", 254 "d"
  makeFolder(deep), writeFile(temp / "rm/f", "x");
  F failing;
  failing.inject({Op::remove, "rm/f", EIO});
  EXPECT_TRUE(removeTree(failing, temp / "rm")->isPosix(EIO));
  EXPECT_EQ(listFolder(temp / "rm"), std::vector<std::string>{"f"});
  EXPECT_FALSE(removeTree(FileSystem::posix(), temp / "rm"));
  makeFolder(deep + "/d");
  EXPECT_TRUE(removeTree(FileSystem::posix(), temp / "rm")->isPosix(EMFILE));
  EXPECT_TRUE(exists(deep));

  // Each import refused at a limit or failed in its copy: its text; it records no entry. 50 GB
  // files are virtual: their bytes are neither read from nor written to any disk.
  std::uintmax_t resize = 0;  // the size "a" takes once a chunk is read from it
  const auto huge = [](F& fs, std::uint64_t size, std::uint64_t length) {
    fs.reportSize("/a", size), fs.virtualContent("/a", length);
    fs.discardWrites(".bin"), fs.setFreeSpace(2 * kMaxBytes);
  };
  const auto fail = [](Fault fault) { return [fault](F& fs) { fs.inject(fault); }; };
  // Setup, the poll that cancels (0: none), the text. Cancelled at the second poll, the one
  // after the first chunk that copy_file_range copies.
  const std::tuple<std::function<void(F&)>, int, std::string> imports[] = {
      {[](F&) {}, 2, "Preparazione annullata."},
      {[&](F& fs) { huge(fs, kMaxBytes + 1, 0); }, 0, "Il file non è regolare o supera 50 GB."},
      // Admitted at 50 GB, yet the copy finds more.
      {[&](F& fs) { huge(fs, kMaxBytes, kMaxBytes + 1); }, 0, "Il limite è 50 GB per file."},
      {[](F& fs) { fs.setFreeSpace(600'000 + 16'777'216); }, 0, "Spazio insufficiente sul Mac."},
      {fail({Op::open, ".bin", EACCES}), 0, "File non leggibile."},
      {fail({Op::write, ".bin", 0}), 0, "Scrittura interrotta."},
      // A size of 0, yet data without end (as /proc/self/pagemap): stopped at its first chunk.
      {[&](F& fs) { huge(fs, 0, kMaxBytes + 1); }, 0, "Il file è cambiato durante la copia."},
      {[&](F&) { resize = 700'000; }, 0, "Il file è cambiato durante la copia."},
      {[&](F&) { resize = 300'000; }, 0, "Il file è cambiato durante la copia."},
  };
  // An inbox that is a link to a folder: the user attribute goes on the folder, not on the link.
  std::filesystem::create_directory_symlink(temp / "data", temp / "imports");
  for (const auto& [setup, stop, message] : imports) {
    writeFile(temp / "a", std::string(600'000, 'a'));
    F fs;
    int polls = 0;
    setup(fs);
    if (resize) fs.onRead("/a", [&](auto&) { std::filesystem::resize_file(temp / "a", resize); });
    ShareStore store(temp / "imports", fs);
    const Cancelled cancelled = [&] { return ++polls == stop; };
    EXPECT_FAILURE(store.append(Url::fromPath(temp / "a"), "a", {}, cancelled), message);
    EXPECT_TRUE(store.entries().empty()) << message;
  }
  ShareStore store(temp / "imports");
  EXPECT_FAILURE(store.append(Url::fromPath(temp / "a"), "a/b", {}), "File condiviso non valido.");
  makeFolder(temp / "caf\xe9"), writeFile(temp / "caf\xe9/a", "a");  // no UTF-8 path to record
  EXPECT_FAILURE(store.append(Url::fromPath(temp / "caf\xe9/a"), "a", {}),
                 "File condiviso non valido.");
  for (int i = 0; i < 100; ++i) store.append(Url::fromPath(temp / "a"), "a", std::nullopt);
  EXPECT_FAILURE(store.append(Url::fromPath(temp / "a"), "a", {}), "File condiviso non valido.");
}

// A batch of a file copied by copy_file_range, one through the buffer and a folder: its exact
// records and data, and damaged or hostile files never verified. Its failures are the share
// sweep's, its power cuts the share's power-loss test's.
TEST(Store, ABatchOnDiskHasExactRecordsWrittenInADurableOrder) {
  TempDir temp;
  std::string bytes(600'001, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i % 251);
  writeFile(temp / "a", bytes.substr(0, 300'000));
  writeFile(temp / "b", bytes);
  makeFolder(temp / "c/d");
  F clean;
  clean.onRead("/b", [](auto&) {});  // keeps copy_file_range away from "b"
  ShareStore store(temp / "inbox", clean);
  const std::string folder = store.batchFolder();
  CopyProgress progress;
  EXPECT_FAILURE(store.publish(), "Nessun file preparato.");
  for (const char* n : {"a", "b", "c"})  // "b" has no type; "c" is a folder, of its own type
    store.append(Url::fromPath(temp / n), n, *n == 'b' ? "-" : "Text/Plain", {}, &progress);
  store.context("tök/en", {"/a b", "/perché/è", "/c"});
  store.publish();
  EXPECT_EQ(progress.snapshot().written, progress.snapshot().expected);
  const CheckedBatch batch = checkBatch(folder);
  ASSERT_EQ(batch.problem, std::nullopt);
  const auto bin = [&](int i) { return readFile(folder + "/" + batch.files[i].entry.id + ".bin"); };
  EXPECT_EQ(bin(0) + bin(1), bytes.substr(0, 300'000) + bytes);
  EXPECT_EQ(readFile(folder + "/context.json"),
            R"({"ticket":"tök\/en","sources":["\/a b","\/perché\/è","\/c"]})");
  const std::string manifest = readFile(folder + "/manifest.json");
  EXPECT_EQ(
      std::regex_replace(manifest, std::regex("\"\\w{32}\""), "#"),
      R"({"version":1,"id":#,"files":[{"id":#,"name":"a","size":300000,"mime":"text\/plain"},)"
      R"({"id":#,"name":"b","size":600001},{"id":#,"name":"c","size":94,)"
      R"("mime":"application\/x-quillop-directory"}]})");
  // Damaged or hostile: never verified, each refused at its first wrong event with its message
  // (a context's begins "context.json"), nothing in the folder touched.
  const std::string context = readFile(folder + "/context.json");
  const auto size = [&](const char* v) {
    return std::regex_replace(manifest, std::regex(":300000"), v);
  };
  const auto times = [](std::string unit, int n, std::string text = "") {
    while (n-- > 0) text += unit + (n ? "," : "");
    return text;
  };
  const std::string entry =
      manifest.substr(manifest.find("[") + 1, manifest.find("},") - manifest.find("["));
  const std::string keys = "{" + times("\"k\":0", 200'000) + "}", deep(5'000'000, '['),
                    sources = R"({"ticket":"","sources":[)",
                    bad = "manifest.json: struttura errata",
                    badContext = "context.json: struttura errata",
                    count = "numero di sorgenti diverso";
  const std::vector<std::pair<std::string, std::string>> rows = {
      {size(":-1"), bad},
      {size(":3e5"), bad},
      {size(":\"300000\""), bad},
      {size(":300001"), "dimensione diversa da quella del manifest"},
      {size(":1,\"size\":1"), "manifest.json: chiave ripetuta"},
      {std::regex_replace(manifest, std::regex("\"text"), "null,\"x\":\"text"), bad},
      {std::regex_replace(manifest, std::regex("text"), std::string(122, 't')), bad},  // 128 bytes
      {manifest.substr(0, 40), "manifest.json: non è JSON ben formato"},
      {keys, bad},
      {deep, bad},
      {R"({"files":[)" + times(entry, 101) + "]}", "manifest.json: troppi file"},
      {R"({"files":[)" + times("{}", 1'000'000) + "]}", bad},
      {R"({"ticket":"","sources":["\/a b","\/perché\/è",3]})",
       "context.json: sorgente non testuale"},
      {R"({"ticket":""})", R"(context.json: manca "ticket" o "sources")"},
      {R"({"ticket":"","ticket":""})", "context.json: chiave ripetuta"},
      {sources + times(R"("a")", 1'000'000) + "]}", "context.json: " + count},
      {sources + R"("a","b"]})", "context.json: " + count},
      {keys, badContext},
      {deep, badContext},
      {context + "{", "context.json: non è JSON ben formato"},
  };
  const std::vector<std::string> listing = FileSystem::posix().list(folder);
  for (const auto& [text, problem] : rows) {
    writeFile(folder + (problem.starts_with("context") ? "/context.json" : "/manifest.json"), text);
    EXPECT_THAT(checkBatch(folder).problem.value_or("verified"), ::testing::HasSubstr(problem));
    writeFile(folder + "/manifest.json", manifest);
    writeFile(folder + "/context.json", context);
  }
  EXPECT_EQ(FileSystem::posix().list(folder), listing);
  EXPECT_TRUE(checkBatch(folder).verified());
  // A publication whose last flush fails takes its manifest back: nothing unflushed looks
  // published.
  F failing;
  failing.inject({Op::sync, "/inbox", EIO});
  ShareStore unflushed(temp / "inbox", failing);
  unflushed.append(Url::fromPath(temp / "a"), "a", {});
  EXPECT_TRUE(thrownError([&] { unflushed.publish(); }).isPosix(EIO));
  EXPECT_FALSE(exists(unflushed.batchFolder() + "/manifest.json"));
}

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
// p(ublished). The store ends published exactly when the preparation does. Then "Annulla" races
// the publication, each starting first in turn: every round ends either published with a
// manifest or cancelled without one, never both. Run under TSan too.
TEST(Preparation, TransitionsAndCancelRacingPublish) {
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
    EXPECT_EQ(store.finished(), seen.back() == 'p') << steps;
  }
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
}  // namespace quillop::testing
