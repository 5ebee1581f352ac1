#include "pages/create/CreateList.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QDateTime>
#include <QLocale>
#include <QTimeZone>
#include <algorithm>

#include "core/TextUtil.h"

namespace createlist {

int FindEndingSlash(const std::string& path) {
  const size_t p = path.rfind('/');
  return p == std::string::npos ? 0 : static_cast<int>(p) + 1;
}

std::string StoredPathOf(const std::string& folder, int n, bool saveFolders, bool relative) {
  if (!saveFolders) return {};
  if (relative) {
    if (n < 0 || folder.size() <= static_cast<size_t>(n)) return {};
    return folder.substr(static_cast<size_t>(n));
  }
  size_t start = 0;
  while (start < folder.size() && folder[start] == '/') ++start;
  return folder.substr(start);
}

std::string ShortenFolder(const std::string& folder) {
  std::string f = folder;
  while (f.size() > 1 && f.back() == '/') f.pop_back();
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t slash = f.find('/', start);
    parts.push_back(f.substr(start, slash == std::string::npos ? std::string::npos : slash - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  const std::string last = parts.back();
  parts.pop_back();
  std::string result;
  size_t used = 0;
  for (; used < parts.size(); ++used) {
    if (result.size() + parts[used].size() + 1 + last.size() >= 50) break;
    result += parts[used] + "/";
  }
  if (used < parts.size()) result += "../";
  return result + last;
}

QString SizeText(int64_t size) { return GroupedNumber(size); }

QString DateText(int64_t unixSeconds) {
  const QDateTime t = QDateTime::fromSecsSinceEpoch(unixSeconds);
  const QLocale locale = QLocale::system();
  QString text = locale.toString(t.date(), QLocale::ShortFormat);
  if (t.time() != QTime(0, 0)) {
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove('t');  // no time-zone name in a list cell
    text += " " + t.time().toString(format.trimmed());
  }
  return text;
}

bool FindRegularFile(const std::string& path, TFoundFile& found) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  found.Size = st.st_size;
  found.MTime = st.st_mtime;
  return true;
}

int64_t StartOfDay(int64_t dayNumber) {
  int y = 0, m = 0, d = 0;
  DateOfDayNumber(dayNumber, y, m, d);
  return QDateTime(QDate(y, m, d), QTime(0, 0)).toSecsSinceEpoch();
}

TListRow MakeRow(const std::string& name, const TFoundFile& found, const std::string& storedPath,
                 const std::string& source) {
  TListRow row;
  row.File = QString::fromStdString(name);
  row.Size = SizeText(found.Size);
  row.Date = DateText(found.MTime);
  row.Path = QString::fromStdString(storedPath);
  row.Extra = QString::fromStdString(source);
  row.SizeValue = found.Size;
  row.DateValue = found.MTime;
  return row;
}

void TScanResults::Add(TListRow&& row, UndoEntryRec&& undo, bool makeUndo) {
  std::lock_guard lock(mutex_);
  total_ += row.SizeValue;
  rows_.push_back(std::move(row));
  if (makeUndo) undo_.push_back(std::move(undo));
  ++count_;
}

void TScanResults::SetFolder(const std::string& shown) {
  std::lock_guard lock(mutex_);
  folder_ = shown;
}

void TScanResults::SetFile(const std::string& name) {
  std::lock_guard lock(mutex_);
  file_ = name;
}

void TScanResults::Take(std::vector<TListRow>& rows, std::vector<UndoEntryRec>& undo) {
  std::lock_guard lock(mutex_);
  if (rows.empty()) rows.swap(rows_);
  else std::move(rows_.begin(), rows_.end(), std::back_inserter(rows));
  rows_.clear();
  std::move(undo_.begin(), undo_.end(), std::back_inserter(undo));
  undo_.clear();
}

void TScanResults::Status(std::string& folder, std::string& file) const {
  std::lock_guard lock(mutex_);
  folder = folder_;
  file = file_;
}

namespace {

void ScanOne(const TScanSpec& spec, const std::string& dir, TScanResults& results) {
  if (results.Stop) return;
  results.SetFolder(ShortenFolder(dir));
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  const std::string prefix = dir == "/" ? dir : dir + "/";
  const std::string stored = StoredPathOf(dir, spec.PrefixLength, spec.SaveFolders, spec.Relative);
  while (!results.Stop) {
    const dirent* e = ::readdir(d);
    if (!e) break;
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string full = prefix + name;
    struct stat st {};
    if (::lstat(full.c_str(), &st) != 0) continue;  // vanished
    if (S_ISDIR(st.st_mode)) {
      if (spec.Recurse) ScanOne(spec, full, results);
      continue;
    }
    if (S_ISLNK(st.st_mode) && (::stat(full.c_str(), &st) != 0 || S_ISDIR(st.st_mode))) continue;
    if (!S_ISREG(st.st_mode)) continue;
    results.SetFile(name);
    if (spec.NotBefore != 0 && st.st_mtime < spec.NotBefore) continue;
    const TFoundFile found{st.st_size, st.st_mtime};
    results.Add(MakeRow(name, found, stored, full), UndoEntryRec{name, stored, found.Size}, spec.MakeUndo);
  }
  ::closedir(d);
}

}  // namespace

void ScanFolder(const TScanSpec& spec, TScanResults& results) {
  std::string folder = spec.Folder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  ScanOne(spec, folder, results);
}

}  // namespace createlist
