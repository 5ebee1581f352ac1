// The creation runs of the create page: zip, tar, gzipped tar and gzip. The page gathers everything
// a run needs on the window's thread (type, name, options, password, the rows), then the create job
// of the operations layer makes the archive on the page's runner: the job `tandor a` runs. The job
// builds the archive under a temporary name beside the target and renames it only when complete.
#include <QApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "core/Prompt.h"
#include "core/Settings.h"
#include "core/TextUtil.h"
#include "ops/CommentJob.h"
#include "ops/Jobs.h"
#include "pages/common/FileList.h"
#include "pages/common/JobRunner.h"
#include "pages/batchcreate/BatchCreateForm.h"
#include "pages/common/PromptService.h"
#include "pages/create/CreatePage.h"
#include "platform/FileSystem.h"
#include "platform/TempFolders.h"
#include "zip/ZipKit.h"
#include "zip/ZipMessages.h"

namespace fs = std::filesystem;

namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

const char* const kNoFiles = "YOU HAVE NOT SELECTED ANY FILES TO ADD TO THIS ZIP FILE";
// Free bytes a tar run leaves on the target's drive at least; below that it stops.
constexpr int64_t kTarKeepFree = 65000;

struct TTypeInfo {
  const char* DefaultExt;
  const char* Filter;
  const char* Appended;
};
const TTypeInfo kTypes[] = {{"zip", "ZIP Files|*.zip", ".zip"},
                            {"tar.gz", "GZipped TAR Files|*.tar.gz", ".tar.gz"},
                            {"tar", "TAR Files|*.tar", ".tar"},
                            {"gz", "GZip Files|*.gz", ".gz"}};

// The password of a new encrypted zip, typed twice; empty when none was given (`mismatch` set when
// the two differ).
std::string AskNewPassword(bool& mismatch) {
  mismatch = false;
  const std::string caption = ZipKitMessageText(10154);
  std::string first, second;
  if (TPasswordDlg::Execute(caption, ZipKitMessageText(10155), TPasswordDlg::pbOk | TPasswordDlg::pbCancel, first) !=
          PbOk ||
      first.empty())
    return {};
  if (TPasswordDlg::Execute(caption, ZipKitMessageText(10156), TPasswordDlg::pbOk | TPasswordDlg::pbCancel, second) !=
          PbOk ||
      second.empty())
    return {};
  if (first != second) {
    mismatch = true;
    return {};
  }
  return first;
}

// "path (why)" of a status that says "path: why".
std::string FileAndWhy(const TStatus& s) {
  const std::string& m = s.Message();
  const size_t colon = m.rfind(": ");
  return colon == std::string::npos ? m : m.substr(0, colon) + " (" + m.substr(colon + 2) + ")";
}

bool Unreadable(const TStatus& s) { return s.Code() == TStatusCode::Unreadable || s.Code() == TStatusCode::NotFound; }

}  // namespace

