// The extraction run of the unzip page. It runs on a Tunzipthread; every step that touches a
// widget or the page's lists runs on the user-interface thread through RunOnUiThread, and every
// question goes through the prompt service.
#include "core/Settings.h"
#include "pages/unzip/UnzipRun.h"

#include <QApplication>
#include <QItemSelectionModel>
#include <QProgressBar>
#include <QPushButton>

#include "core/Prompt.h"
#include "core/TextUtil.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/ArchiveNames.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/unzip/ZipSecurityForm.h"
#include "platform/FileSystem.h"
#include "zip/ZipKit.h"

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

std::string SystemDiskWarning(int64_t freeBytes) {
  return "YOU ARE ATTEMPTING TO EXTRACT A ZIP FILE TO THE FILE SYSTEM OF \"/\"\nON A TYPICAL COMPUTER THIS WOULD BE THE "
         "DISK DRIVE ON WHICH\nLINUX IS INSTALLED.  THIS DRIVE HAS LESS THAN 50 MEGABYTES\nOF FREE SPACE REMAINING.  "
         "LINUX CAN BECOME UNSTABLE WHEN\nTHE LINUX DRIVE HAS LITTLE SPACE REMAINING.  THIS DRIVE HAS\n" +
         std::to_string(freeBytes / 1000000) +
         " MEGABYTES OF FREE SPACE REMAINING\n\nTO EXTRACT THE ZIP FILE TO THIS DRIVE CHOOSE \"YES\"\nCHOOSE CANCEL TO "
         "SELECT A DIFFERENT DRIVE\n\nEXTRACT THE ZIP FILE TO THE \"/\" FILE SYSTEM?";
}

// Highlights the given rows (ascending) with one selection of contiguous ranges.
void SelectListRows(TFileListView& list, const std::vector<int>& rows) {
  QItemSelection selection;
  const TFileListModel& m = *list.Model();
  const int last = m.columnCount() - 1;
  for (size_t i = 0; i < rows.size();) {
    size_t j = i;
    while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1) ++j;
    selection.select(m.index(rows[i], 0), m.index(rows[j], last));
    i = j + 1;
  }
  list.selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

}  // namespace

