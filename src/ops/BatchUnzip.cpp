#include "ops/BatchUnzip.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/TextUtil.h"
#include "ops/Jobs.h"
#include "safeout/MoveFile.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kOtherSuffixes[] = {".tar.gz", ".tgz", ".tar", ".gz", ".rar"};
constexpr const char* kSystemFolders[] = {"/usr/", "/opt/", "/etc/", "/var/lib/", "/snap/", "/boot/"};

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const fs::path abs = fs::absolute(path, ec);
  return WithoutTrailingSlash((ec ? fs::path(path) : abs).lexically_normal().string());
}

// The folder of an absolute path, with its trailing "/".
std::string FolderWithSlash(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

bool UnderSystemFolder(const std::string& folderWithSlash) {
  return std::any_of(std::begin(kSystemFolders), std::end(kSystemFolders),
                     [&](const char* f) { return StartsWith(folderWithSlash, f); });
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

// Questions that no one answers (tallying).
class TNoQuestions final : public IJobQuestions {
 public:
  TOverwriteChoice AskOverwrite(const TOverwriteQuestion&) override { return TOverwriteChoice::NoToAll; }
  TPasswordChoice AskPassword(const std::string&, std::string& password) override {
    password.clear();
    return TPasswordChoice::CancelAll;
  }
  TSecurityChoice AskSecurity(const std::vector<TUnsafeName>&) override { return TSecurityChoice::Halt; }
  TDamagedChoice AskDamaged(const std::string&, const TStatus&) override { return TDamagedChoice::Skip; }
};

}  // namespace

bool IsBatchArchiveName(const std::string& name, bool allTypes) {
  const std::string lower = LowerCase(name);
  if (EndsWith(lower, ".zip")) return true;
  return allTypes && std::any_of(std::begin(kOtherSuffixes), std::end(kOtherSuffixes),
                                 [&](const char* s) { return EndsWith(lower, s); });
}

std::string BatchFolderName(const std::string& archiveName) {
  const std::string lower = LowerCase(archiveName);
  std::string name = archiveName;
  if (EndsWith(lower, ".zip")) {
    name = archiveName.substr(0, lower.find(".zip"));
  } else {
    for (const char* s : kOtherSuffixes) {
      if (EndsWith(lower, s)) {
        name = archiveName.substr(0, archiveName.size() - std::strlen(s));
        break;
      }
    }
  }
  return name.empty() ? archiveName : name;
}

std::string MakeNumberedFolder(const std::string& base, const std::string& name, std::string& error) {
  error.clear();
  std::error_code ec;
  fs::create_directories(base, ec);
  if (ec && !fs::is_directory(base)) {
    error = "cannot create the folder " + base + ": " + ec.message();
    return {};
  }
  const std::string first = Join(base, name);
  for (int n = 0; n < 1000000; ++n) {
    const std::string candidate = n == 0 ? first : first + "0" + std::to_string(n);
    if (::mkdir(candidate.c_str(), 0777) == 0) return candidate;
    if (errno != EEXIST) {
      error = "cannot create the folder " + candidate + ": " + std::strerror(errno);
      return {};
    }
  }
  error = "no free folder name for " + first;
  return {};
}

bool NeverMoveArchive(const std::string& archive) {
  const std::string abs = AbsolutePath(archive);
  const std::string folder = FolderWithSlash(abs);
  if (LowerCase(folder).find("java") != std::string::npos ||
      LowerCase(ExtractFileName(abs)).find("java") != std::string::npos)
    return true;
  if (UnderSystemFolder(folder)) return true;
  std::error_code ec;
  const fs::path real = fs::weakly_canonical(fs::path(abs).parent_path(), ec);
  return !ec && UnderSystemFolder(WithoutTrailingSlash(real.string()) + "/");
}

std::string BatchMoveFolder(const std::string& archive, const std::string& moveFolder, bool recreate, bool failed) {
  const std::string move = WithoutTrailingSlash(moveFolder);
  if (failed) return Join(move, "ZipError");
  if (!recreate) return move;
  const std::string folder = WithoutTrailingSlash(FolderWithSlash(AbsolutePath(archive)));
  if (folder == "/") return move;
  return move == "/" ? folder : move + folder;
}

bool TallyArchive(const std::string& path, bool allTypes, TArchiveTally& tally) {
  tally = {};
  const TFormatMatch m = DetectArchiveFormat(path);
  if (m.Status.Failed() || m.Format == TArchiveFormat::Unknown) return false;
  if (!allTypes && m.Format != TArchiveFormat::Zip) return false;
  TListParams p;
  p.Archive = path;
  p.Format = m.Format;
  TListJob job(p);
  TNoQuestions none;
  job.Questions = &none;
  const TJobResult r = job.Run();
  if (r.Status.Failed()) return false;
  tally.Unpacked = job.TotalSize();
  tally.Entries = r.Counts.Entries;
  return true;
}

// ---------------------------------------------------------------------------------------------------

TBatchScanJob::TBatchScanJob(TBatchScanParams params) : params_(std::move(params)) {}

void TBatchScanJob::TakeFound(std::vector<TBatchFound>& out) {
  std::lock_guard lock(mutex_);
  if (out.empty()) {
    out.swap(pending_);
    return;
  }
  out.insert(out.end(), std::make_move_iterator(pending_.begin()), std::make_move_iterator(pending_.end()));
  pending_.clear();
}

std::string TBatchScanJob::CurrentFolder() const {
  std::lock_guard lock(mutex_);
  return folder_;
}

TStatus TBatchScanJob::Execute(TJobContext& ctx) {
  known_ = params_.Known;
  std::sort(known_.begin(), known_.end());
  ScanFolder(ctx, WithoutTrailingSlash(params_.Folder));
  {
    std::lock_guard lock(mutex_);
    folder_.clear();
  }
  return ctx.Cancelled() ? TStatus::Cancelled() : TStatus();
}

void TBatchScanJob::ScanFolder(TJobContext& ctx, const std::string& folder) {
  if (ctx.Cancelled()) return;
  // The names are read first and the folder closed, so that deep trees hold one folder open at a time.
  struct TName {
    std::string name;
    unsigned char type;
  };
  std::vector<TName> names;
  {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;  // vanished or unreadable: passed over
    {
      std::lock_guard lock(mutex_);
      folder_ = folder;
    }
    while (const dirent* e = ::readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      names.push_back({e->d_name, e->d_type});
    }
    ::closedir(dir);
  }
  for (const TName& n : names) {
    if (ctx.Cancelled()) return;
    const std::string path = Join(folder, n.name);
    unsigned char type = n.type;
    struct stat st {};
    bool haveStat = false;
    if (type == DT_UNKNOWN) {
      if (::lstat(path.c_str(), &st) != 0) continue;
      haveStat = true;
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_LNK;
    }
    if (type == DT_DIR) {
      if (params_.Subfolders) ScanFolder(ctx, path);
      continue;
    }
    if (type != DT_REG || !IsBatchArchiveName(n.name, params_.AllTypes)) continue;
    if (std::binary_search(known_.begin(), known_.end(), path)) continue;
    if (!haveStat && (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))) continue;
    TBatchFound f;
    f.Path = path;
    f.Size = static_cast<uint64_t>(st.st_size);
    f.Time = st.st_mtim.tv_sec;
    TallyArchive(path, params_.AllTypes, f.Tally);
    packed_ += f.Size;
    {
      std::lock_guard lock(mutex_);
      pending_.push_back(std::move(f));
    }
    ++found_;
  }
}

