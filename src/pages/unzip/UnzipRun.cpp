// The extraction run of the unzip page. Everything the run needs is gathered on the user-interface
// thread first (the destination, the room checks, the security window, the highlighted entries,
// the answers the page asks beforehand); then the extract job of the operations layer runs on the
// page's extraction runner (Tunzipthread) and reports back queued. The job's questions go through
// the prompt service with the page's texts.
#include "pages/unzip/UnzipRun.h"

#include <QApplication>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <filesystem>

#include "core/Prompt.h"
#include "core/Settings.h"
#include "core/TextUtil.h"
#include "ops/Jobs.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/ArchiveNames.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/unzip/ZipSecurityForm.h"
#include "platform/FileSystem.h"
#include "platform/Launcher.h"
#include "tar/Gzip.h"
#include "tar/TarExtractor.h"
#include "zip/ZipKit.h"
#include "zip/ZipMessages.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kSystemDiskReserve = 50000000;

const char* const kNoRoom =
    "THERE IS NOT ENOUGH ROOM ON THIS DISK DRIVEFOR THE UNZIPPED FILES.\nSELECT A NEW FOLDER ON A DRIVE WITH MORE FREE "
    "SPACE";
const char* const kNoHighlight =
    "NO FILES HAVE BEEN HIGHLIGHTED!\nCHOOSE  SELECT ALL BUTTON OR CLICK FILES TO HIGHLIGHT THEM\nAND TRY AGAIN.  (ONLY "
    "HIGHLIGHTED FILES IN THE LIST WILL BE UNZIPPED)";
const char* const kInvalidStructure =
    "THE PROGRAM ATTEMPTED TO UNZIP A ZIP FILE WITH AN INVALID STRUCTURE\nIT IS POSSIBLE THAT MOST OR EVEN ALL OF THE "
    "FILES WERE SUCCESSFULLY UNZIPPED TO THE SELECTED FOLDER";
const char* const kNoRarFiles = "YOU HAVE NOT SELECTED ANY FILES TO ADD TO THIS ZIP FILE";

std::string SystemDiskWarning(int64_t freeBytes) {
  return "YOU ARE ATTEMPTING TO EXTRACT A ZIP FILE TO THE FILE SYSTEM OF \"/\"\nON A TYPICAL COMPUTER THIS WOULD BE THE "
         "DISK DRIVE ON WHICH\nLINUX IS INSTALLED.  THIS DRIVE HAS LESS THAN 50 MEGABYTES\nOF FREE SPACE REMAINING.  "
         "LINUX CAN BECOME UNSTABLE WHEN\nTHE LINUX DRIVE HAS LITTLE SPACE REMAINING.  THIS DRIVE HAS\n" +
         std::to_string(freeBytes / 1000000) +
         " MEGABYTES OF FREE SPACE REMAINING\n\nTO EXTRACT THE ZIP FILE TO THIS DRIVE CHOOSE \"YES\"\nCHOOSE CANCEL TO "
         "SELECT A DIFFERENT DRIVE\n\nEXTRACT THE ZIP FILE TO THE \"/\" FILE SYSTEM?";
}

}  // namespace

namespace {

TOverwriteChoice Choice(TPromptAnswer a) {
  switch (a) {
    case TPromptAnswer::Yes: return TOverwriteChoice::Yes;
    case TPromptAnswer::YesToAll: return TOverwriteChoice::YesToAll;
    case TPromptAnswer::NoToAll: return TOverwriteChoice::NoToAll;
    case TPromptAnswer::No: return TOverwriteChoice::No;
    default: return TOverwriteChoice::Cancel;  // Cancel, Escape, closing the box: the file stays, the run ends
  }
}

}  // namespace