Tunzipthread::Tunzipthread(TUnzipPage& page, QObject* sender) : page_(page), sender_(sender) {
  connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void Tunzipthread::run() { page_.ThreadDoUnzip(sender_); }

void TUnzipPage::UnzipButtonClick() {
  InteractiveUnzip = true;
  DoUnzip(UnzipButton);
}

void TUnzipPage::DoUnzip(QObject* sender) {
  if (Busy()) return;
  UnzipProgressBar->setMaximum(100);
  unzipping_ = true;
  unzipThread_ = new Tunzipthread(*this, sender);
  unzipThread_->start();
}

std::vector<std::string> TUnzipPage::HighlightedNames(bool& all) {
  std::vector<std::string> names;
  RunOnUiThread([&] {
    const TFileListModel& m = *UnzipListView->Model();
    const std::vector<int> rows = UnzipListView->SelectedRows();
    all = !rows.empty() && static_cast<int>(rows.size()) == m.Count();
    names.reserve(rows.size());
    for (int r : rows) names.push_back(m.Row(r).Key().toStdString());
  });
  return names;
}

void TUnzipPage::PostProgress(int percent) {
  QMetaObject::invokeMethod(
      UnzipProgressBar, [bar = UnzipProgressBar, percent] { bar->setValue(percent); }, Qt::QueuedConnection);
}

void TUnzipPage::SetFilteredSelect() {
  for (int r : UnzipFilteredListView->SelectedRows()) {
    const qint64 source = UnzipFilteredListView->Model()->Row(r).Data;
    if (source >= 0 && source < UnzipListView->Count()) UnzipListView->SelectRow(static_cast<int>(source));
  }
}

bool TUnzipPage::ZipFileSecurityCheck() {
  std::vector<int> dangerous;
  QStringList lines;
  RunOnUiThread([&] {
    const TFileListModel& m = *UnzipListView->Model();
    for (int r : UnzipListView->SelectedRows()) {
      const TListRow& row = m.Row(r);
      if (IsUnsafeEntryPath(row.Path + row.File)) {
        dangerous.push_back(r);
        lines << row.File + ",  " + row.Path;
      }
    }
  });
  if (dangerous.empty()) return true;
  int result = 0;
  RunOnUiThread([&] {
    TZipSecurityForm form(lines, this);
    result = ExecModal(form, "TZipSecurityForm");
    if (result != TZipSecurityForm::kDoNotUnzip) return;
    // The rows go; the highlights of the others stay (removing rows resets the list's selection).
    std::vector<int> kept;
    size_t d = 0;
    for (int r : UnzipListView->SelectedRows()) {
      while (d < dangerous.size() && dangerous[d] < r) ++d;
      if (d < dangerous.size() && dangerous[d] == r) continue;
      kept.push_back(r - static_cast<int>(d));
    }
    UnzipListView->Model()->RemoveRows(dangerous);
    SelectListRows(*UnzipListView, kept);
  });
  return result != TZipSecurityForm::kHalt;
}

void TUnzipPage::ThreadDoUnzip(QObject* sender) {
  (void)sender;  // the run does not depend on who started it
  TRunState& state = Host.RunState();
  std::string archive;
  int64_t totalBytes = 0;
  bool cursor = false;
  // The closing step of every run: controls on, the visible list focused, the cursor back.
  const auto finish = [&](bool enableAll) {
    RunOnUiThread([&] {
      if (enableAll) Host.EnableAll();
      VisibleList()->setEnabled(true);
      VisibleList()->setFocus();
      if (cursor) SetWaitCursor(false);
    });
    unzipping_ = false;
  };

  // 1. Highlights of the filtered list go to the full list; the run works on the full list.
  RunOnUiThread([&] {
    if (FilteredShown() && !UnzipFilteredListView->SelectedRows().empty()) {
      SetFilteredSelect();
      UnzipFilteredListviewClear();
    }
    if (FilteredShown()) ShowUnzipListView();
    archive = Host.CurrentArchiveFile();
    totalBytes = UnzipTotalBytes;
  });

  // 2. Destination.
  std::string destination;
  RunOnUiThread([&] { destination = Host.BrowseforFolder("SELECT DESTINATION FOLDER FOR UNZIPPED FILES...", true, true); });
  if (destination.empty()) return finish(false);

  // 3.-5. Room on the destination's file system, and a warning when that is the system's own.
  const std::string ext = LastExtension(archive);
  const int64_t needed = (ext == ".gz" || ext == ".tgz") ? 2 * totalBytes : totalBytes;
  const int64_t freeBytes = FreeOnDisk(destination);
  if (freeBytes < needed) {
    ShowError(kNoRoom);
    return finish(false);
  }
  if (SameFileSystem(destination, "/") && freeBytes < kSystemDiskReserve) {
    if (Prompt().ShowMessage("Tandor File", SystemDiskWarning(freeBytes), TPromptIcon::Warning,
                             TPromptButtons::YesCancel) != TPromptAnswer::Yes)
      return finish(false);
  }

  // 6.
  RunOnUiThread([&] { SetWaitCursor(true); });
  cursor = true;
  state.OverwriteYesToAll = false;
  state.OverwriteNoToAll = false;

  if (HasExtension(archive, ".zip")) {
    // 7.1 Entries whose names reach outside the destination.
    if (!ZipFileSecurityCheck()) return finish(false);
    RunOnUiThread([&] { Host.DisableAll(); });

    TZipKit& kit = Host.ZipKit();
    kit.ExtrBaseDir = destination;
    ExtrOpts options;
    if (Host.Settings().UnzipFolders) options.Include(ExtrDirNames);
    if (Host.Settings().UnzipOverwrite) options.Include(ExtrOverWrite);
    if (Host.Settings().UnzipFreshenFiles) options.Include(ExtrFreshen);
    if (Host.Settings().UnzipUpdateFiles) options.Include(ExtrUpdate);
    kit.ExtrOptions = options;
    state.OverwriteCurrent = options.Has(ExtrOverWrite);

    if (kit.ZipFileName() != archive) kit.SetZipFileName(archive);
    kit.FSpecArgs.clear();
    kit.FSpecArgsExcl.clear();
    state.JobTotalBytes = 0;
    state.JobDoneBytes = 0;
    int64_t jobBytes = 0;
    int rows = 0;
    RunOnUiThread([&] {
      const TFileListModel& m = *UnzipListView->Model();
      rows = m.Count();
      std::vector<char> selected(static_cast<size_t>(rows), 0);
      for (int r : UnzipListView->SelectedRows()) selected[static_cast<size_t>(r)] = 1;
      kit.FSpecArgs.reserve(static_cast<size_t>(rows));
      for (int r = 0; r < rows; ++r) {
        const TListRow& row = m.Row(r);
        std::string name = row.Key().toStdString();
        if (selected[static_cast<size_t>(r)]) {
          kit.FSpecArgs.push_back(std::move(name));
          jobBytes += RemoveCommas(row.Size.toStdString());
        } else {
          kit.FSpecArgsExcl.push_back(std::move(name));
        }
      }
    });
    state.JobTotalBytes = jobBytes;
    if (kit.FSpecArgs.empty()) {
      ShowError(kNoHighlight);
    } else {
      // Every entry of the archive highlighted: one specification for all of them.
      if (kit.FSpecArgsExcl.empty() && rows == kit.EntryCount()) kit.FSpecArgs.assign(1, "*.*");
      state.JobKind = 0;
      kit.ErrCode = 0;
      try {
        kit.ExtractFiles();
      } catch (...) {
        ShowError("FATAL DLL ERROR");
      }
      const int32_t err = kit.ErrCode;
      RunOnUiThread([&] {
        UnzipProgressBar->setValue(0);
        if (err == 0) Host.SetArchiveExtracted(true);
      });
      if (err == 3) ShowError(kInvalidStructure);
    }
  }
  // Tar, gzip and RAR archives have extractors of their own.
  if (HasExtension(archive, ".gz") || HasExtension(archive, ".tgz")) {
    RunOnUiThread([&] { Host.DisableAll(); });
    UnzipGZFile(sender, destination);
  }
  if (HasExtension(archive, ".tar")) {
    RunOnUiThread([&] { Host.DisableAll(); });
    UnzipTarFile(destination);
  }
  if (HasExtension(archive, ".rar")) {
    RunOnUiThread([&] { Host.DisableAll(); });
    UnzipRarFile(destination);
  }
  return finish(true);
}
