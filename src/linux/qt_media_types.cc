#include "linux/qt_media_types.h"

#include <QList>
#include <QMimeDatabase>
#include <QString>

namespace quillop {

std::optional<std::string> QtMediaTypes::preferredMediaType(const std::string& extension) {
  if (extension.empty()) return std::nullopt;
  const QMimeDatabase database;
  const QList<QMimeType> types =
      database.mimeTypesForFileName(QStringLiteral("x.") + QString::fromUtf8(extension));
  if (types.isEmpty()) return std::nullopt;
  return types.first().name().toStdString();
}

}  // namespace quillop
