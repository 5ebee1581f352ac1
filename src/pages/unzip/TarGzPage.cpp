// Tar archives, gzip files and gzipped tar archives on the unzip page: opening and listing (the list
// job, and the extract job that unpacks a gzipped tar into the temporary folder), and the overwrite
// question of a tar extraction.
#include <QApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <cmath>
#include <filesystem>

#include "core/Settings.h"
#include "core/TextUtil.h"
#include "ops/Jobs.h"
#include "pages/common/FileList.h"
#include "pages/common/IconLists.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/ArchiveNames.h"
#include "pages/unzip/RowSink.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/unzip/ZipListing.h"
#include "platform/FileSystem.h"
#include "platform/TempFolders.h"
#include "tar/TarExtractor.h"

namespace fs = std::filesystem;

namespace {

const char* const kNoTarFiles =
    "THERE WERE NO FILES IN THE TAR ARCHIVE.  THE ARCHIVE WAS EMPTY OR CONTAINED ONLY FOLDERS.";
const char* const kNoZipFiles = "THERE ARE NO FILES IN THE ZIPFILE THAT THIS PROGRAM CAN READ";

bool IsListedKind(TEntryKind kind) {
  return kind == TEntryKind::File || kind == TEntryKind::CharDevice || kind == TEntryKind::BlockDevice;
}

// "0.9765625": a size in KB with up to 15 significant digits.
std::string Kilobytes(int64_t bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g", static_cast<double>(bytes) / 1024.0);
  return text;
}

int64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto n = fs::file_size(path, ec);
  return ec ? -1 : static_cast<int64_t>(n);
}

}  // namespace

bool TUnzipPage::IsaGzippedTarBall(const std::string& name) { return ::IsaGzippedTarBall(name); }

bool TUnzipPage::OpenGZipFile(const std::string& name) {
  const TArchiveFormat format = DetectArchiveFormat(name).Format;
  if (format != TArchiveFormat::Gzip && format != TArchiveFormat::TarGz) return false;
  // A tar inside (by its content, or by the name when the content cannot tell) is a gzipped tar.
  const bool tarball = format == TArchiveFormat::TarGz;
  Host.DisableAll();
  if (tarball && Host.Settings().OpenTarInGz) UpDateTarGZipWindow(name);
  else UpdateGZipWindow(name);
  Host.EnableAll();
  if (UnzipListView->HasRows()) EnableLoadedArchiveButtons();
  ShowFullList();
  UnzipListView->setEnabled(true);
  UnzipListView->setFocus();
  UnzipProgressBar->setMaximum(100);
  return true;
}

void TUnzipPage::UpdateTarWindow(const std::string& archive) {
  if (listing_ || !CheckOpenable(archive)) return;
  ListTarFile(archive, archive);
}

void TUnzipPage::ListTarFile(const std::string& archive, const std::string& shown) {
  HideListsForListing();
  Host.SetCurrentArchiveFile(archive);
  Host.SetCaption(shown);
  UnzipTotalBytes = 0;
  UnzipProgressBar->setValue(0);
  SetWaitCursor(true);
  int64_t total = 0;
  TStatus status;
  RunListing([&](TRowSink& sink) {
    TListParams p;
    p.Archive = archive;
    p.Format = TArchiveFormat::Tar;
    TListJob job(p);
    TRowMaker rows(false);
    job.OnEntry = [&](const TArchiveEntry& e) {
      if (sink.Cancelled()) job.Cancel();
      if (!IsListedKind(e.Kind) || e.Name.empty()) return;
      TListRow row;
      if (!rows.Make(e, row)) return;
      row.Data = e.DataOffset;
      total += static_cast<int64_t>(e.Size);
      sink.Add(std::move(row));
    };
    status = job.Run().Status;  // a broken archive lists the entries read before the damage
  });
  openedAs_ = TArchiveFormat::Tar;
  UnzipTotalBytes = total;
  if (!UnzipListView->HasRows() && status.Failed() && !status.IsCancelled()) {
    // Nothing could be read: not a tar archive, or damaged at its first header.
    SetWaitCursor(false);
    OpenFailed(CannotOpenText(shown, status.Text()));
    return;
  }
  if (!UnzipListView->HasRows()) {
    UnzipTotalBytes = 0;
    ShowError(kNoTarFiles);
  }
  FinishListing();
}

