// Tar archives, gzip files and gzipped tar archives on the unzip page: opening, listing and the
// extractors that the extraction run calls.
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
#include "pages/common/FileList.h"
#include "pages/common/IconLists.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/ArchiveNames.h"
#include "pages/unzip/RowSink.h"
#include "pages/unzip/UnzipPage.h"
#include "platform/FileSystem.h"
#include "platform/TempFolders.h"
#include "tar/Gzip.h"
#include "tar/TarExtractor.h"
#include "tar/TarLib.h"

namespace fs = std::filesystem;

namespace {

const char* const kNoTarFiles =
    "THERE WERE NO FILES IN THE TAR ARCHIVE.  THE ARCHIVE WAS EMPTY OR CONTAINED ONLY FOLDERS.";
const char* const kNoZipFiles = "THERE ARE NO FILES IN THE ZIPFILE THAT THIS PROGRAM CAN READ";

bool IsListedKind(TTarEntryKind kind) {
  return kind == TTarEntryKind::Regular || kind == TTarEntryKind::CharFile || kind == TTarEntryKind::BlockFile ||
         kind == TTarEntryKind::Contiguous;
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
  if (!HasExtension(name, ".gz") && !HasExtension(name, ".tgz")) return false;
  const bool tarball = HasExtension(name, ".tar.gz") || HasExtension(name, ".tgz") || IsaGzippedTarBall(name);
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
  if (listing_) return;
  HideListsForListing();
  Host.SetCurrentArchiveFile(archive);
  Host.SetCaption(archive);
  UnzipTotalBytes = 0;
  UnzipProgressBar->setValue(0);
  SetWaitCursor(true);
  int64_t total = 0;
  RunListing([&](TRowSink& sink) {
    const TDateText dates;
    std::unique_ptr<TTarArchive> tar;
    try {
      tar = std::make_unique<TTarArchive>(archive);
      tar->Reset();
      TTarDirRec rec;
      std::string name;
      while (!sink.Cancelled() && tar->FindNext(rec)) {
        if (!IsListedKind(rec.EntryKind) || rec.Name.empty()) continue;
        TListRow row;
        name = rec.Name;
        ConvertSlashes(name);
        SplitEntryName(name, row.File, row.Path);
        if (row.File.isEmpty()) continue;
        row.SizeValue = rec.Size;
        row.Size = QString::fromStdString(FormatWithCommas(rec.Size));
        row.DateValue = DateTimeToUnix(rec.ModTime);
        row.Date = dates.FromUnix(row.DateValue);
        int64_t position = 0, size = 0;
        tar->GetFilePos(position, size);
        row.Data = position;
        total += rec.Size;
        sink.Add(std::move(row));
      }
    } catch (const std::exception&) {
      // A broken archive lists the entries read before the damage.
    }
  });
  UnzipTotalBytes = total;
  if (!UnzipListView->HasRows()) {
    UnzipTotalBytes = 0;
    ShowError(kNoTarFiles);
  }
  FinishListing(true);
}

void TUnzipPage::UpDateTarGZipWindow(const std::string& archive) {
  if (listing_) return;
  HideListsForListing();
  const int64_t size = std::max<int64_t>(FileSize(archive), 0);
  const int64_t needed = static_cast<int64_t>(std::nearbyint(static_cast<double>(size) * 2.5));
  TTempFolders& temp = Host.TempFolders();
  temp.TarTempFolder.clear();
  std::string folder = temp.TempFolder();
  std::error_code ec;
  if (FreeOnDisk(folder) < needed) {
    if (!temp.ChooseNewTempFolder(needed)) {
      FinishListing(true);
      return;
    }
    folder = temp.TarTempFolder;
  }
  fs::create_directories(folder, ec);

  TGzip gzip;
  gzip.FileSource = archive;
  gzip.DeleteSource = false;
  if (gzip.ReadHeader() != 0) {  // not gzip, or a header cut short: nothing to say
    Host.EnableAll();
    FinishListing(true);
    return;
  }
  // Without a stored name (tar -z, gzip -n) the name comes from the file's own name.
  const std::string inner = GzOutputName(gzip.HeaderFileName, archive);
  if (inner.empty()) {
    ShowError(kNoZipFiles);
    FinishListing(true);
    return;
  }
  SetWaitCursor(true);
  gzip.FileDestination = folder + "/" + inner;
  Host.SetCurrentArchiveFile(gzip.FileDestination);
  gzip.ProgressStep = 1;
  gzip.WindowOnError = true;
  gzip.OnProgress = [this](TGzip& g) { PostProgress(g.Progress); };
  int result = -1;
  UnzipStatusBar->showMessage("Decompressing " + QString::fromStdString(ExtractFileName(archive)));
  RunOnWorker([&] { result = gzip.Decompress(); });
  UnzipProgressBar->setValue(0);
  UnzipStatusBar->clearMessage();
  UnzipTotalBytes = 0;
  SetWaitCursor(false);
  if (result == 0) {
    UpdateTarWindow(Host.CurrentArchiveFile());
    // The caption names the archive the user opened.
    Host.SetCaption(archive);
  } else {
    FinishListing(true);
  }
}

void TUnzipPage::UpdateGZipWindow(const std::string& archive) {
  if (listing_) return;
  HideListsForListing();
  TGzip gzip;
  gzip.FileSource = archive;
  gzip.DeleteSource = false;
  Host.DisableAll();
  if (gzip.ReadHeader() != 0) {
    FinishListing(false);
    return;
  }
  // The stored name counts by its last element only, and a file without one by its own name less
  // ".gz": that is the file extraction writes.
  const std::string inner = GzOutputName(gzip.HeaderFileName, archive);
  if (inner.empty()) {
    ShowError(kNoZipFiles);
    FinishListing(false);
    return;
  }
  SetWaitCursor(true);
  Host.SetCurrentArchiveFile(archive);
  Host.SetCaption(archive);
  TListRow row;
  row.File = QString::fromStdString(inner);
  const QFileInfo info(QString::fromStdString(archive));
  if (!info.exists()) {
    row.Icon = -1;
    UnzipListView->Model()->Append(std::move(row));
    ShowError("ERROR ON FILE OPEN");
    FinishListing(false);
    return;
  }
  const int64_t size = info.size();
  row.SizeValue = size;
  row.Size = QString::number(size);
  row.DateValue = info.lastModified().toSecsSinceEpoch();
  row.Date = TDateText().FromUnix(row.DateValue);
  row.Icon = Host.Icons().FindFilesIcon(row.File.toStdString());
  UnzipListView->Model()->Append(std::move(row));
  UnzipTotalBytes = size;
  const bool selectAll = Host.Settings().SelectAllOnLoad;
  Host.Settings().SelectAllOnLoad = true;  // the one row is always highlighted
  FinishListing(false);
  Host.Settings().SelectAllOnLoad = selectAll;
  // The free-space estimate of extraction: three times the compressed size.
  UnzipTotalBytes = 3 * size;
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

void TUnzipPage::UnzipTarFile(const std::string& destination) {
  bool all = false;
  std::vector<std::string> names = HighlightedNames(all);
  if (names.empty()) {
    ShowError(
        "NO FILES HAVE BEEN HIGHLIGHTED!\nCHOOSE  SELECT ALL BUTTON OR CLICK FILES TO HIGHLIGHT THEM\nAND TRY AGAIN.  "
        "(ONLY HIGHLIGHTED FILES IN THE LIST WILL BE UNZIPPED)");
    return;
  }
  std::string archive;
  RunOnUiThread([&] { archive = Host.CurrentArchiveFile(); });
  TRunState& state = Host.RunState();
  state.OverwriteYesToAll = false;
  state.OverwriteNoToAll = false;
  TTarExtractor extractor;
  if (!all) extractor.Only = std::move(names);  // every row highlighted: the whole archive
  const TDateText dates;
  extractor.OnOverwrite = [&](const TTarDirRec& entry, const std::string& diskPath) {
    if (state.OverwriteNoToAll) return TOverwriteAnswer::No;
    if (state.OverwriteYesToAll) return TOverwriteAnswer::Yes;
    const std::string caption = ExtractFileName(entry.Name);
    const std::string date = dates.FromUnix(DateTimeToUnix(entry.ModTime)).toStdString();
    switch (OverWriteWarning(diskPath, caption, date, entry.Size)) {
      case TPromptAnswer::No:
      case TPromptAnswer::Cancel: return TOverwriteAnswer::No;
      case TPromptAnswer::NoToAll: state.OverwriteNoToAll = true; return TOverwriteAnswer::NoToAll;
      case TPromptAnswer::YesToAll: state.OverwriteYesToAll = true; return TOverwriteAnswer::YesToAll;
      default: return TOverwriteAnswer::Yes;
    }
  };
  int lastPercent = -1;
  extractor.OnProgress = [&](int64_t done, int64_t total, const std::string&) {
    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 0;
    if (percent != lastPercent) PostProgress(lastPercent = percent);
  };
  const TTarExtractResult result = extractor.Extract(archive, destination);
  PostProgress(0);
  if (!result.Ok && !result.Cancelled)
    ShowError("ERROR : " + result.Error);
  else if (!result.Warnings.empty())
    ShowWarning(result.Warnings.front() + (result.Warnings.size() > 1
                                               ? "\n(" + std::to_string(result.Warnings.size() - 1) + " more)"
                                               : std::string()));
  if (result.Ok) RunOnUiThread([&] { Host.SetArchiveExtracted(true); });
}

void TUnzipPage::UnzipGZFile(QObject* sender, const std::string& destination) {
  (void)sender;
  std::string archive;
  RunOnUiThread([&] { archive = Host.CurrentArchiveFile(); });
  TGzip gzip;
  gzip.FileSource = archive;
  gzip.WindowOnError = false;
  gzip.ReadHeader();
  const std::string leaf = GzOutputName(gzip.HeaderFileName, archive);
  std::error_code ec;
  if (fs::exists(fs::symlink_status(destination + "/" + leaf, ec))) {
    if (Prompt().ShowMessage("Tandor File", "THE FILE " + leaf + " ALREADY EXISTS.  REPLACE THE FILE?",
                             TPromptIcon::Question, TPromptButtons::YesNo) != TPromptAnswer::Yes)
      return;
  }
  TTarExtractor extractor;
  extractor.OnOverwrite = [](const TTarDirRec&, const std::string&) { return TOverwriteAnswer::Yes; };
  int lastPercent = -1;
  extractor.OnProgress = [&](int64_t done, int64_t total, const std::string&) {
    const int percent = total > 0 ? static_cast<int>(done * 100 / total) : 0;
    if (percent != lastPercent) PostProgress(lastPercent = percent);
  };
  const TTarExtractResult result = extractor.ExtractGz(archive, destination);
  PostProgress(0);
  if (!result.Ok && !result.Cancelled) ShowError("ERROR : " + result.Error);
  if (result.Ok) RunOnUiThread([&] { Host.SetArchiveExtracted(true); });
}
