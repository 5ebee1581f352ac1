// The creation runs of the create page: zip (one engine call for the list, or relative folders), tar,
// gzipped tar and gzip. Each builds its archive under a temporary name beside the target and renames
// it into place only when complete.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>

#include "core/Prompt.h"
#include "core/Settings.h"
#include "core/TextUtil.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/create/CreatePage.h"
#include "platform/FileSystem.h"
#include "platform/TempFolders.h"
#include "tar/TarLib.h"

namespace fs = std::filesystem;

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

const char* const kNoFiles = "YOU HAVE NOT SELECTED ANY FILES TO ADD TO THIS ZIP FILE";

struct TTypeInfo {
  const char* DefaultExt;
  const char* Filter;
  const char* Appended;
};
const TTypeInfo kTypes[] = {{"zip", "ZIP Files|*.zip", ".zip"},
                            {"tar.gz", "GZipped TAR Files|*.tar.gz", ".tar.gz"},
                            {"tar", "TAR Files|*.tar", ".tar"},
                            {"gz", "GZip Files|*.gz", ".gz"}};

// Renames the finished archive over the target; false with `error` set when that fails.
bool Publish(const std::string& part, const std::string& target, std::string& error) {
  if (::rename(part.c_str(), target.c_str()) == 0) return true;
  error = std::strerror(errno);
  ::unlink(part.c_str());
  return false;
}

// A readable regular file (what every archive run needs of its sources).
bool CanRead(const std::string& path, std::string& why) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  if (!regular) why = "not a regular file";
  return regular;
}

}  // namespace