TOverwriteChoice TUnzipQuestions::AskOverwrite(const TOverwriteQuestion& q) {
  if (format_ == TArchiveFormat::Zip) {
    const std::string text =
        q.EntryName + "\n\n" +  // the name as stored
        (q.EntryIsOlder ? "THE FILE IN THE ZIP FILE IS OLDER THAN THE FILE ON DISK\n"
                        : "THE FILE IN THE ZIP FILE WILL REPLACE THE FILE ON DISK\n") +
        "TO REPLACE THIS FILE CHOOSE  YES\nTO REPLACE ALL FILES AND AVOID RECEIVING THIS MESSAGE AGAIN CHOOSE  ALL";
    return Choice(Prompt().ShowMessage("Tandor File", text, TPromptIcon::Question, TPromptButtons::YesNoAllCancel));
  }
  // Tar (gzip and RAR files were asked about before the run).
  const std::string caption = ExtractFileName(q.EntryName);
  const std::string date = TDateText().FromUnix(q.EntryTime).toStdString();
  return Choice(page_.OverWriteWarning(q.DiskPath, caption, date, static_cast<int64_t>(q.EntrySize)));
}

TPasswordChoice TUnzipQuestions::AskPassword(const std::string& entryName, std::string& password) {
  (void)entryName;
  if (format_ == TArchiveFormat::Rar) return page_.RarKitReqPassword(password) ? TPasswordChoice::Ok : TPasswordChoice::CancelAll;
  switch (TPasswordDlg::Execute(ZipKitMessageText(10154), ZipKitMessageText(10155),
                                TPasswordDlg::pbOk | TPasswordDlg::pbCancel | TPasswordDlg::pbCancelAll |
                                    TPasswordDlg::pbAbort,
                                password)) {
    case PbOk: return password.empty() ? TPasswordChoice::Cancel : TPasswordChoice::Ok;
    case PbCancelAll: return TPasswordChoice::CancelAll;
    case PbAbort: return TPasswordChoice::Abort;
    default: return TPasswordChoice::Cancel;
  }
}

void TUnzipPage::UnzipButtonClick() {
  InteractiveUnzip = true;
  DoUnzip(UnzipButton);
}

void TUnzipPage::DoUnzip(QObject* sender) {
  if (Busy()) return;
  UnzipProgressBar->setMaximum(100);
  unzipping_ = true;
  ThreadDoUnzip(sender);
}

void TUnzipPage::SetFilteredSelect() {
  const std::vector<int> rows = UnzipFilteredListView->SelectedRows();
  if (rows.empty()) return;
  std::vector<int> sources;
  sources.reserve(rows.size());
  for (int r : rows) {
    const qint64 source = UnzipFilteredListView->Model()->Row(r).Data;
    if (source >= 0 && source < UnzipListView->Count()) sources.push_back(static_cast<int>(source));
  }
  UnzipListView->SelectRows(std::move(sources));
  SetSelectionButtons(UnzipListView->selectionModel()->hasSelection());
}

bool TUnzipPage::ZipFileSecurityCheck() {
  std::vector<int> dangerous;
  QStringList lines;
  const TFileListModel& m = *UnzipListView->Model();
  for (int r : UnzipListView->SelectedRows()) {
    const TListRow& row = m.Row(r);
    if (IsUnsafeEntryPath(row.Path + row.File)) {
      dangerous.push_back(r);
      lines << row.File + ",  " + row.Path;
    }
  }
  if (dangerous.empty()) return true;
  TZipSecurityForm form(lines, this);
  const int result = ExecModal(form, "TZipSecurityForm");
  if (result == TZipSecurityForm::kDoNotUnzip) {
    // The rows go; the highlights of the others stay (removing rows resets the list's selection).
    std::vector<int> kept;
    size_t d = 0;
    for (int r : UnzipListView->SelectedRows()) {
      while (d < dangerous.size() && dangerous[d] < r) ++d;
      if (d < dangerous.size() && dangerous[d] == r) continue;
      kept.push_back(r - static_cast<int>(d));
    }
    UnzipListView->Model()->RemoveRows(dangerous);
    UnzipListView->SelectRows(kept);
  }
  return result != TZipSecurityForm::kHalt;
}