// ---------------------------------------------------------------------------------------------------

// The questions of the archive in work: a password at most once per archive (named by the archive),
// CancelAll for the rest of the run; nothing else is asked.
class TBatchUnzipJob::TQuestions final : public IJobQuestions {
 public:
  TQuestions(IJobQuestions& outer, TJobContext& run) : outer_(outer), run_(run) {}
  void StartArchive(const std::string& archive) {
    archive_ = archive;
    asked_ = false;
  }

  TOverwriteChoice AskOverwrite(const TOverwriteQuestion&) override { return TOverwriteChoice::NoToAll; }
  TPasswordChoice AskPassword(const std::string&, std::string& password) override {
    password.clear();
    if (cancelAll_) return TPasswordChoice::CancelAll;
    if (asked_) return TPasswordChoice::Cancel;
    asked_ = true;
    const TPasswordChoice choice = outer_.AskPassword(archive_, password);
    if (choice == TPasswordChoice::CancelAll) cancelAll_ = true;
    if (choice == TPasswordChoice::Abort) run_.RequestCancel();
    return choice;
  }
  // Names that cleaning changes are written cleaned, inside the archive's folder; the extractors
  // warn about them and the archive counts as failed.
  TSecurityChoice AskSecurity(const std::vector<TUnsafeName>&) override { return TSecurityChoice::Ignore; }
  TDamagedChoice AskDamaged(const std::string&, const TStatus&) override { return TDamagedChoice::Skip; }

