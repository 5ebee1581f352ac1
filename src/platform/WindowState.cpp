#include "platform/WindowState.h"

#include <QFile>
#include <QSaveFile>

namespace {

// One value a line: key, '=', the bytes in base64.
constexpr qint64 kMaxFileSize = 1 << 20;

bool ValidKey(const QString& key) {
  if (key.isEmpty()) return false;
  for (QChar c : key)
    if (!(c.isLetterOrNumber() || c == '.' || c == '_') || c.unicode() > 127) return false;
  return true;
}

}  // namespace

bool TWindowState::Load() {
  values_.clear();
  QFile file(QString::fromStdString(path_));
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize) return false;
  for (const QByteArray& line : file.readAll().split('\n')) {
    const qsizetype eq = line.indexOf('=');
    if (eq <= 0) continue;
    const QString key = QString::fromLatin1(line.left(eq));
    const auto decoded = QByteArray::fromBase64Encoding(line.mid(eq + 1).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (ValidKey(key) && decoded) values_[key] = *decoded;
  }
  return true;
}

bool TWindowState::Save() const {
  QSaveFile file(QString::fromStdString(path_));
  if (!file.open(QIODevice::WriteOnly)) return false;
  for (const auto& [key, value] : values_) {
    if (!ValidKey(key)) continue;
    file.write(key.toLatin1() + '=' + value.toBase64() + '\n');
  }
  return file.commit();
}

QByteArray TWindowState::Value(const QString& key) const {
  const auto it = values_.find(key);
  return it == values_.end() ? QByteArray() : it->second;
}