TSelection TUnzipPage::HighlightedEntries(bool& any) const {
  TSelection s;
  const TFileListModel& m = *UnzipListView->Model();
  const std::vector<int> rows = UnzipListView->SelectedRows();
  any = !rows.empty();
  // Every listed row highlighted: the whole archive (unless the explorer chose a folder that holds
  // every file: the archive's other folder entries are not part of it).
  if (any && folderChoice_.empty() && static_cast<int64_t>(rows.size()) == listedRows_ && m.Count() == listedRows_)
    return s;
  s.Ids.reserve(rows.size());
  for (int r : rows)
    if (m.Row(r).Id >= 0) s.Ids.push_back(static_cast<TEntryId>(m.Row(r).Id));
  s.Patterns = folderChoice_;
  return s;
}

void TUnzipPage::FinishUnzip(bool enableAll) {
  UnzipStopButton->setEnabled(false);
  if (enableAll) Host.EnableAll();
  VisibleList()->setEnabled(true);
  VisibleList()->setFocus();
  if (unzipCursor_) SetWaitCursor(false);
  unzipCursor_ = false;
  UnzipProgressBar->setValue(0);
  UnzipProgressBar->setMaximum(100);
  unzipping_ = false;
}

void TUnzipPage::ThreadDoUnzip(QObject* sender) {
  (void)sender;  // the run does not depend on who started it
  TRunState& state = Host.RunState();

  // 1. Highlights of the filtered list go to the full list; the run works on the full list.
  if (FilteredShown() && !UnzipFilteredListView->SelectedRows().empty()) {
    SetFilteredSelect();
    UnzipFilteredListviewClear();
  }
  if (FilteredShown()) ShowUnzipListView();
  const std::string archive = Host.CurrentArchiveFile();
  ClearUnzipOutcome();

  // 2. Destination.
  const std::string destination = Host.BrowseforFolder("SELECT DESTINATION FOLDER FOR UNZIPPED FILES...", true, true);
  if (destination.empty()) return FinishUnzip(false);

  // 3.-5. Room on the destination's file system, and a warning when that is the system's own.
  const std::string ext = LastExtension(archive);
  const int64_t needed = (ext == ".gz" || ext == ".tgz") ? 2 * UnzipTotalBytes : UnzipTotalBytes;
  const int64_t freeBytes = FreeOnDisk(destination);
  if (freeBytes < needed) {
    ShowError(kNoRoom);
    return FinishUnzip(false);
  }
  if (SameFileSystem(destination, "/") && freeBytes < kSystemDiskReserve) {
    if (Prompt().ShowMessage("Tandor File", SystemDiskWarning(freeBytes), TPromptIcon::Warning,
                             TPromptButtons::YesCancel) != TPromptAnswer::Yes)
      return FinishUnzip(false);
  }

  // 6.
  SetWaitCursor(true);
  unzipCursor_ = true;
  state.OverwriteYesToAll = false;
  state.OverwriteNoToAll = false;

  switch (openedAs_) {
    case TArchiveFormat::Zip: return UnzipZipFile(destination);
    case TArchiveFormat::Gzip: return UnzipGZFile(sender, destination);
    case TArchiveFormat::Tar:
    case TArchiveFormat::TarGz: return UnzipTarFile(destination);
    case TArchiveFormat::Rar: return UnzipRarFile(destination);
    case TArchiveFormat::Unknown: break;
  }
  FinishUnzip(true);
}

