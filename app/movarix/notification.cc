#include "notification.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>
#include <cstdlib>
#include <filesystem>

namespace quillop {
namespace {

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// A bus named in the environment, or the one systemd keeps per user. Never the X11 autolaunch
// of libdbus, which would start a bus of its own for nothing.
bool sessionBusKnown() {
  if (isSet("DBUS_SESSION_BUS_ADDRESS")) return true;
  std::error_code ignored;
  return isSet("XDG_RUNTIME_DIR") &&
         std::filesystem::exists(std::string(std::getenv("XDG_RUNTIME_DIR")) + "/bus", ignored);
}

}  // namespace

void notifyDesktop(const std::string& summary, const std::string& body) {
  if ((!isSet("DISPLAY") && !isSet("WAYLAND_DISPLAY")) || !sessionBusKnown()) return;
  int argc = 1;
  char name[] = "Movarix", *argv[] = {name, nullptr};
  const QCoreApplication application(argc, argv);  // what QtDBus runs on
  QDBusMessage notify = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"),
      QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  // Servers may read the body as markup: names are escaped to show as written.
  notify << QStringLiteral("Movarix") << 0u << QStringLiteral("document-send")
         << QString::fromStdString(summary) << QString::fromStdString(body).toHtmlEscaped()
         << QStringList() << QVariantMap() << -1;
  QDBusConnection::sessionBus().call(notify, QDBus::Block, 3000);
}

}  // namespace quillop