bool TCreatePage::TargetFolderUsable(const std::string& target) {
  const std::string folder = FolderOf(target);
  // Read-only by its mode bits too: they say so even to a user the system lets write anyway.
  struct stat st {};
  if (IsWritableFolder(folder) && ::stat(folder.c_str(), &st) == 0 && (st.st_mode & 0222) != 0) return true;
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
  const std::string name =
      AskArchiveSaveName("Choose a name for your zip file ", s.ArchiveSaveFolder, kTypes[type - 1].Filter,
                         kTypes[type - 1].Appended);
  if (name.empty()) {
    SetFiveButtons(true);
    ZipListView->setEnabled(true);
    ZipListView->setFocus();
    return;
  }
  s.ArchiveSaveFolder = FolderOf(name);
  // A name typed with another archive suffix asks for that kind (a .gz of several rows holds a tar).
  const std::string suffix = ArchiveSuffixOf(name);
  if (suffix == ".tar.gz" || suffix == ".tgz") type = 2;
  else if (suffix == ".tar") type = 3;
  else if (suffix == ".gz") type = ZipListView->Count() == 1 ? 4 : 2;
  else if (suffix == ".zip") type = 1;
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

// The zip options of the settings, the multi-disk size and the password; false (after a message)
// when the run cannot go on.
bool TCreatePage::PrepareZipParams(TCreateParams& p) {
  const TSettings& s = Host.Settings();
  p.Target = Host.CurrentArchiveFile();
  p.Format = TArchiveFormat::Zip;
  p.Level = ZipLevel;
  p.Comment = CreateTagEdit->text().toStdString();
  p.CheckSourcesFirst = true;
  p.Zip.StorePaths = s.SaveZipFolders;
  p.Zip.HiddenFiles = true;
  p.Zip.ForceDos = !s.LongFileNames;
  p.Zip.ArchiveOnly = p.Zip.ResetArchive = s.ArchiveBitOnly;
  p.Zip.ArchiveTime = s.SetArchiveTime;
  p.Zip.Span = s.SpanDisks;
  p.Zip.SpanErase = s.EraseDisk;
  if ((p.Zip.Span || p.Zip.SpanErase) && !BatchCreateMode) {
    TSpanSizeForm window(this);
    ExecModal(window, "TSpanSizeForm");
    p.Zip.MaxVolumeSize = window.ChosenSize();
  }
  if (s.AddPassword) {
    // Unattended runs cannot ask: an encrypted archive without a password is not made.
    if (BatchCreateMode) return false;
    bool mismatch = false;
    p.Password = AskNewPassword(mismatch);
    if (mismatch) ShowError("ERROR : " + ZipKitMessageText(10104));
    if (p.Password.empty()) {
      ShowError("NO PASSWORD WAS GIVEN, SO THE ZIP FILE WAS NOT CREATED.");
      return false;
    }
  }
  return true;
}

// The checks both zip runs make first: rows to zip, a usable target folder, the parameters.
bool TCreatePage::BeginZipRun(TCreateParams& p) {
  if (!ZipListView->HasRows()) {
    if (!BatchCreateMode) ShowError(kNoFiles);
    return false;
  }
  if (!TargetFolderUsable(Host.CurrentArchiveFile())) {
    ZipFailed = true;
    QTimer::singleShot(0, this, [this] { emit RunEnded(false); });
    return false;
  }
  Host.DisableAll();
  if (!PrepareZipParams(p)) {
    Host.EnableAll();
    SetFiveButtons(true);
    ZipFailed = true;
    QTimer::singleShot(0, this, [this] { emit RunEnded(false); });
    return false;
  }
  return true;
}

bool TCreatePage::MakeZipFDLL() {
  TCreateParams p;
  if (!BeginZipRun(p)) return false;
  for (const TListRow& r : ZipListView->Model()->Rows()) p.Items.push_back({r.Extra.toStdString(), {}, false});
  StartCreateJob(std::move(p), 1);
  return true;
}

bool TCreatePage::MakeZipRelPath() {
  TCreateParams p;
  if (!BeginZipRun(p)) return false;
  // Each file under its row's Path and name, below the folder that holds that path (the job makes
  // one engine call per run of rows sharing that folder).
  for (const TListRow& r : ZipListView->Model()->Rows()) {
    const std::string source = r.Extra.toStdString();
    const std::string stored = r.Path.toStdString();
    const std::string folder = FolderOf(source);
    const std::string leaf = ExtractFileName(source);
    const bool under = !stored.empty() && folder.size() > stored.size() &&
                       folder.compare(folder.size() - stored.size(), stored.size(), stored) == 0 &&
                       folder[folder.size() - stored.size() - 1] == '/';
    p.Items.push_back({source, under ? stored + "/" + leaf : leaf, false});
  }
  StartCreateJob(std::move(p), 1);
  return true;
}

void TCreatePage::StartCreateJob(TCreateParams params, int type) {
  runType_ = type;
  stopRequested_ = false;
  targetPath_ = params.Target;
  if (type == 1) ZipFailed = false;
  else TarFailed = GzipFailed = false;
  ZipStopButton->setEnabled(true);
  ZipProgressBar->setValue(0);
  if (!runner_) runner_ = std::make_unique<TJobRunner>(this);
  auto job = std::make_unique<TCreateJob>(std::move(params));
  // An unattended run: no question waits for nobody.
  if (BatchCreateMode) job->Questions = &unattended_;
  runner_->Start(
      std::move(job),
      [this](const TJobProgress& pr) {
        if (pr.Total > 0)
          ZipProgressBar->setValue(static_cast<int>(std::min<uint64_t>(100, pr.Done * 100 / pr.Total)));
      },
      [this](const TStatus& m) {
        // The zip component's messages, as the window has always shown them.
        if (runType_ == 1 && !BatchCreateMode && !Host.RunState().BatchBusy) ShowError("ERROR : " + m.Message());
      },
      [this](const TJobResult& r) { CreateJobEnded(r); });
}

void TCreatePage::CreateJobEnded(const TJobResult& r) {
  const bool stopped = stopRequested_ || r.Status.IsCancelled();
  const bool ok = r.Status.Succeeded() && !stopped;
  const TStatus& s = r.Status;
  const auto* job = static_cast<const TCreateJob*>(runner_->Job());
  if (runType_ == 1) {
    ZipFailed = !ok;
    lastArchive_ = ok ? job->ArchivePath() : std::string();
    if (ok && lastArchive_ != Host.CurrentArchiveFile()) Host.SetCurrentArchiveFile(lastArchive_);
    if (!ok && !stopped) {
      if (Unreadable(s))
        Report("THE FILE " + FileAndWhy(s) + " CANNOT BE READ.\nTHE ZIP FILE WAS NOT CREATED.");
      else if (s.Code() == TStatusCode::WriteFailed)
        Report("THE ZIP FILE " + targetPath_ + " COULD NOT BE SAVED (" + s.Message() + ").");
      else
        Report(s.Message().empty() ? std::string("THE ZIP FILE WAS NOT CREATED.")
                                   : "THE ZIP FILE WAS NOT CREATED.\n" + s.Message());
    }
  } else {
    TarFailed = GzipFailed = !ok;
    lastArchive_ = ok ? job->ArchivePath() : std::string();
    const char* what = runType_ == 4 ? "GZIP" : "TAR";
    if (!ok && !stopped) {
      if (s.Code() == TStatusCode::NoSpace)
        Report(std::string("THERE WAS NOT ENOUGH ROOM ON THE DRIVE TO COMPLETE THE CREATION OF THE ") + what + " FILE.");
      else if (Unreadable(s))
        Report("THE FILE " + FileAndWhy(s) + " CANNOT BE READ.\nTHE " + what + " FILE WAS NOT CREATED.");
      else
        Report(std::string("THE ") + what + " FILE COULD NOT BE WRITTEN.\n" + s.Message());
    }
    TarOptions = TTarOptions();
  }
  stopRequested_ = false;
  // The batch queue keeps the page disabled between its jobs and enables it at its end.
  if (!BatchCreateMode) EnableTimerTimer();
  else ZipProgressBar->setValue(0);
  // After the main window's own handler has enabled the page.
  QTimer::singleShot(0, this, [this, ok] { emit RunEnded(ok); });
}

void TCreatePage::CreateTagButtonClick() {
  const bool zip = !lastArchive_.empty() && EndsWithNoCase(lastArchive_, ".zip") && ZipListView->HasRows();
  if (!zip || (runner_ && runner_->Running())) {
    CreateTagEdit->setFocus();
    return;
  }
  TCommentParams p;
  p.Archive = lastArchive_;
  p.Comment = CreateTagEdit->text().toStdString();
  Host.DisableAll();
  if (!runner_) runner_ = std::make_unique<TJobRunner>(this);
  runner_->Start(std::make_unique<TSetCommentJob>(std::move(p)));
  const TJobResult r = runner_->Wait();
  Host.EnableAll();
  SetFiveButtons(true);
  if (r.Status.Failed()) ShowError("THE TAG WAS NOT WRITTEN.\n" + r.Status.Message());
}

void TCreatePage::ZipStopButtonClick() {
  ZipStopButton->setEnabled(false);
  stopRequested_ = true;
  if (runner_) runner_->Cancel();
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

// The start of a tar, gzipped tar or gzip run: the target's folder usable; false (the run ended
// as failed) when not.
bool TCreatePage::BeginTarRun(TCreateParams& p, TArchiveFormat format) {
  if (!BatchCreateMode) ZipTarGZButtonsOff();
  p.Target = Host.CurrentArchiveFile();
  p.Format = format;
  p.CheckSourcesFirst = true;
  const bool rows = format != TArchiveFormat::Gzip || ZipListView->HasRows();
  if (!rows || !TargetFolderUsable(p.Target)) {
    (format == TArchiveFormat::Gzip ? GzipFailed : TarFailed) = true;
    if (!BatchCreateMode) ZipTarGZButtonsOn();
    QTimer::singleShot(0, this, [this] { emit RunEnded(false); });
    return false;
  }
  const std::string tag = CreateTagEdit->text().toStdString();
  std::string latin1;
  if (!Utf8ToLatin1(tag, latin1)) {
    Report(kGzipTagMessage);
    (format == TArchiveFormat::Gzip ? GzipFailed : TarFailed) = true;
    if (!BatchCreateMode) ZipTarGZButtonsOn();
    QTimer::singleShot(0, this, [this] { emit RunEnded(false); });
    return false;
  }
  p.Comment = tag;
  p.StoreComment = !tag.empty();
  return true;
}

namespace {

// The folders of a row's stored path get entries of their own ahead of it (as `tar` stores a folder
// it walks), each from the folder on disk it stands for: the stored path is matched against the
// source's folders from the end, and only the part that mirrors them is taken.
void AddFolderEntries(const std::string& source, const std::string& storedFolder, std::set<std::string>& done,
                      std::vector<TSourceItem>& items) {
  std::vector<TSourceItem> chain;
  std::string stored = storedFolder;
  fs::path disk = fs::path(source).parent_path();
  while (!stored.empty() && !done.count(stored)) {
    const size_t slash = stored.rfind('/');
    const std::string leaf = slash == std::string::npos ? stored : stored.substr(slash + 1);
    if (leaf.empty() || disk.filename() != leaf) break;
    chain.push_back({disk.string(), stored, false});
    if (slash == std::string::npos) break;
    stored.erase(slash);
    disk = disk.parent_path();
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    done.insert(it->StoredName);
    items.push_back(std::move(*it));
  }
}

}  // namespace

// The tar part of a tar or gzipped tar run: every row under its Path and name, stamped with the
// tar options (asked first when the settings say so).
void TCreatePage::AddTarRows(TCreateParams& p) {
  bool stamped = false;
  if (Host.Settings().TarAttributes && !BatchCreateMode) {
    TTarArchiveOptionsForm window(this);
    Host.SetModalDialogOpen(true);
    if (ExecModal(window, "TTarArchiveOptionsForm") == QDialog::Accepted) {
      window.Store(TarOptions);
      stamped = true;
    }
    Host.SetModalDialogOpen(false);
  }
  // Without stamps chosen in the options window every entry keeps its own mode, owner and kind.
  p.Tar.KeepAttributes = !stamped;
  p.Tar.Permissions = TarOptions.Permissions();
  p.Tar.UserId = TarOptions.UserId;
  p.Tar.GroupId = TarOptions.GroupId;
  p.Tar.UserName = TarOptions.UserName;
  p.Tar.GroupName = TarOptions.GroupName;
  p.Tar.Magic = TarOptions.Magic;
  p.Tar.VolumeHeader = TarOptions.VolumeHeader;
  p.KeepFree = kTarKeepFree;
  std::set<std::string> folders;
  for (const TRunRow& row : SnapshotRows()) {
    AddFolderEntries(row.Source, row.Stored, folders, p.Items);
    p.Items.push_back({row.Source, row.Stored.empty() ? row.Name : row.Stored + "/" + row.Name, false});
  }
}


void TCreatePage::MakeTarFileThread() {
  TCreateParams p;
  if (!BeginTarRun(p, TArchiveFormat::Tar)) return;
  AddTarRows(p);
  StartCreateJob(std::move(p), 3);
}

void TCreatePage::MakeTarGzFilethread() {
  TCreateParams p;
  if (!BeginTarRun(p, TArchiveFormat::TarGz)) return;
  // The tar is made in the temporary folder first (it stays there for the clean-up), then gzipped.
  const std::string& extra = Host.TempFolders().TarTempFolder;
  const std::string folder = extra.empty() ? Host.TempFolders().TempFolder() : extra;
  std::error_code ec;
  fs::create_directories(folder, ec);
  std::string name = ExtractFileName(p.Target);
  name = name.size() > 3 ? name.substr(0, name.size() - 3) : name + ".tar";
  p.TempTar = folder + "/" + name;
  AddTarRows(p);
  StartCreateJob(std::move(p), 2);
}

void TCreatePage::MakeGZFileThread() {
  TCreateParams p;
  if (!BeginTarRun(p, TArchiveFormat::Gzip)) return;
  const std::string source = ZipListView->Model()->Row(0).Extra.toStdString();
  p.Items.push_back({source, ExtractFileName(source), false});
  StartCreateJob(std::move(p), 4);
}
