// quillop-share: the extension host. It makes one share request from its command line, one
// ShareViewController for it, and shows it in a window when a display answers (the X11 or
// Wayland socket that DISPLAY or WAYLAND_DISPLAY names accepts a connection, or Qt can start
// the platform that QT_QPA_PLATFORM names), else, or with --terminal, on the terminal.

#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "display_probe.h"
#include "exit_status.h"
#include "gui_front_end.h"
#include "linux/linux_share_platform.h"
#include "linux/qt_main_queue.h"
#include "linux/worker_queue.h"
#include "share/argument_attachments.h"
#include "share/share_request.h"
#include "share/share_view_controller.h"
#include "share_session.h"
#include "sibling_gather.h"
#include "terminal_front_end.h"

#ifndef QUILLOP_VERSION
#define QUILLOP_VERSION "0"
#endif

namespace {

constexpr const char* kHelp =
    "Uso: quillop-share [--terminal] [--] FILE...\n"
    "Prepara i file e le cartelle indicati in un lotto nella coda di Movarix, poi apre Movarix.\n"
    "\n"
    "Ogni argomento è un elemento da condividere: un percorso (relativo alla cartella\n"
    "corrente), un URI file:// come lo passano i file manager, oppure un altro URI, che viene\n"
    "rifiutato come link. Un file il cui nome comincia con \"schema:\" si indica come ./nome.\n"
    "\n"
    "Se c'è uno schermo (DISPLAY, WAYLAND_DISPLAY o QT_QPA_PLATFORM) lo stato compare in una\n"
    "piccola finestra con una barra di avanzamento; chiuderla o premere Esc equivale al\n"
    "pulsante \"Annulla\". Nel terminale la riga di stato mostra anche percentuale, byte\n"
    "copiati e velocità.\n"
    "\n"
    "Opzioni:\n"
    "  --terminal   mostra lo stato nel terminale (su stderr), anche se c'è uno schermo\n"
    "  --gather     un solo lotto con gli elementi degli altri quillop-share --gather\n"
    "               avviati subito dopo nella stessa cartella (i file manager che dividono\n"
    "               una selezione in più avvii)\n"
    "  --help       mostra questo aiuto ed esce\n"
    "  --version    mostra la versione ed esce\n"
    "  --           gli argomenti seguenti sono file, anche se cominciano con \"-\"\n"
    "\n"
    "Ctrl-C (o SIGTERM, SIGHUP) equivale al pulsante \"Annulla\"; un secondo segnale toglie\n"
    "subito il lotto in preparazione ed esce.\n"
    "Stato d'uscita: 0 lotto consegnato a Movarix; 1 condivisione annullata dopo un errore;\n"
    "130 condivisione annullata dall'utente; 2 riga di comando non valida.\n";

std::string workingDirectory() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return "/";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

// True when Qt can start the platform QT_QPA_PLATFORM names. Tried in a child process, since Qt
// aborts the process that cannot; it costs a start-up of Qt, so only platforms other than X11 and
// Wayland (offscreen, vnc, ...) are tried this way. Before any thread.
bool platformStarts(int argc, char** argv) {
  const pid_t pid = fork();
  if (pid < 0) return false;
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, STDERR_FILENO);  // Qt's complaints about the display
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
      if (type == QtFatalMsg) _exit(1);
    });
    QGuiApplication probe(argc, argv);
    _exit(0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The share while its front end runs, for `onQtMessage`.
std::weak_ptr<quillop::ShareViewController> runningShare;
QtMessageHandler qtHandler = nullptr;

// When the display goes away under the window (the X server or the compositor died), Qt ends
// the process from inside its event loop right after one of these warnings (exit(1) for X11,
// _exit for Wayland); no other hook is given. That is "Annulla" with no window left: the batch
// is cleaned up as after a stuck cancellation, on the main thread while Qt is still whole, and
// the process ends with the cancel status.
void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (qtHandler) qtHandler(type, context, message);
  const bool displayLost = message.startsWith(QLatin1String("The X11 connection broke")) ||
                           message.startsWith(QLatin1String("The Wayland connection"));
  if (type != QtWarningMsg || !displayLost) return;
  if (const auto controller = runningShare.lock()) {
    controller->abandon(quillop::kCancelGrace);
    _exit(quillop::exit_status::kInterrupted);
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quillop;

  // A standard descriptor closed at start would go to the next file opened, and the status
  // line into it (the signal pipe, read back as a Ctrl-C): /dev/null takes its place first.
  for (int fd = 0; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) < 0) open("/dev/null", O_RDWR);
  }
  // A status line nobody reads any longer (piped into `head`) is no reason to end the share.
  signal(SIGPIPE, SIG_IGN);

  std::vector<std::string> arguments;
  bool options = true;
  bool terminal = false;
  bool gather = false;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (options && argument == "--") {
      options = false;
    } else if (options && argument == "--help") {
      std::cout << kHelp;
      return 0;
    } else if (options && argument == "--version") {
      std::cout << "quillop-share " QUILLOP_VERSION "\n";
      return 0;
    } else if (options && argument == "--terminal") {
      terminal = true;
    } else if (options && argument == "--gather") {
      gather = true;
    } else if (argument.empty()) {
      std::cerr << "quillop-share: argomento vuoto: indica un file o una cartella\n"
                   "Per l'elenco delle opzioni: quillop-share --help\n";
      return exit_status::kUsage;
    } else if (options && argument.size() > 1 && argument[0] == '-') {
      std::cerr << "quillop-share: opzione sconosciuta: " << argument
                << "\nPer l'elenco delle opzioni: quillop-share --help\n";
      return exit_status::kUsage;
    } else {
      arguments.push_back(argument);
    }
  }

  const std::string cwd = workingDirectory();
  if (gather) {
    std::optional<std::vector<std::string>> all = gatherSiblingArguments(cwd, std::move(arguments));
    if (!all) return exit_status::kCompleted;  // shared by the process that took them
    arguments = std::move(*all);
  }

  // Qt is told which display answered, so that it never picks one that does not (it aborts
  // there): "-platform" on its command line, which children started later do not inherit.
  bool window = false;
  std::vector<char*> qtArguments(argv, argv + argc);
  static char platformOption[] = "-platform";
  static std::string qtPlatform;
  if (!terminal) {
    const std::optional<DisplayChoice> choice = probeDisplays();
    window = choice ? choice->reachable : platformStarts(argc, argv);
    qtPlatform = choice ? choice->platform : "";
    if (!qtPlatform.empty()) {
      qtArguments.insert(qtArguments.begin() + 1, {platformOption, qtPlatform.data()});
    }
  }
  int qtArgc = static_cast<int>(qtArguments.size());
  qtArguments.push_back(nullptr);
  std::unique_ptr<QCoreApplication> application;
  if (window) {
    // Fontconfig's first loading, the largest cost of a window with text, overlaps Qt's own
    // start on the other processor: Qt then finds the configuration and caches loaded.
    std::thread fonts([] { FcInit(); });
    application = std::make_unique<QApplication>(qtArgc, qtArguments.data());
    fonts.join();
    // The window's X11 class (WM_CLASS) and Wayland app id, which tie it to the desktop entry
    // (its StartupWMClass and its file name): fixed, whatever name the program was started by.
    QCoreApplication::setApplicationName(QStringLiteral("quillop-share"));
    QGuiApplication::setDesktopFileName(QStringLiteral("ex.quillop.mac.share"));
  } else {
    application = std::make_unique<QCoreApplication>(qtArgc, qtArguments.data());
  }
  if (window) qtHandler = qInstallMessageHandler(onQtMessage);

  // Declared before everything that may submit to it, so it outlives every job.
  auto delivery = std::make_shared<WorkerQueue>("item-loading");
  auto mainQueue = std::make_shared<QtMainQueue>();

  InputItem item;
  for (const std::string& argument : arguments) {
    item.attachments.push_back(argumentAttachment(argument, cwd, delivery));
  }
  std::vector<InputItem> items;
  if (!item.attachments.empty()) items.push_back(std::move(item));
  auto request = std::make_shared<ShareRequest>(std::move(items));

  const SharePlatform platform = linuxSharePlatform(mainQueue);

  int status = 0;
  bool abandoned = false;
  {
    auto controller = ShareViewController::create(platform);
    controller->setExtensionContext(request);
    runningShare = controller;
    using AfterFailure = ShareSession::AfterFailure;
    ShareSession session(controller, request, mainQueue,
                         window ? AfterFailure::wait : AfterFailure::cancel);
    status = window ? GuiFrontEnd(session).run() : TerminalFrontEnd(session).run();
    abandoned = session.abandoned();
    runningShare.reset();
  }
  // Work stuck in a read cannot be waited for: end without joining its threads.
  if (abandoned) _exit(status);
  return status;
}