void TUnzipPage::UpDateTarGZipWindow(const std::string& archive) {
  if (listing_ || !CheckOpenable(archive)) return;
  HideListsForListing();
  const int64_t size = std::max<int64_t>(FileSize(archive), 0);
  const int64_t needed = static_cast<int64_t>(std::nearbyint(static_cast<double>(size) * 2.5));
  TTempFolders& temp = Host.TempFolders();
  temp.TarTempFolder.clear();
  std::string folder = temp.TempFolder();
  std::error_code ec;
  if (FreeOnDisk(folder) < needed) {
    if (!temp.ChooseNewTempFolder(needed)) {
      FinishListing();
      return;
    }
    folder = temp.TarTempFolder;
  }
  fs::create_directories(folder, ec);

  // The file the tar is unpacked to; without a stored name (tar -z, gzip -n) it comes from the file's
  // own name. Not gzip, or a header cut short: nothing to say.
  TListParams lp;
  lp.Archive = archive;
  lp.Format = TArchiveFormat::Gzip;
  TListJob list(lp);
  std::string inner;
  list.OnEntry = [&](const TArchiveEntry& e) { inner = e.Name; };
  if (const TStatus status = list.Run().Status; status.Failed()) {
    OpenFailed(CannotOpenText(archive, status.Text()));
    return;
  }
  if (inner.empty()) {
    ShowError(kNoZipFiles);
    FinishListing();
    return;
  }
  SetWaitCursor(true);
  Host.SetCurrentArchiveFile(folder + "/" + inner);
  TExtractParams p;
  p.Archive = archive;
  p.Format = TArchiveFormat::Gzip;
  p.Destination = folder;
  p.Overwrite = TOverwriteMode::Always;
  TExtractJob job(p);
  int lastPercent = -1;
  job.OnProgress = [&](const TJobProgress& pr) {
    const int percent = pr.Total > 0 ? static_cast<int>(pr.Done * 100 / pr.Total) : 0;
    if (percent != lastPercent) PostProgress(lastPercent = percent);
  };
  TJobResult result;
  UnzipStatusBar->showMessage("Decompressing " + QString::fromStdString(ExtractFileName(archive)));
  RunOnWorker([&] { result = job.Run(); });
  UnzipProgressBar->setValue(0);
  UnzipStatusBar->clearMessage();
  UnzipTotalBytes = 0;
  SetWaitCursor(false);
  if (result.Status.IsOk()) {
    ListTarFile(Host.CurrentArchiveFile(), archive);  // the caption names the archive the user opened
  } else if (result.Status.IsCancelled()) {
    FinishListing();
  } else {
    OpenFailed(CannotOpenText(archive, result.Status.Text()));
  }
}

void TUnzipPage::UpdateGZipWindow(const std::string& archive) {
  if (listing_ || !CheckOpenable(archive)) return;
  HideListsForListing();
  Host.DisableAll();
  // The one entry: the stored name by its last element only, and a file without one by its own name
  // less ".gz" (the file extraction writes). A file that is not gzip says so.
  TListParams p;
  p.Archive = archive;
  p.Format = TArchiveFormat::Gzip;
  TListJob job(p);
  std::string inner;
  job.OnEntry = [&](const TArchiveEntry& e) { inner = e.Name; };
  if (const TStatus status = job.Run().Status; status.Failed()) {
    OpenFailed(CannotOpenText(archive, status.Text()));
    return;
  }
  if (inner.empty()) {
    ShowError(kNoZipFiles);
    FinishListing();
    return;
  }
  SetWaitCursor(true);
  Host.SetCurrentArchiveFile(archive);
  Host.SetCaption(archive);
  TListRow row;
  row.File = QString::fromStdString(inner);
  row.Id = 0;  // the one entry of a gzip file
  const QFileInfo info(QString::fromStdString(archive));
  if (!info.exists()) {
    row.Icon = -1;
    UnzipListView->Model()->Append(std::move(row));
    ShowError("ERROR ON FILE OPEN");
    FinishListing();
    return;
  }
  const int64_t size = info.size();
  row.SizeValue = size;
  row.Size = GroupedNumber(size);
  row.DateValue = info.lastModified().toSecsSinceEpoch();
  row.Date = TDateText().FromUnix(row.DateValue);
  row.Icon = Host.Icons().FindFilesIcon(row.File.toStdString());
  UnzipListView->Model()->Append(std::move(row));
  UnzipTotalBytes = size;
  const bool selectAll = Host.Settings().SelectAllOnLoad;
  Host.Settings().SelectAllOnLoad = true;  // the one row is always highlighted
  FinishListing();
  Host.Settings().SelectAllOnLoad = selectAll;
  // The free-space estimate of extraction: three times the compressed size.
  UnzipTotalBytes = 3 * size;
  openedAs_ = TArchiveFormat::Gzip;
}

TPromptAnswer TUnzipPage::OverWriteWarning(const std::string& diskPath, const std::string& caption,
                                           const std::string& dateText, int64_t size) {
  const QFileInfo disk(QString::fromStdString(diskPath));
  if (!disk.exists() && !disk.isSymLink()) return TPromptAnswer::Yes;
  const std::string diskDate = TDateText().FromUnix(disk.lastModified().toSecsSinceEpoch()).toStdString();
  const std::string text = "REPLACE THE FILE \n" + diskPath + "  " + Kilobytes(disk.size()) + " KB  " + diskDate +
                           "\nWITH THE ARCHIVE FILE \n" + caption + "  " + Kilobytes(size) + " KB  " + dateText;
  return Prompt().ShowMessage("Tandor File", text, TPromptIcon::Question, TPromptButtons::YesNoAllCancel);
}