std::string PartNameFor(const std::string& target) {
  static std::mt19937_64 rng(std::random_device{}() ^
                             static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  static std::mutex m;
  char tag[20];
  {
    std::lock_guard lock(m);
    std::snprintf(tag, sizeof tag, "%08llx", static_cast<unsigned long long>(rng() & 0xffffffffULL));
  }
  const std::string folder = FolderOf(target);
  return (folder == "/" ? std::string() : folder) + "/.~" + tag + "-" + ExtractFileName(target);
}

bool TCreatePage::TargetFolderUsable(const std::string& target) {
  const std::string folder = FolderOf(target);
  if (IsWritableFolder(folder)) return true;
  Report("THE FOLDER " + folder + " CANNOT BE WRITTEN TO.\nCHOOSE ANOTHER FOLDER FOR THE ARCHIVE AND TRY AGAIN.");
  return false;
}

// ---------------------------------------------------------------------------------------------
// ZIP button

void TCreatePage::ZipButtonClick() {
  if (!ZipListView->HasRows()) {
    ShowError(kNoFiles);
    return;
  }
  TSettings& s = Host.Settings();
  int type = s.DefaultArchiveType;
  if (type == 0) {
    TZipTypeForm window(ZipListView->Count() == 1, this);
    ExecModal(window, "TZipTypeForm");
    type = window.ChosenType();
    if (window.MakeDefault()) s.DefaultArchiveType = type;
  } else if (type < 1 || type > 4) {
    type = 1;
  }
  if (type == 4 && ZipListView->Count() > 1) type = 1;
  const TTypeInfo& info = kTypes[type - 1];

  std::string name = Prompt().SaveFileName("Choose a name for your zip file ", s.ArchiveSaveFolder, info.Filter);
  if (name.empty()) {
    SetFiveButtons(true);
    ZipListView->setEnabled(true);
    ZipListView->setFocus();
    return;
  }
  s.ArchiveSaveFolder = FolderOf(name);
  if (LowerCase(name).find(info.Appended) == std::string::npos) name += info.Appended;
  Host.SetCurrentArchiveFile(name);
  if (!TargetFolderUsable(name)) return;

  const int64_t needed = type == 3 ? TotalBytes : TotalBytes / 10 * 7;
  if (FreeOnDisk(s.ArchiveSaveFolder) < needed) {
    const TPromptAnswer a = Prompt().ShowMessage(
        "Tandor File",
        "THERE MAY NOT BE ENOUGH ROOM ON THE DISK\nTO SAVE THIS ZIP FILE.  CHOOSE CANCEL TO SELECT A NEW DRIVE\n"
        "ATTEMPT TO SAVE THIS ZIP FILE ON THE SELECTED DRIVE?",
        TPromptIcon::Warning, TPromptButtons::YesCancel);
    if (a != TPromptAnswer::Yes) return;
  }
  if (type == 2 && !CheckTarGzRoom(TotalBytes)) return;

  ZipRunStarted = false;
  switch (type) {
    case 1:
      if (s.RelativePaths) MakeZipRelPath();
      else MakeZipFDLL();
      ZipRunStarted = true;
      break;
    case 2: MakeTarGzFilethread(); break;
    case 3: MakeTarFileThread(); break;
    case 4: MakeGZFileThread(); break;
  }
}

bool TCreatePage::PrepareZipKit() {
  Host.DisableAll();
  const TSettings& s = Host.Settings();
  AddOpts o{AddHiddenFiles};
  if (s.SaveZipFolders) o.Include(AddDirNames);
  if (s.ArchiveBitOnly) {
    o.Include(AddArchiveOnly);
    o.Include(AddResetArchive);
  }
  if (!s.LongFileNames) o.Include(AddForceDOS);
  if (s.AddPassword) o.Include(AddEncrypt);
  if (s.SetArchiveTime) o.Include(AddZipTime);
  // A multi-disk set: the engine runs make one archive, which is then copied onto the parts (a
  // spanned engine run each would make a set of its own).
  spanOptions_ = AddOpts{};
  if (s.SpanDisks) spanOptions_.Include(AddDiskSpan);
  if (s.EraseDisk) spanOptions_.Include(AddDiskSpanErase);
  ZipKit.AddOptions = o;
  ZipKit.Unattended = BatchCreateMode;
  ZipKit.MaxVolumeSize = 0;
  if (!spanOptions_.Empty() && !BatchCreateMode) {
    TSpanSizeForm window(this);
    ExecModal(window, "TSpanSizeForm");
    ZipKit.MaxVolumeSize = window.ChosenSize();
  }
  targetPath_ = Host.CurrentArchiveFile();
  resultPath_ = targetPath_;
  partPath_ = PartNameFor(targetPath_);
  ZipKit.SetPassword({});
  if (s.AddPassword && !BatchCreateMode) {
    TPasswordButton action = PbOk;
    const std::string password = ZipKit.AskAddPassword(action);
    if (password.empty()) {
      ShowError("NO PASSWORD WAS GIVEN, SO THE ZIP FILE WAS NOT CREATED.");
      return false;
    }
    ZipKit.SetPassword(password);
  }
  if (!ZipKit.ZipEngineLoaded() && ZipKit.LoadZipEngine() == 0) return false;
  ZipKit.SetZipFileName(partPath_);
  ZipKit.FSpecArgs.clear();
  ZipKit.FSpecArgsExcl.clear();
  {
    Host.RunState().JobTotalBytes = 0;
    Host.RunState().JobDoneBytes = 0;
  }
  return true;
}

// The checks both zip runs make first: rows to zip, a usable target folder, the component set up.
bool TCreatePage::BeginZipRun() {
  if (!ZipListView->HasRows()) {
    if (!BatchCreateMode) ShowError(kNoFiles);
    return false;
  }
  if (!TargetFolderUsable(Host.CurrentArchiveFile())) {
    ZipFailed = true;
    QTimer::singleShot(0, this, [this] { emit RunEnded(false); });
    return false;
  }
  if (!PrepareZipKit()) {
    Host.EnableAll();
    SetFiveButtons(true);
    ZipFailed = true;
    QTimer::singleShot(0, this, [this] { emit RunEnded(false); });
    return false;
  }
  return true;
}

bool TCreatePage::MakeZipFDLL() {
  if (!BeginZipRun()) return false;
  std::vector<std::string> specs;
  int64_t total = 0;
  for (const TListRow& r : ZipListView->Model()->Rows()) {
    specs.push_back(r.Extra.toStdString());
    total += RemoveCommas(r.Size.toStdString());
  }
  Host.RunState().JobTotalBytes = total;
  progressTotal_ = total;
  if (specs.empty()) {
    if (!BatchCreateMode) ShowError("THERE WERE NO FILES TO ZIP\nADD FILES TO THE GRID LIST AND TRY AGAIN");
    Host.EnableAll();
    QTimer::singleShot(0, this, [this] { emit RunEnded(false); });
    return true;
  }
  StartZipWorker({{std::string(), std::move(specs)}});
  return true;
}

bool TCreatePage::MakeZipRelPath() {
  if (!BeginZipRun()) return false;
  // One engine call per run of consecutive rows sharing a root folder: the engine stores each file
  // under its path below that root, which is the row's Path followed by its name.
  std::vector<std::pair<std::string, std::vector<std::string>>> calls;
  int64_t total = 0;
  for (const TListRow& r : ZipListView->Model()->Rows()) {
    const std::string source = r.Extra.toStdString();
    const std::string stored = r.Path.toStdString();
    const std::string folder = FolderOf(source);
    std::string root = folder;
    if (!stored.empty() && folder.size() > stored.size() &&
        folder.compare(folder.size() - stored.size(), stored.size(), stored) == 0 &&
        folder[folder.size() - stored.size() - 1] == '/') {
      root = folder.substr(0, folder.size() - stored.size() - 1);
      if (root.empty()) root = "/";
    }
    if (calls.empty() || calls.back().first != root) calls.push_back({root, {}});
    calls.back().second.push_back(source);
    total += r.SizeValue;
  }
  Host.RunState().JobTotalBytes = total;
  progressTotal_ = total;
  StartZipWorker(std::move(calls));
  return true;
}

void TCreatePage::StartZipWorker(std::vector<std::pair<std::string, std::vector<std::string>>> calls) {
  stopRequested_ = false;
  zipErrorSeen_ = false;
  ZipKit.Cancel = false;
  ZipStopButton->setEnabled(true);
  progressDone_ = 0;
  ZipProgressBar->setValue(0);
  progressTimer_.start();
  zipRunActive_ = true;
  runOk_ = false;
  ZipFailed = false;
  Host.RunState().JobKind = 1;
  const std::string comment = CreateTagEdit->text().toStdString();
  worker_.reset(QThread::create([this, calls = std::move(calls), comment] {
    bool ok = true;
    std::string why;
    for (const auto& call : calls) {
      for (const std::string& source : call.second) {
        if (!CanRead(source, why)) {
          Report("THE FILE " + source + " CANNOT BE READ (" + why + ").\nTHE ZIP FILE WAS NOT CREATED.");
          ok = false;
          break;
        }
      }
      if (!ok) break;
    }
    for (size_t i = 0; ok && i < calls.size(); ++i) {
      if (stopRequested_) break;
      ZipKit.FSpecArgs = calls[i].second;
      ZipKit.RootDir = calls[i].first;
      ZipKit.ErrCode = 0;
      try {
        ZipKit.AddFiles();
      } catch (...) {
        Report("FATAL DLL ERROR");
        ok = false;
      }
      if (ZipKit.SuccessCount <= 0 || ZipKit.ErrCode != 0 || zipErrorSeen_) ok = false;
    }
    ZipKit.RootDir.clear();
    if (stopRequested_) ok = false;
    if (ok && !comment.empty()) {
      ZipKit.SetArchiveComment(comment);
      if (ZipKit.ErrCode != 0) ok = false;
    }
    if (ok && !spanOptions_.Empty()) {
      // The archive onto the parts of the set; the component asks for disks and reports failures.
      std::error_code ec;
      progressDone_ = 0;
      progressTotal_ = static_cast<int64_t>(std::filesystem::file_size(partPath_, ec));
      ZipKit.AddOptions = spanOptions_;
      ok = ZipKit.WriteSpannedArchive(partPath_, targetPath_) == 0;
      if (ok) resultPath_ = ZipKit.SpannedSetName(targetPath_);
      ::unlink(partPath_.c_str());
      if (!ok && !stopRequested_) Report("THE ZIP FILE WAS NOT CREATED.");
    } else if (ok && !Publish(partPath_, targetPath_, why)) {
      Report("THE ZIP FILE " + targetPath_ + " COULD NOT BE SAVED (" + why + ").");
      ok = false;
    } else if (!ok) {
      ::unlink(partPath_.c_str());
      if (!stopRequested_) Report("THE ZIP FILE WAS NOT CREATED.");
    }
    runOk_ = ok;
    QMetaObject::invokeMethod(this, [this] { EnableTimer.start(); }, Qt::QueuedConnection);
  }));
  worker_->start();
}

void TCreatePage::ZipStopButtonClick() {
  ZipStopButton->setEnabled(false);
  ZipKit.Cancel = true;
  stopRequested_ = true;
}

void TCreatePage::ZipPropertiesButtonClick() {
  if (ShowProperties) {
    Host.SetModalDialogOpen(true);
    ShowProperties(Host.Settings().DefaultArchiveType == 1 ? "ADD Files" : "Default Type");
    Host.SetModalDialogOpen(false);
  }
  ZipListView->setEnabled(true);
  ZipListView->setFocus();
}

void TCreatePage::ProgressTimerTimer() {
  const int64_t total = progressTotal_;
  const int64_t done = progressDone_;
  ZipProgressBar->setValue(total > 0 ? static_cast<int>(std::min<int64_t>(100, done * 100 / total)) : 0);
}

void TCreatePage::EnableTimerEnded() {
  if (!zipRunActive_ && !gzipRunActive_) return;
  const bool wasZip = zipRunActive_;
  zipRunActive_ = gzipRunActive_ = false;
  if (worker_) worker_->wait();
  worker_.reset();
  progressTimer_.stop();
  ZipKit.Cancel = false;
  ZipKit.SetPassword({});
  GzipProgressToCreatePage = false;
  const bool ok = runOk_;
  if (wasZip) {
    ZipFailed = !ok;
    if (ok && resultPath_ != targetPath_) Host.SetCurrentArchiveFile(resultPath_);
    ZipKit.SetZipFileName(ok ? resultPath_ : std::string());
  }
  // After the main window's own handler has enabled the page.
  QTimer::singleShot(0, this, [this, ok] { emit RunEnded(ok); });
}

// ---------------------------------------------------------------------------------------------
// Tar and gzip

void TCreatePage::ZipTarGZButtonsOff() {
  for (QWidget* w : std::initializer_list<QWidget*>{OpenFilesZipButton, OpenFolderzipButton, ZipUndoButton,
                                                    BatchButton, CreateTagButton, ZipResetButton,
                                                    ZipPropertiesButton, ZipButton, ZipHelpButton, ZipExitButton,
                                                    ZipListView})
    w->setEnabled(false);
}

void TCreatePage::ZipTarGZButtonsOn() {
  Host.EnableAll();
  for (QWidget* w : std::initializer_list<QWidget*>{ZipUndoButton, BatchButton, CreateTagButton, ZipResetButton,
                                                    ZipButton, ZipPropertiesButton, ZipHelpButton, ZipExitButton,
                                                    this, ZipListView})
    w->setEnabled(true);
  while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
  ZipListView->setFocus();
}

bool TCreatePage::CheckTarGzRoom(int64_t total) {
  const std::string target = FolderOf(Host.CurrentArchiveFile());
  const std::string temp = Host.TempFolders().TempFolder();
  const int64_t packed = static_cast<int64_t>(static_cast<double>(total) * 0.65);
  if (SameFileSystem(target, temp)) {
    if (FreeOnDisk(target) < total + packed) {
      Report("THE PROGRAM MUST CREATE A TAR FILE BEFORE CREATING THE GZIPPED FILE, AND THERE IS NOT ENOUGH ROOM ON "
             "THE DRIVE YOU HAVE CHOSEN FOR BOTH FILES.  CHOOSE ANOTHER FOLDER IN WHICH TO SAVE THE GZIPPED FILE AND "
             "TRY AGAIN.");
      return false;
    }
    return true;
  }
  if (FreeOnDisk(temp) < total && !Host.TempFolders().ChooseNewTempFolder(total)) return false;
  if (FreeOnDisk(target) + 65000 < packed) {
    Report("THERE MAY NOT BE ENOUGH ROOM ON THE DRIVE YOU HAVE SELECTED TO SAVE THE GZIPPED FILE.  TRY SELECTING "
           "ANOTHER DRIVE OR FREEING UP SOME ROOM ON DISK AND TRY AGAIN.");
    Host.TempFolders().TarTempFolder.clear();
    return false;
  }
  return true;
}

void TCreatePage::MakeTarFileThread() {
  if (!BatchCreateMode) ZipTarGZButtonsOff();
  tarThenGzip_ = false;
  targetPath_ = Host.CurrentArchiveFile();
  if (!TargetFolderUsable(targetPath_)) {
    TarFailed = true;
    if (!BatchCreateMode) ZipTarGZButtonsOn();
    QTimer::singleShot(0, this, [this] { emit RunEnded(false); });
    return;
  }
  TarStep(PartNameFor(targetPath_));
}

void TCreatePage::MakeTarGzFilethread() {
  if (!BatchCreateMode) ZipTarGZButtonsOff();
  targetPath_ = Host.CurrentArchiveFile();
  if (!TargetFolderUsable(targetPath_)) {
    TarFailed = true;
    if (!BatchCreateMode) ZipTarGZButtonsOn();
    QTimer::singleShot(0, this, [this] { emit RunEnded(false); });
    return;
  }
  GzipProgressToCreatePage = true;
  Gzip.ProgressStep = 1;
  const std::string tag = CreateTagEdit->text().toStdString();
  if (!tag.empty()) {
    Gzip.Comments = tag;
    Gzip.GzipHeader = ghFilename | ghComment;
  } else {
    Gzip.GzipHeader = ghFilename;
  }
  tarThenGzip_ = true;
  const std::string& extra = Host.TempFolders().TarTempFolder;
  const std::string folder = extra.empty() ? Host.TempFolders().TempFolder() : extra;
  std::error_code ec;
  fs::create_directories(folder, ec);
  std::string name = ExtractFileName(targetPath_);
  name = name.size() > 3 ? name.substr(0, name.size() - 3) : name + ".tar";
  tarTempPath_ = folder + "/" + name;
  TarStep(tarTempPath_);
}

void TCreatePage::TarStep(const std::string& path) {
  if (Host.Settings().TarAttributes && !BatchCreateMode) {
    TTarArchiveOptionsForm window(this);
    Host.SetModalDialogOpen(true);
    if (ExecModal(window, "TTarArchiveOptionsForm") == QDialog::Accepted) window.Store(TarOptions);
    Host.SetModalDialogOpen(false);
  }
  roomRanOut_ = false;
  tarReadError_ = false;
  tarErrorText_.clear();
  TarFailed = false;
  std::vector<TRunRow> rows = SnapshotRows();
  progressTotal_ = static_cast<int64_t>(rows.size());
  progressDone_ = 0;
  partPath_ = path;
  try {
    tarWriter_ = std::make_unique<TTarWriter>(path);
  } catch (const std::exception& e) {
    Report("THE TAR FILE " + path + " COULD NOT BE CREATED.\n" + e.what());
    TarOptions = TTarOptions();
    TarFailed = true;
    if (!BatchCreateMode) ZipTarGZButtonsOn();
    QTimer::singleShot(0, this, [this] { emit RunEnded(false); });
    return;
  }
  tarWriter_->UserName = TarOptions.UserName;
  tarWriter_->GroupName = TarOptions.GroupName;
  tarWriter_->UserId = TarOptions.UserId;
  tarWriter_->GroupId = TarOptions.GroupId;
  tarWriter_->Magic = TarOptions.Magic;
  tarWriter_->Permissions = TarOptions.Permissions();
  if (!TarOptions.VolumeHeader.empty())
    tarWriter_->AddVolumeHeader(TarOptions.VolumeHeader, UnixToDateTime(static_cast<double>(::time(nullptr))));
  stopRequested_ = false;
  ZipStopButton->setEnabled(true);
  ZipProgressBar->setValue(0);
  progressTimer_.start();
  worker_.reset(QThread::create([this, rows = std::move(rows), path] {
    for (const TRunRow& row : rows) {
      if (stopRequested_) break;
      const std::string stored = row.Stored.empty() ? row.Name : row.Stored + "/" + row.Name;
      std::string why;
      if (!CanRead(row.Source, why)) {
        tarReadError_ = true;
        tarErrorText_ = row.Source + " (" + why + ")";
        break;
      }
      try {
        tarWriter_->AddFile(row.Source, stored);
      } catch (const std::exception& e) {
        tarReadError_ = true;
        tarErrorText_ = row.Source + " (" + e.what() + ")";
        break;
      }
      ++progressDone_;
      if (FreeOnDisk(path) < 65000) {
        roomRanOut_ = true;
        break;
      }
    }
    QMetaObject::invokeMethod(this, [this] { TarTimer.start(); }, Qt::QueuedConnection);
  }));
  worker_->start();
}

void TCreatePage::TarTimerTimer() {
  TarTimer.stop();
  if (!tarWriter_) return;
  if (worker_) worker_->wait();
  worker_.reset();
  bool failed = roomRanOut_ || stopRequested_ || tarReadError_;
  std::string closeError;
  try {
    tarWriter_->Finalize();
  } catch (const std::exception& e) {
    closeError = e.what();
    failed = true;
  }
  tarWriter_.reset();
  progressTimer_.stop();
  ZipProgressBar->setValue(0);
  ZipStopButton->setEnabled(false);
  const bool stopped = stopRequested_;
  stopRequested_ = false;
  ZipKit.Cancel = false;
  TarOptions = TTarOptions();
  TarFailed = failed;
  if (roomRanOut_) Report("THERE WAS NOT ENOUGH ROOM ON THE DRIVE TO COMPLETE THE CREATION OF THE TAR FILE.");
  else if (tarReadError_) Report("THE FILE " + tarErrorText_ + " CANNOT BE READ.\nTHE TAR FILE WAS NOT CREATED.");
  else if (!closeError.empty()) Report("THE TAR FILE COULD NOT BE WRITTEN.\n" + closeError);
  (void)stopped;

  if (!tarThenGzip_ || failed) {
    if (!tarThenGzip_) {
      std::string why;
      if (failed) ::unlink(partPath_.c_str());
      else if (!Publish(partPath_, targetPath_, why)) {
        Report("THE TAR FILE " + targetPath_ + " COULD NOT BE SAVED (" + why + ").");
        failed = TarFailed = true;
      }
    }
    if (!BatchCreateMode) ZipTarGZButtonsOn();
    QTimer::singleShot(0, this, [this, failed] { emit RunEnded(!failed); });
    return;
  }
  GzipTimer.start();
  StartGzipWorker(tarTempPath_, targetPath_);
}

void TCreatePage::MakeGZFileThread() {
  if (!BatchCreateMode) ZipTarGZButtonsOff();
  targetPath_ = Host.CurrentArchiveFile();
  if (!ZipListView->HasRows() || !TargetFolderUsable(targetPath_)) {
    GzipFailed = true;
    if (!BatchCreateMode) ZipTarGZButtonsOn();
    QTimer::singleShot(0, this, [this] { emit RunEnded(false); });
    return;
  }
  GzipProgressToCreatePage = true;
  const std::string tag = CreateTagEdit->text().toStdString();
  if (!tag.empty()) {
    Gzip.Comments = tag;
    Gzip.GzipHeader = ghFilename | ghComment;
  } else {
    Gzip.GzipHeader = ghFilename;
  }
  Gzip.ProgressStep = 1;
  GzipTimer.start();
  StartGzipWorker(ZipListView->Model()->Row(0).Extra.toStdString(), targetPath_);
}

void TCreatePage::StartGzipWorker(const std::string& source, const std::string& destination) {
  gzipRunActive_ = true;
  runOk_ = false;
  targetPath_ = destination;
  partPath_ = PartNameFor(destination);
  Gzip.FileSource = source;
  Gzip.FileDestination = partPath_;
  Gzip.WindowOnError = !BatchCreateMode;
  Gzip.Progress = 0;
  worker_.reset(QThread::create([this] {
    bool ok = Gzip.Compress() == 0;
    std::string why;
    if (ok && !Publish(partPath_, targetPath_, why)) {
      Report("THE FILE " + targetPath_ + " COULD NOT BE SAVED (" + why + ").");
      ok = false;
    }
    if (!ok) ::unlink(partPath_.c_str());
    GzipFailed = !ok;
    runOk_ = ok;
    QMetaObject::invokeMethod(this, [this] { EnableTimer.start(); }, Qt::QueuedConnection);
  }));
  worker_->start();
}

void TCreatePage::GzipTimerTimer() {
  if (GzipProgressToCreatePage) ZipProgressBar->setValue(Gzip.Progress);
}
