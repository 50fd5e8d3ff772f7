// Movarix, the stand-in for the host application: it removes the batch folders that shares
// which died left unpublished (store/batch_lock.h), verifies every published batch in the
// shared inbox and prints a short report, every text from the inbox shown printable. `--ticket
// TOKEN` first writes a fresh "ready.json" at the container's root; `--take` removes each verified
// batch after the report. On a desktop it also says in a notification what it received. The share
// opens it from three folders above its own bundle; a SIGCONT (the share's "come to the front")
// while it runs makes it look at the inbox again.

#include <signal.h>

#include <chrono>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "exit_status.h"
#include "notification.h"
#include "platform/container.h"
#include "platform/json_file.h"
#include "platform/unicode.h"
#include "store/batch_check.h"
#include "store/batch_lock.h"
#include "store/share_store.h"

#ifndef QUILLOP_VERSION
#define QUILLOP_VERSION "0"
#endif

namespace {

volatile std::sig_atomic_t activated = 0;

void onActivate(int) { activated = 1; }

constexpr const char* kHelp =
    "Uso: Movarix [--ticket TOKEN] [--take]\n"
    "Sostituto di prova di Movarix: verifica ogni lotto pubblicato nella coda di\n"
    "quillop-share (manifest, dimensioni, archivi delle cartelle e digest SHA-256) e stampa\n"
    "un breve resoconto. Prima toglie dalla coda i lotti lasciati a metà da una\n"
    "condivisione che non è più in corso. Con --ticket scrive prima un \"ready.json\" nuovo con "
    "TOKEN;\n"
    "con --take toglie dalla coda ogni lotto verificato, come Movarix dopo l'invio.\n"
    "Stato d'uscita: 0 tutti i lotti pubblicati sono integri; 1 altrimenti; 2 uso errato.\n";

std::string plural(size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Prints the report of the inbox; returns the number of published batches that fail. With
// `take`, every verified batch is then removed, as the host does once it has sent one.
size_t report(const std::string& inbox, bool take) {
  using quillop::printableText;
  std::cout << "Coda: " << printableText(inbox) << "\n";
  for (const std::string& id : quillop::removeAbandonedBatches(inbox)) {
    std::cout << "Lotto " << id << ": preparazione interrotta, tolto dalla coda\n";
  }
  size_t verified = 0, broken = 0, pending = 0;
  std::vector<std::string> received;  // the names of the verified batches' files
  for (const quillop::CheckedBatch& batch : quillop::checkInbox(inbox)) {
    if (!batch.published && !batch.problem) {
      ++pending;
      continue;
    }
    if (!batch.verified()) {
      ++broken;
      std::cout << "Lotto " << printableText(batch.id)
                << ": NON VALIDO: " << printableText(*batch.problem) << "\n";
      continue;
    }
    ++verified;
    std::cout << "Lotto " << printableText(batch.id) << ": "
              << plural(batch.files.size(), "file", "file") << ", ticket \""
              << printableText(batch.ticket) << "\": verificato\n";
    for (const quillop::CheckedFile& file : batch.files) {
      received.push_back(printableText(file.entry.name));
      std::cout << "  " << printableText(file.entry.name) << " (" << file.entry.size << " byte, "
                << printableText(file.entry.mime.value_or("tipo sconosciuto"));
      if (file.members) std::cout << ", " << plural(*file.members, "voce", "voci") << " verificate";
      std::cout << ")\n";
    }
    if (take) {
      quillop::removeTree(quillop::FileSystem::posix(), inbox + "/" + batch.id);
      std::cout << "  preso in carico e tolto dalla coda\n";
    }
  }
  std::cout << "Riepilogo: " << plural(verified, "lotto verificato", "lotti verificati") << ", "
            << plural(broken, "lotto non valido", "lotti non validi") << ", "
            << plural(pending, "lotto in preparazione", "lotti in preparazione") << ".\n";
  if (verified + broken > 0) {
    std::string names;
    for (size_t i = 0; i < received.size() && i < 5; ++i) names += (i ? ", " : "") + received[i];
    if (received.size() > 5) names += " e altri " + std::to_string(received.size() - 5);
    if (broken > 0) {
      names += (names.empty() ? "" : "\n") + plural(broken, "lotto non valido", "lotti non validi");
    }
    quillop::notifyDesktop(verified > 0
                               ? "Movarix ha ricevuto " + plural(verified, "lotto", "lotti") +
                                     " (" + plural(received.size(), "file", "file") + ")"
                               : "Movarix: lotto non valido",
                           names);
  }
  return broken;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::string> ticket;
  bool take = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--ticket" && i + 1 < argc) {
      ticket = argv[++i];
    } else if (argument == "--take") {
      take = true;
    } else if (argument == "--help") {
      std::cout << kHelp;
      return quillop::exit_status::kCompleted;
    } else if (argument == "--version") {
      std::cout << "Movarix (sostituto di prova) " QUILLOP_VERSION "\n";
      return quillop::exit_status::kCompleted;
    } else {
      std::cerr << "Movarix: argomento non valido: " << quillop::printableText(argument) << "\n"
                << kHelp;
      return quillop::exit_status::kUsage;
    }
  }
  signal(SIGCONT, onActivate);

  quillop::FileSystem& fs = quillop::FileSystem::posix();
  const std::optional<std::string> container =
      quillop::groupContainer(fs, std::string(quillop::ShareStore::group));
  if (!container) {
    std::cerr << "Movarix: contenitore del gruppo non disponibile\n";
    return quillop::exit_status::kFailed;
  }
  try {
    if (ticket) {
      const double now =
          std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
              .count();
      nlohmann::ordered_json ready{{"time", now}, {"ticket", *ticket}};
      quillop::writeFileAtomically(fs, *container, "ready.json", quillop::compactJson(ready));
      std::cout << "Scritto ready.json con il ticket \"" << quillop::printableText(*ticket)
                << "\".\n";
    }
  } catch (const quillop::Error& error) {
    std::cerr << "Movarix: " << quillop::printableText(error.message()) << "\n";
    return quillop::exit_status::kFailed;
  }
  const std::string inbox = *container + "/" + std::string(quillop::ShareStore::inboxName);
  size_t broken = 0;
  do {
    activated = 0;
    broken = report(inbox, take);
  } while (activated);
  return broken == 0 ? quillop::exit_status::kCompleted : quillop::exit_status::kFailed;
}
