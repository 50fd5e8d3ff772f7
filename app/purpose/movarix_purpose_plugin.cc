// "Invia con Movarix" in KDE's share menus (Purpose export plugins: Dolphin's "Share", Gwenview,
// Okular, Spectacle, ...). The job hands the whole selection to one quillop-share process and
// reports once that process has started; the share itself, with its window, stays there.
//
// Purpose passes the selection as QUrl::toString() text (spaces raw, "%" written "%25"), which
// quillop-share would read as written. Each URL is parsed back and passed fully encoded, so every
// byte of every name arrives as it is on disk.

#include <purpose/job.h>
#include <purpose/pluginbase.h>

#include <KPluginFactory>
#include <QJsonArray>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#ifndef QUILLOP_SHARE_PROGRAM
#define QUILLOP_SHARE_PROGRAM "/usr/bin/quillop-share"
#endif

namespace {

// The program to start: the installed quillop-share, or $QUILLOP_SHARE_PROGRAM when set.
QString shareProgram() {
  const QString chosen = qEnvironmentVariable("QUILLOP_SHARE_PROGRAM");
  return chosen.isEmpty() ? QStringLiteral(QUILLOP_SHARE_PROGRAM) : chosen;
}

// The command line for `urls` (Purpose's text form, in order): "--", then one fully encoded file:
// URI for each. Empty when an entry is not a local file, which quillop-share could not take.
QStringList shareArguments(const QJsonArray& urls) {
  QStringList arguments{QStringLiteral("--")};
  for (const QJsonValue& value : urls) {
    const QUrl url(value.toString());
    if (!url.isValid() || !url.isLocalFile()) return {};
    arguments << QString::fromLatin1(url.toEncoded(QUrl::FullyEncoded));
  }
  return arguments;
}

class MovarixShareJob : public Purpose::Job {
  Q_OBJECT
 public:
  using Purpose::Job::Job;

  void start() override { QTimer::singleShot(0, this, &MovarixShareJob::share); }

 private:
  void share() {
    const QStringList arguments = shareArguments(data().value(QStringLiteral("urls")).toArray());
    const QString program = shareProgram();
    if (arguments.isEmpty()) {
      setError(UserDefinedError);
      setErrorText(QStringLiteral("Condividi il file originale dal Finder, non un link."));
    } else if (!QProcess::startDetached(program, arguments)) {
      setError(UserDefinedError);
      setErrorText(QStringLiteral("Impossibile avviare %1.").arg(program));
    }
    emitResult();
  }
};

class MovarixSharePlugin : public Purpose::PluginBase {
  Q_OBJECT
 public:
  MovarixSharePlugin(QObject* parent, const QVariantList&) : Purpose::PluginBase(parent) {}

  Purpose::Job* createJob() const override { return new MovarixShareJob(nullptr); }
};

}  // namespace

K_PLUGIN_CLASS_WITH_JSON(MovarixSharePlugin, "movarix_purpose_plugin.json")
EXPORT_SHARE_VERSION

#include "movarix_purpose_plugin.moc"