void TUnzipPage::StartUnzipJob(TExtractParams params, const std::function<void(const TJobResult&)>& done,
                               const std::function<void(const TStatus&)>& onMessage) {
  params.Archive = Host.CurrentArchiveFile();
  const std::string folder = params.Destination;
  params.Format = openedAs_ == TArchiveFormat::TarGz ? TArchiveFormat::Tar : openedAs_;
  auto job = std::make_unique<TExtractJob>(std::move(params));
  unzipQuestions_ = std::make_unique<TUnzipQuestions>(*this, openedAs_);
  job->Questions = unzipQuestions_.get();
  Host.DisableAll();
  if (!unzipRunner_) unzipRunner_ = std::make_unique<Tunzipthread>(this);
  const bool byEntries = openedAs_ == TArchiveFormat::Rar;
  stopPressed_ = false;
  UnzipStopButton->setEnabled(true);
  unzipRunner_->Start(
      std::move(job),
      [this, byEntries](const TJobProgress& p) {
        if (byEntries) {
          UnzipProgressBar->setValue(static_cast<int>(std::min<uint64_t>(p.Done, UnzipProgressBar->maximum())));
        } else if (p.Total > 0) {
          UnzipProgressBar->setValue(static_cast<int>(std::min<uint64_t>(100, p.Done * 100 / p.Total)));
        }
      },
      onMessage,
      [this, done, folder](const TJobResult& r) {
        UnzipStopButton->setEnabled(false);
        UnzipProgressBar->setValue(0);
        done(r);
        if (InteractiveUnzip) ShowUnzipOutcome(r, folder);
        FinishUnzip(true);
      });
}

void TUnzipPage::UnzipStopButtonClick() {
  if (!unzipping_ || !unzipRunner_ || !unzipRunner_->Running()) return;
  UnzipStopButton->setEnabled(false);
  stopPressed_ = true;
  unzipRunner_->Cancel();
}

void TUnzipPage::ShowUnzipOutcome(const TJobResult& r, const std::string& folder) {
  const bool stopped = stopPressed_ || r.Status.IsCancelled();
  const int64_t written = r.Counts.Files;
  ClearUnzipOutcome();
  if (written <= 0 && !stopped) return;  // a failure has said why already
  lastUnzipFolder_ = folder;
  const QString count =
      written == 1 ? QString("1 file") : written > 0 ? GroupedNumber(written) + " files" : QString("no files");
  QString text = count + " unzipped to " + QString::fromStdString(folder);
  if (stopped) text = "Stopped: " + text;
  UnzipStatusBar->setProperty("outcome", text);
  UnzipStatusBar->showMessage(text);
  ShowFilesButton->setVisible(written > 0);
}

void TUnzipPage::ClearUnzipOutcome() {
  UnzipStatusBar->setProperty("outcome", QString());
  ShowFilesButton->hide();
  if (!UnzipStatusBar->currentMessage().isEmpty()) UnzipStatusBar->clearMessage();
}

void TUnzipPage::ShowFilesButtonClick() {
  if (lastUnzipFolder_.empty()) return;
  if (!DesktopLauncher().OpenFile(lastUnzipFolder_))
    ShowError("THE FOLDER " + lastUnzipFolder_ + " COULD NOT BE OPENED.");
}

bool TUnzipPage::SelectHighlighted(TExtractParams& p) {
  bool any = false;
  p.Selection = HighlightedEntries(any);
  if (any) return true;
  Host.DisableAll();
  ShowError(kNoHighlight);
  FinishUnzip(true);
  return false;
}

void TUnzipPage::UnzipZipFile(const std::string& destination) {
  // 7.1 Entries whose names reach outside the destination.
  if (!ZipFileSecurityCheck()) return FinishUnzip(false);
  const TSettings& s = Host.Settings();
  TExtractParams p;
  if (!SelectHighlighted(p)) return;
  p.Destination = destination;
  p.DirNames = s.UnzipFolders;
  p.Overwrite = s.UnzipOverwrite ? TOverwriteMode::Always : TOverwriteMode::Ask;
  p.Freshen = s.UnzipFreshenFiles;
  p.Update = s.UnzipUpdateFiles;
  TRunState& state = Host.RunState();
  state.OverwriteCurrent = s.UnzipOverwrite;
  state.JobKind = 0;
  StartUnzipJob(
      std::move(p),
      [this](const TJobResult& r) {
        if (r.Status.IsOk()) Host.SetArchiveExtracted(true);
        if (r.Status.Code() == TStatusCode::Damaged) ShowError(kInvalidStructure);
      },
      [this](const TStatus& m) {
        // The component's messages, as the window has always shown them.
        if (!Host.RunState().BatchBusy) ShowError("ERROR : " + m.Message());
      });
}

