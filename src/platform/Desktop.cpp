#include "platform/Desktop.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QUrl>

bool OpenWithDesktop(const std::string& pathOrUrl) {
  const QString s = QString::fromStdString(pathOrUrl);
  const QUrl url = s.contains("://") ? QUrl(s) : QUrl::fromLocalFile(QFileInfo(s).absoluteFilePath());
  return QDesktopServices::openUrl(url);
}

static QMimeType MimeOf(const std::string& ext) {
  static const QMimeDatabase db;
  return db.mimeTypeForFile("x" + QString::fromStdString(ext), QMimeDatabase::MatchExtension);
}

QIcon ThemeIconForExtension(const std::string& ext) {
  const QMimeType mime = MimeOf(ext);
  if (!mime.isValid() || mime.isDefault()) return {};
  QIcon icon = QIcon::fromTheme(mime.iconName());
  if (icon.isNull()) icon = QIcon::fromTheme(mime.genericIconName());
  return icon;
}

std::string MimeKindForExtension(const std::string& ext) {
  const QMimeType mime = MimeOf(ext);
  if (!mime.isValid() || mime.isDefault()) return {};
  const QString name = mime.name();
  return name.left(name.indexOf('/')).toStdString();
}

std::string MimeDescriptionForExtension(const std::string& ext) {
  const QMimeType mime = MimeOf(ext);
  if (!mime.isValid() || mime.isDefault()) return {};
  return mime.comment().toStdString();
}
