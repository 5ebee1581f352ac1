#include "app/IncomingQueue.h"

#include <QComboBox>
#include <QSaveFile>
#include <filesystem>
#include <fstream>

#include "app/LongPath.h"
#include "core/Prompt.h"
#include "core/Settings.h"
#include "core/TextUtil.h"

namespace fs = std::filesystem;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool SameContent(const std::string& a, const std::string& b) {
  std::error_code ec;
  if (fs::file_size(a, ec) != fs::file_size(b, ec) || ec) return false;
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  std::vector<char> ba(1 << 16), bb(1 << 16);
  while (fa && fb) {
    fa.read(ba.data(), std::streamsize(ba.size()));
    fb.read(bb.data(), std::streamsize(bb.size()));
    if (fa.gcount() != fb.gcount() || !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin())) return false;
  }
  return fa.eof() && fb.eof();
}

// "name.tar.gz" -> "name (2).tar.gz", "name.zip" -> "name (2).zip".
std::string NumberedName(const std::string& name, int n) {
  size_t cut = EndsWithNoCase(name, ".tar.gz") ? name.size() - 7 : name.rfind('.');
  if (cut == std::string::npos || cut == 0) cut = name.size();
  return name.substr(0, cut) + " (" + std::to_string(n) + ")" + name.substr(cut);
}

}  // namespace

TIncomingQueue::TIncomingQueue(std::vector<std::string>& list, QComboBox* box, std::string queueFile,
                               std::string copiesFolder, std::function<bool(const std::string&)> isTemporary)
    : list_(list),
      box_(box),
      queueFile_(std::move(queueFile)),
      copiesFolder_(std::move(copiesFolder)),
      isTemporary_(std::move(isTemporary)) {
  if (list_.empty()) list_.emplace_back();
}

void TIncomingQueue::EnsureHeader() {
  if (list_.empty()) list_.emplace_back();
  if (box_->count() == 0) box_->addItem(kEmptyText);
}

void TIncomingQueue::ShowState() {
  EnsureHeader();
  box_->setItemText(0, box_->count() > 1 ? kWaitingText : kEmptyText);
  box_->setCurrentIndex(0);
}

void TIncomingQueue::LoadQueue() {
  list_.assign(1, std::string());
  box_->clear();
  box_->addItem(kEmptyText);
  box_->setCurrentIndex(0);
  std::ifstream in(queueFile_, std::ios::binary);
  std::string line;
  std::error_code ec;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || !fs::is_regular_file(line, ec) || !IsArchiveExtension(ExtractFileExt(line))) continue;
    const std::string expanded = ExpandLongPath(line);
    list_.push_back(line);
    box_->addItem(Q(ExtractFileName(expanded.empty() ? line : expanded)));
  }
  ShowState();
}

bool TIncomingQueue::SaveQueue() {
  std::error_code ec;
  if (list_.size() <= 1) {
    if (fs::exists(queueFile_, ec)) fs::remove(queueFile_, ec);
    return true;
  }
  QSaveFile file(Q(queueFile_));  // written beside the queue file, then renamed over it
  bool ok = file.open(QIODevice::WriteOnly);
  for (size_t i = 1; ok && i < list_.size(); ++i) {
    const std::string line = list_[i] + "\n";
    ok = file.write(line.data(), qint64(line.size())) == qint64(line.size());
  }
  if (ok) ok = file.commit();
  if (!ok) {
    ShowError("ERROR WRITING THE QUEUE FILE " + queueFile_ + "\n" + file.errorString().toStdString());
    file.cancelWriting();
  }
  return ok;
}

bool TIncomingQueue::IsInQueue(const std::string& path) const {
  for (const std::string& q : list_)
    if (!q.empty() && EqualsNoCase(q, path)) return true;
  return false;
}

bool TIncomingQueue::QueueOne(const std::string& path) {
  std::string expanded = ExpandLongPath(path);
  // A line break cannot be kept in the one-path-per-line queue file.
  if (expanded.empty() || expanded.find_first_of("\r\n") != std::string::npos) return false;
  if (!IsArchiveExtension(ExtractFileExt(expanded)) || IsInQueue(expanded)) return false;
  if (isTemporary_ && isTemporary_(expanded)) {
    expanded = CopyToQueueFolder(expanded);
    if (expanded.empty() || IsInQueue(expanded)) return false;
  }
  EnsureHeader();
  list_.push_back(expanded);
  box_->addItem(Q(ExtractFileName(expanded)));
  return true;
}

bool TIncomingQueue::AddToQueue(const std::string& path) {
  const bool queued = QueueOne(path);
  if (!queued) return false;
  ShowState();
  SaveQueue();
  return true;
}

void TIncomingQueue::RemoveFromQueue(int i) {
  if (i < 1 || i >= int(list_.size())) return;
  if (i < box_->count()) box_->removeItem(i);
  list_.erase(list_.begin() + i);
  ShowState();
  SaveQueue();
}

void TIncomingQueue::ClearAll(bool keepCopies) {
  box_->clear();
  list_.clear();
  if (!keepCopies) PruneQueueCopies();  // nothing is queued now: every copy goes
  list_.emplace_back();
  box_->addItem(kEmptyText);
  ShowState();
}

std::string TIncomingQueue::CopiesFolder() const {
  std::error_code ec;
  const fs::path folder = fs::weakly_canonical(copiesFolder_, ec);
  return ec ? copiesFolder_ : folder.string();
}

std::string TIncomingQueue::CopyTargetFor(const std::string& path) const {
  const std::string folder = CopiesFolder();
  std::error_code ec;
  const std::string source = fs::weakly_canonical(path, ec).string();
  if (ExtractFileDir(source) == folder) return source;  // already a copy: never copy it onto itself
  const std::string name = ExtractFileName(source);
  for (int n = 1; n < 10000; ++n) {
    const std::string target = folder + "/" + (n == 1 ? name : NumberedName(name, n));
    if (!fs::exists(target, ec) || SameContent(source, target)) return target;
    if (!IsInQueue(target) && !(InUse && InUse(target))) return target;
  }
  return {};
}

bool TIncomingQueue::CopyFileTo(const std::string& source, const std::string& target) {
  std::error_code ec;
  if (source.empty() || target.empty()) return false;
  if (fs::exists(target, ec) && fs::equivalent(source, target, ec)) return true;
  const fs::path folder = fs::path(target).parent_path();
  fs::create_directories(folder, ec);
  std::string partName(1, '.');
  partName.append(fs::path(target).filename().string()).append(".part");
  const fs::path part = folder / partName;
  if (!fs::copy_file(source, part, fs::copy_options::overwrite_existing, ec)) {
    fs::remove(part, ec);
    return false;
  }
  fs::rename(part, target, ec);
  if (ec) {
    fs::remove(part, ec);
    return false;
  }
  return true;
}

std::string TIncomingQueue::CopyToQueueFolder(const std::string& path) const {
  const std::string target = CopyTargetFor(path);
  return CopyFileTo(path, target) ? target : std::string();
}

void TIncomingQueue::PruneQueueCopies() const {
  std::error_code ec;
  const std::string folder = CopiesFolder();
  if (!fs::is_directory(folder, ec)) return;
  std::vector<fs::path> doomed;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (name.empty() || name[0] == '.' || e.is_directory(ec) || !e.is_regular_file(ec)) continue;
    if (InUse && InUse(e.path().string())) continue;  // the archive the page shows
    if (list_.empty() || !IsInQueue(e.path().string())) doomed.push_back(e.path());
  }
  for (const fs::path& p : doomed) fs::remove(p, ec);
}