 private:
  IJobQuestions& outer_;
  TJobContext& run_;
  std::string archive_;
  bool asked_ = false;
  bool cancelAll_ = false;
};

void TBatchUnzipJob::AbortCurrent() {
  Cancel();
  std::lock_guard lock(innerMutex_);
  aborted_ = true;
  if (inner_) inner_->Cancel();
}

TStatus TBatchUnzipJob::Execute(TJobContext& ctx) {
  TQuestions questions(ctx.Questions(), ctx);
  int failed = 0, notMoved = 0;
  items_.reserve(params_.Archives.size());
  for (size_t i = 0; i < params_.Archives.size(); ++i) {
    if (ctx.Cancelled()) break;
    const TBatchArchive& a = params_.Archives[i];
    index_ = static_cast<int32_t>(i);
    entries_ = a.Entries;
    done_ = 0;
    total_ = a.Unpacked;
    TBatchItem item = UnzipOne(ctx, a, questions);
    if (!params_.MoveFolder.empty()) MoveOne(item);
    if (!item.Unzipped()) {
      ++failed;
      ctx.Message(TStatus::Warning(item.Archive + ": " + item.Status.Text()));
    }
    if (item.Move == TBatchMove::Failed) {
      ++notMoved;
      ctx.Message(TStatus::Warning(item.Archive + ": " + item.MoveStatus.Text()));
    }
    items_.push_back(std::move(item));
    ++finished_;
    if (OnArchiveDone) OnArchiveDone(i, items_.back());
  }
  if (failed == 0 && notMoved == 0) return {};
  std::string text = std::to_string(failed) + " of " + std::to_string(items_.size()) + " archives could not be unzipped";
  if (notMoved) text += ", " + std::to_string(notMoved) + " could not be moved";
  return TStatus::Warning(text);
}

