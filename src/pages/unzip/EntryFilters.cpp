#include "pages/unzip/EntryFilters.h"

#include "pages/common/FileList.h"

QString AsciiLower(const QString& s) {
  QString out = s;
  for (QChar& c : out)
    if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) c = QChar(c.unicode() + ('a' - 'A'));
  return out;
}

QString RowExtension(const QString& caption) {
  const qsizetype dot = caption.lastIndexOf('.');
  return dot < 0 ? QString() : AsciiLower(caption.mid(dot));
}

bool NameTestPasses(const QString& caption, const QString& pattern, bool wholeWord, bool caseSensitive) {
  const QString name = caseSensitive ? caption : AsciiLower(caption);
  const QString want = caseSensitive ? pattern : AsciiLower(pattern);
  return wholeWord ? name.startsWith(want) : name.contains(want);
}

bool TFileTypeFilter::Matches(const TListRow& row) const {
  if (!Extensions.isEmpty()) {
    if (!Extensions.contains(RowExtension(row.File))) return false;
    return Pattern.isEmpty() || NameTestPasses(row.File, Pattern, WholeWord, CaseSensitive);
  }
  return !Pattern.isEmpty() && NameTestPasses(row.File, Pattern, WholeWord, CaseSensitive);
}

bool FolderFileTypeMatches(const QString& caption, const QString& typeChoice) {
  if (typeChoice.isEmpty()) return true;
  const QString ext = RowExtension(caption);
  if (ext.isEmpty()) return typeChoice == kUnknownType;
  return ext == typeChoice;
}

bool FolderRowQualifies(const TListRow& row, const TFolderChoice& choice, const QString& typeChoice) {
  const QString folder = AsciiLower(choice.Folder) + '/';
  const QString path = AsciiLower(row.Path);
  if (!choice.WithSubfolders) return path == folder;
  return path.startsWith(folder) && FolderFileTypeMatches(row.File, typeChoice);
}

QString ShortenedFolderLabel(const QString& path, int limit) {
  QStringList parts = path.split('/', Qt::SkipEmptyParts);
  if (parts.isEmpty()) return path;
  const QString last = parts.takeLast();
  QString text;
  int used = 0;
  while (used < parts.size() && (text + last).size() < limit) text += parts[used++] + '/';
  return text + (used < parts.size() ? "../" : "") + last;
}
