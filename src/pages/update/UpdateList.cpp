#include "pages/update/UpdateList.h"

#include <dirent.h>
#include <sys/stat.h>

#include <ctime>

#include "core/TextUtil.h"

namespace updatelist {

std::string ArchiveFolder(const std::string& folder) {
  std::string out;
  out.reserve(folder.size() + 1);
  for (char c : folder) {
    if (c == '/' && (out.empty() || out.back() == '/')) continue;  // leading and doubled separators
    out += c;
  }
  if (!out.empty() && out.back() != '/') out += '/';
  return out;
}

namespace {

std::string LastElement(const std::string& folder) {
  std::string f = folder;
  while (!f.empty() && f.back() == '/') f.pop_back();
  const size_t slash = f.rfind('/');
  return slash == std::string::npos ? f : f.substr(slash + 1);
}

}  // namespace

std::string StoredFolder(const std::string& fileFolder, const std::string& relativeRoot, const TPathRule& rule) {
  if (!rule.SaveFolders) return {};
  if (!rule.Relative) return ArchiveFolder(fileFolder);
  if (relativeRoot.empty()) return ArchiveFolder(LastElement(fileFolder));
  std::string root = relativeRoot;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::string folder = fileFolder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder == root) return {};
  if (folder.size() > root.size() && folder.compare(0, root.size(), root) == 0 &&
      (root == "/" || folder[root.size()] == '/'))
    return ArchiveFolder(folder.substr(root.size()));
  return ArchiveFolder(LastElement(folder));
}

bool FindRegularFile(const std::string& path, TFoundFile& found) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  found.Path = path;
  found.Size = st.st_size;
  found.MTime = st.st_mtime;
  return true;
}

int64_t RowEntryTime(const TListRow& row) {
  // DateValue holds the MS-DOS fields as if they were UTC: take them back out and read them locally.
  const time_t key = static_cast<time_t>(row.DateValue);
  struct tm fields {};
  if (!gmtime_r(&key, &fields)) return 0;
  fields.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&fields));
}

bool IsNewer(int64_t fileTime, int64_t entryTime) { return fileTime - entryTime >= 2; }

TUpdatePlan::TUpdatePlan(const std::vector<TListRow>& rows, int64_t notBefore) : notBefore_(notBefore) {
  byKey_.reserve(rows.size() + 64);
  for (size_t i = 0; i < rows.size(); ++i) {
    if (rows[i].File.isEmpty()) continue;  // a folder entry
    TTarget t;
    t.Row = static_cast<int>(i);
    t.Time = rows[i].DateValue;  // read as local time when a file meets it
    t.Listed = true;
    byKey_.try_emplace(rows[i].Key(), t);
  }
}

TUpdatePlan::TVerdict TUpdatePlan::Offer(const TFoundFile& file) {
  if (notBefore_ != 0 && file.MTime < notBefore_) return TVerdict::BeforeCutoff;
  auto [it, added] = byKey_.try_emplace(QString::fromStdString(file.StoredFolder + ExtractFileName(file.Path)));
  TTarget& t = it->second;
  if (added) {
    t.Time = file.MTime;
    t.Taken = true;
    t.Item = items_.size();
    items_.push_back(file);
    newRows_.push_back(RowFor(file, dates_));
    newRowItem_.push_back(t.Item);
    return TVerdict::Added;
  }
  if (t.Listed) {
    TListRow row;
    row.DateValue = t.Time;
    t.Time = RowEntryTime(row);
    t.Listed = false;
  }
  if (!IsNewer(file.MTime, t.Time)) return TVerdict::Older;
  t.Time = file.MTime;
  if (t.Taken) {
    // A newer file for the same name within this action takes the place of the one before.
    items_[t.Item] = file;
    for (size_t r = 0; r < newRowItem_.size(); ++r)
      if (newRowItem_[r] == t.Item) newRows_[r] = RowFor(file, dates_);
    for (auto& [row, f] : replacedRows_)
      if (row == t.Row) f = file;
    return t.Row >= 0 ? TVerdict::Replaced : TVerdict::Added;
  }
  t.Taken = true;
  t.Item = items_.size();
  items_.push_back(file);
  replacedRows_.emplace_back(t.Row, file);
  return TVerdict::Replaced;
}

std::vector<TSourceItem> TUpdatePlan::Items() const {
  std::vector<TSourceItem> out;
  out.reserve(items_.size());
  for (const TFoundFile& f : items_) out.push_back({f.Path, f.StoredFolder + ExtractFileName(f.Path), false});
  return out;
}

int64_t TUpdatePlan::Bytes() const {
  int64_t total = 0;
  for (const TFoundFile& f : items_) total += f.Size;
  return total;
}

TListRow RowFor(const TFoundFile& file, const TDateText& dates) {
  TListRow row;
  row.File = QString::fromStdString(ExtractFileName(file.Path));
  row.SizeValue = file.Size;
  row.Size = GroupedNumber(file.Size);
  row.Date = dates.FromUnix(file.MTime);
  row.DateValue = file.MTime;
  row.Path = QString::fromStdString(file.StoredFolder);
  row.Extra = QString::fromStdString(file.Path);
  return row;
}

namespace {

void ScanOne(const std::string& dir, const std::string& root, bool recurse, const TPathRule& rule,
             std::vector<TFoundFile>& out, const std::atomic<bool>& stop, std::atomic<int64_t>& found) {
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;  // vanished or unreadable: its branch ends
  const std::string prefix = dir == "/" ? dir : dir + "/";
  const std::string stored = StoredFolder(dir, root, rule);
  std::vector<std::string> folders;
  while (!stop.load(std::memory_order_relaxed)) {
    const dirent* e = ::readdir(d);
    if (!e) break;
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string full = prefix + name;
    struct stat st {};
    if (::lstat(full.c_str(), &st) != 0) continue;  // vanished
    if (S_ISDIR(st.st_mode)) {
      if (recurse) folders.push_back(full);
      continue;
    }
    // A link counts as what it points to; a link to a folder is never followed.
    if (S_ISLNK(st.st_mode) && (::stat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) continue;
    if (!S_ISREG(st.st_mode)) continue;
    TFoundFile f;
    f.Path = full;
    f.StoredFolder = stored;
    f.Size = st.st_size;
    f.MTime = st.st_mtime;
    out.push_back(std::move(f));
    found.fetch_add(1, std::memory_order_relaxed);
  }
  ::closedir(d);
  for (const std::string& f : folders) {
    if (stop.load(std::memory_order_relaxed)) return;
    ScanOne(f, root, recurse, rule, out, stop, found);
  }
}

}  // namespace

void ScanFolder(const std::string& folder, bool recurse, const TPathRule& rule, std::vector<TFoundFile>& out,
                const std::atomic<bool>& stop, std::atomic<int64_t>& found) {
  std::string f = folder;
  while (f.size() > 1 && f.back() == '/') f.pop_back();
  ScanOne(f, f, recurse, rule, out, stop, found);
}

}  // namespace updatelist