TBatchItem TBatchUnzipJob::UnzipOne(TJobContext& ctx, const TBatchArchive& archive, TQuestions& questions) {
  TBatchItem item;
  item.Archive = AbsolutePath(archive.Path);
  struct stat st {};
  if (::stat(item.Archive.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    item.Status = {TStatusCode::NotFound, "the archive is no longer there"};
    return item;
  }
  const TFormatMatch m = DetectArchiveFormat(item.Archive);
  if (m.Status.Failed()) {
    item.Status = m.Status;
    return item;
  }
  if (m.Format == TArchiveFormat::Unknown) {
    item.Status = {TStatusCode::Unsupported, "not an archive of a known kind"};
    return item;
  }
  if (!params_.AllTypes && m.Format != TArchiveFormat::Zip) {
    item.Status = {TStatusCode::Unsupported, std::string("a ") + ArchiveFormatName(m.Format) +
                                                 " archive: only zip archives are taken unless all archive types are"};
    return item;
  }
  const std::string base = params_.Destination.empty() ? WithoutTrailingSlash(FolderWithSlash(item.Archive))
                                                       : WithoutTrailingSlash(params_.Destination);
  std::string error;
  item.Target = MakeNumberedFolder(base, BatchFolderName(ExtractFileName(item.Archive)), error);
  if (item.Target.empty()) {
    item.Status = {TStatusCode::WriteFailed, error};
    return item;
  }

  TExtractParams p;
  p.Archive = item.Archive;
  p.Format = m.Format;
  p.Destination = item.Target;
  p.DirNames = true;
  p.Overwrite = TOverwriteMode::Never;
  TExtractJob job(p);
  job.Questions = &questions;
  job.OnProgress = [this](const TJobProgress& progress) {
    done_ = progress.Done;
    if (progress.Total) total_ = progress.Total;
  };
  questions.StartArchive(item.Archive);
  {
    std::lock_guard lock(innerMutex_);
    if (aborted_) job.Cancel();
    inner_ = &job;
  }
  const TJobResult r = job.Run();
  {
    std::lock_guard lock(innerMutex_);
    inner_ = nullptr;
  }
  ctx.Counts.Files += r.Counts.Files;
  ctx.Counts.Folders += r.Counts.Folders;
  ctx.Counts.Links += r.Counts.Links;
  ctx.Counts.Skipped += r.Counts.Skipped;
  ctx.Counts.Bytes += r.Counts.Bytes;
  item.Status = r.Status;
  // Anything left out fails the archive: it is not unzipped whole.
  if (item.Status.IsOk() && (!r.Refused.empty() || r.Counts.Skipped > 0))
    item.Status = TStatus::Warning(r.Warnings.empty() ? "some entries were left out" : r.Warnings.front());
  if (item.Status.Code() == TStatusCode::Warning && item.Status.Message().empty())
    item.Status = TStatus::Warning(r.Warnings.empty() ? "some entries were left out" : r.Warnings.front());
  return item;
}

void TBatchUnzipJob::MoveOne(TBatchItem& item) {
  if (NeverMoveArchive(item.Archive)) {
    item.Move = TBatchMove::Never;
    return;
  }
  item.Move = TBatchMove::Failed;
  if (!Exists(item.Archive)) {
    item.MoveStatus = {TStatusCode::NotFound, "the archive is no longer there"};
    return;
  }
  const std::string folder = BatchMoveFolder(item.Archive, params_.MoveFolder, params_.RecreateFolders, !item.Unzipped());
  const std::string name = ExtractFileName(item.Archive);
  std::error_code ec;
  for (int n = 0; n < 100000; ++n) {
    const std::string dir = n == 0 ? folder : Join(folder, "dupe0" + std::to_string(n));
    const std::string target = Join(dir, name);
    if (Exists(target)) continue;
    fs::create_directories(dir, ec);
    if (ec && !fs::is_directory(dir)) {
      item.MoveStatus = {TStatusCode::WriteFailed, "cannot create the folder " + dir + ": " + ec.message()};
      return;
    }
    const safeout::TResult r = safeout::MoveFileNoReplace(item.Archive, target);
    if (r) {
      item.Move = TBatchMove::Moved;
      item.MovedTo = target;
      return;
    }
    if (r.fault == safeout::TFault::Exists) continue;  // taken meanwhile: the next dupe folder
    item.MoveStatus = {r.fault == safeout::TFault::NoSpace ? TStatusCode::NoSpace : TStatusCode::WriteFailed, r.text};
    return;
  }
  item.MoveStatus = {TStatusCode::WriteFailed, "no free name for " + name + " in " + folder};
}
