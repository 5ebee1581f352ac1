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

TFolderFilterScan::TFolderFilterScan(std::vector<TFolderChoice> chosen, QString typeChoice)
    : chosen_(std::move(chosen)), type_(std::move(typeChoice)), kept_(chosen_.size()) {
  for (const TFolderChoice& c : chosen_) keys_.push_back(AsciiLower(c.Folder) + '/');
}

const std::vector<int>& TFolderFilterScan::ChoicesOf(const QString& path) {
  if (lastChoices_ && path == lastPath_) return *lastChoices_;
  auto found = byPath_.find(path);
  if (found == byPath_.end()) {
    const QString lowered = AsciiLower(path);
    std::vector<int> choices;
    for (size_t c = 0; c < chosen_.size(); ++c)
      if (chosen_[c].WithSubfolders ? lowered.startsWith(keys_[c]) : lowered == keys_[c]) choices.push_back(static_cast<int>(c));
    found = byPath_.insert(path, std::move(choices));
  }
  lastPath_ = path;
  lastChoices_ = &found.value();
  return *lastChoices_;
}

void TFolderFilterScan::Add(const TListRow& row, int index) {
  const std::vector<int>& choices = ChoicesOf(row.Path);
  if (choices.empty()) return;
  // The type choice applies to folders chosen with their subfolders only.
  int typeOk = -1;
  for (int c : choices) {
    if (chosen_[static_cast<size_t>(c)].WithSubfolders) {
      if (typeOk < 0) typeOk = FolderFileTypeMatches(row.File, type_) ? 1 : 0;
      if (typeOk == 0) continue;
    }
    kept_[static_cast<size_t>(c)].push_back(index);
  }
}

std::vector<int> TFolderFilterScan::Kept() const {
  std::vector<int> out;
  size_t n = 0;
  for (const std::vector<int>& k : kept_) n += k.size();
  out.reserve(n);
  for (const std::vector<int>& k : kept_) out.insert(out.end(), k.begin(), k.end());
  return out;
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