void TUnzipPage::UnzipTarFile(const std::string& destination) {
  TExtractParams p;
  if (!SelectHighlighted(p)) return;
  p.Destination = destination;
  StartUnzipJob(std::move(p), [this](const TJobResult& r) {
    // A run that wrote nothing (every highlighted entry refused or unreadable) failed.
    const bool wrote = r.Counts.Files + r.Counts.Folders + r.Counts.Links > 0;
    const std::string more =
        r.Warnings.size() > 1 ? "\n(" + std::to_string(r.Warnings.size() - 1) + " more)" : std::string();
    if (r.Status.Failed() && !r.Status.IsCancelled()) {
      ShowError("ERROR : " + r.Status.Text());
    } else if (!wrote && !r.Status.IsCancelled() && !r.Warnings.empty()) {
      ShowError("NOTHING WAS EXTRACTED.\n" + r.Warnings.front() + more);
    } else if (!r.Warnings.empty()) {
      ShowWarning(r.Warnings.front() + more);
    }
    if (r.Status.Succeeded() && wrote) Host.SetArchiveExtracted(true);
  });
}

void TUnzipPage::UnzipGZFile(QObject* sender, const std::string& destination) {
  (void)sender;
  const std::string archive = Host.CurrentArchiveFile();
  TGzip gzip;
  gzip.FileSource = archive;
  gzip.WindowOnError = false;
  gzip.ReadHeader();
  const std::string leaf = GzOutputName(gzip.HeaderFileName, archive);
  std::error_code ec;
  if (fs::exists(fs::symlink_status(destination + "/" + leaf, ec))) {
    if (Prompt().ShowMessage("Tandor File", "THE FILE " + leaf + " ALREADY EXISTS.  REPLACE THE FILE?",
                             TPromptIcon::Question, TPromptButtons::YesNo) != TPromptAnswer::Yes)
      return FinishUnzip(true);
  }
  TExtractParams p;
  p.Destination = destination;
  p.Overwrite = TOverwriteMode::Always;  // asked above
  StartUnzipJob(std::move(p), [this](const TJobResult& r) {
    if (r.Status.Failed() && !r.Status.IsCancelled()) ShowError("ERROR : " + r.Status.Text());
    if (r.Status.Succeeded()) Host.SetArchiveExtracted(true);
  });
}

void TUnzipPage::UnzipRarFile(const std::string& destination) {
  TRunState& state = Host.RunState();
  rarPassword_ = rarListPassword_;  // encrypted headers: the password that listed them
  state.RarPasswordCancelled = false;
  state.RarErrorSeen = false;
  // The existing files are asked about first; the entries kept are extracted replacing what is there.
  TExtractParams p;
  const TFileListModel& m = *UnzipListView->Model();
  for (int r : UnzipListView->SelectedRows()) {
    const TListRow& row = m.Row(r);
    bool cancel = false;
    if (state.OverwriteYesToAll || Host.Settings().UnzipOverwrite ||
        OKToAddRARFile(destination + "/" + row.Key().toStdString(), row.Size.toStdString(), row.Date.toStdString(),
                       cancel))
      p.Selection.Ids.push_back(static_cast<TEntryId>(row.Id));
    if (cancel) return FinishUnzip(true);  // nothing is extracted
  }
  if (p.Selection.Ids.empty()) {
    Host.DisableAll();
    ShowError(kNoRarFiles);
    return FinishUnzip(true);
  }
  UnzipProgressBar->setMaximum(static_cast<int>(std::max<size_t>(p.Selection.Ids.size(), 1)));
  UnzipProgressBar->setValue(0);
  p.Destination = destination;
  p.Overwrite = TOverwriteMode::Always;
  StartUnzipJob(
      std::move(p),
      [this](const TJobResult& r) {
        if (r.Status.Failed() && !r.Status.IsCancelled()) RarKitError(r.Status);
        if (r.Status.Succeeded()) Host.SetArchiveExtracted(true);
      },
      [this](const TStatus& m) { RarKitError(m); });
}
