// RAR archives on the unzip page: listing through TRarKit on the listing worker, extraction of the
// highlighted rows on the extraction worker with overwrite and password questions.
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>

#include "core/Settings.h"
#include "core/TextUtil.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/ArchiveNames.h"
#include "pages/unzip/RowSink.h"
#include "pages/unzip/UnzipPage.h"
#include "platform/Paths.h"
#include "rar/RarKit.h"

namespace {

constexpr unsigned kFolderAttribute = 0x10;
const char* const kReplaceText =
    "THE FILE IN THE ZIP FILE WILL REPLACE THE FILE ON DISK\nTO REPLACE THIS FILE CHOOSE  YES\nTO REPLACE ALL FILES "
    "AND AVOID RECEIVING THIS MESSAGE AGAIN CHOOSE  ALL";

void PrepareKit(TRarKit& kit, const std::string& archive) {
  kit.Path2UnrarDll = ProgramDir();
  kit.NameofUnrarDll = "libunrar.so";
  kit.Archivefilename = archive;
}

}  // namespace

void TUnzipPage::RarKitListing(const TRarKit& kit, const RARHeaderData& header, TRowSink& sink, int64_t& total) {
  if ((header.FileAttr & kFolderAttribute) != 0 || TRarKit::IsFolderEntry(header)) return;
  static thread_local TDateText dates;
  std::string name = TRarKit::EntryName(header);
  ConvertSlashes(name);
  TListRow row;
  SplitEntryName(name, row.File, row.Path);
  if (row.File.isEmpty()) return;
  const uint64_t size = kit.EntryUnpackedSize();
  row.SizeValue = static_cast<qint64>(size);
  row.Size = QString::number(size);
  row.Date = dates.FromDos(header.FileTime);
  row.DateValue = TDateText::DosSortKey(header.FileTime);
  total += static_cast<int64_t>(size);
  sink.Add(std::move(row));
}

void TUnzipPage::UpDateRARWindow(const std::string& archive) {
  if (listing_) return;
  HideListsForListing();
  Host.SetCurrentArchiveFile(archive);
  Host.SetCaption(archive);
  SetWaitCursor(true);
  UnzipStatusBar->showMessage("0");
  UnzipTotalBytes = 0;
  int64_t total = 0;
  rarListPassword_.clear();
  rarListError_.clear();
  RunListing([&](TRowSink& sink) {
    TRarKit kit;
    PrepareKit(kit, archive);
    kit.OnListing = [&](TRarKit& k, const RARHeaderData& header) {
      RarKitListing(k, header, sink, total);
      if (sink.Cancelled()) k.Stop = true;
    };
    // Encrypted headers: the password is asked before anything can be listed (never for entries).
    bool asked = false;
    kit.OnReqPassword = [this, &asked](TRarKit& k, const RARHeaderData& header, std::string& password) {
      if (header.FileName[0]) return;
      asked = true;
      rarPassword_.clear();
      RarKitReqPassword(k, password);
      rarListPassword_ = password;
    };
    int code = kit.ListRarArchive();
    if (code == kRarKitStopped && asked && rarListPassword_.empty()) code = ERAR_MISSING_PASSWORD;
    // A missing library keeps the page's own message.
    if (!TRarKit::Succeeded(code) && code != kRarKitStopped && code != kRarKitNoLibrary)
      rarListError_ = TRarKit::GetRarErrorText(code);
  });
  UnzipTotalBytes = total;
  ShowRarArchive();
}

void TUnzipPage::ShowRarArchive() {
  if (!UnzipListView->HasRows()) {
    UnzipTotalBytes = 0;
    FinishListing(false);
    // A RAR archive that cannot be read says so and why, rather than that it holds nothing.
    if (!rarListError_.empty())
      ShowError("THE RAR ARCHIVE " + Host.CurrentArchiveFile() + " CANNOT BE READ:\n" + rarListError_);
    else
      ShowError("THERE ARE NO FILES IN THE ZIPFILE THAT THIS PROGRAM CAN READ");
    return;
  }
  FinishListing(false);
}

bool TUnzipPage::OKToAddRARFile(const std::string& diskPath, const std::string& sizeText,
                                const std::string& dateText, bool& cancel) {
  cancel = false;
  const QFileInfo disk(QString::fromStdString(diskPath));
  if (!disk.exists() && !disk.isSymLink()) return true;
  TRunState& state = Host.RunState();
  if (state.OverwriteNoToAll) return false;
  const std::string diskDate = TDateText().FromUnix(disk.lastModified().toSecsSinceEpoch()).toStdString();
  const std::string text = diskPath + "  " + std::to_string(disk.size() / 1024) + " KB  " + diskDate + "\n\n" +
                           ExtractFileName(diskPath) + "  " + std::to_string(RemoveCommas(sizeText) / 1024) + " KB  " +
                           dateText + "\n\n" + kReplaceText;
  switch (Prompt().ShowMessage("Tandor File", text, TPromptIcon::Question, TPromptButtons::YesNoAllCancel)) {
    case TPromptAnswer::NoToAll: state.OverwriteNoToAll = true; return false;
    case TPromptAnswer::No: return false;
    case TPromptAnswer::YesToAll: state.OverwriteYesToAll = true; return true;
    case TPromptAnswer::Yes: return true;
    default: cancel = true; return false;
  }
}

void TUnzipPage::RarKitError(int code) {
  // The end of the archive is the end of a good run, not an error.
  if (TRarKit::Succeeded(code)) return;
  Prompt().ShowMessage("Tandor File", TRarKit::GetRarErrorText(code), TPromptIcon::Error, TPromptButtons::OkCancel);
  Host.RunState().RarErrorSeen = true;
}

void TUnzipPage::RarKitExtracting() {
  // Every header read counts, skipped entries too; the bar stops at its end.
  const int seen = ++rarEntriesSeen_;
  QMetaObject::invokeMethod(
      UnzipProgressBar, [bar = UnzipProgressBar, seen] { bar->setValue(std::min(seen, bar->maximum())); },
      Qt::QueuedConnection);
}

void TUnzipPage::RarKitReqPassword(TRarKit& kit, std::string& password) {
  if (rarPassword_.empty()) {
    for (;;) {
      std::string text;
      if (!Prompt().AskText("Enter password", "&Password:", text, true)) {
        rarPassword_.clear();
        break;
      }
      if (!text.empty()) {
        rarPassword_ = text;
        break;
      }
      // OK with an empty text keeps the dialog open.
    }
  }
  password = rarPassword_;
  if (password.empty()) {
    kit.Stop = true;
    Host.RunState().RarPasswordCancelled = true;
  }
}

void TUnzipPage::UnzipRarFile(const std::string& destination) {
  TRunState& state = Host.RunState();
  rarPassword_ = rarListPassword_;  // encrypted headers: the password that listed them
  state.RarPasswordCancelled = false;
  state.RarErrorSeen = false;
  state.OverwriteYesToAll = false;
  state.OverwriteNoToAll = false;

  struct TRowText {
    std::string Name, Size, Date;
  };
  std::vector<TRowText> rows;
  std::string archive;
  RunOnUiThread([&] {
    archive = Host.CurrentArchiveFile();
    const TFileListModel& m = *UnzipListView->Model();
    for (int r : UnzipListView->SelectedRows()) {
      const TListRow& row = m.Row(r);
      rows.push_back({row.Key().toStdString(), row.Size.toStdString(), row.Date.toStdString()});
    }
  });
  std::vector<std::string> names;
  for (const TRowText& row : rows) {
    bool cancel = false;
    if (state.OverwriteYesToAll || Host.Settings().UnzipOverwrite ||
        OKToAddRARFile(destination + "/" + row.Name, row.Size, row.Date, cancel))
      names.push_back(row.Name);
    if (cancel) return;  // nothing is extracted
  }
  if (names.empty()) {
    ShowError("YOU HAVE NOT SELECTED ANY FILES TO ADD TO THIS ZIP FILE");
    return;
  }

  TRarKit kit;
  PrepareKit(kit, archive);
  kit.OnError = [this](TRarKit&, int code) { RarKitError(code); };
  kit.SetFilesToProcess(names);
  kit.TargetDirectory = destination;
  kit.ErrorOnDirExists = false;
  kit.OnReqPassword = [this](TRarKit& k, const RARHeaderData&, std::string& password) { RarKitReqPassword(k, password); };
  kit.OnExtracting = [this](TRarKit&, const RARHeaderData&) { RarKitExtracting(); };
  // Existing files were asked about above; the ones left are replaced.
  kit.OnOverwrite = [](TRarKit&, const RARHeaderData&, const std::string&) { return true; };
  rarEntriesSeen_ = 0;
  RunOnUiThread([&] {
    UnzipProgressBar->setMaximum(static_cast<int>(std::max<size_t>(names.size(), 1)));
    UnzipProgressBar->setValue(0);
  });
  const int result = kit.ExtractRarArchive();
  RunOnUiThread([&] {
    UnzipProgressBar->setValue(0);
    UnzipProgressBar->setMaximum(100);
    if (TRarKit::Succeeded(result)) Host.SetArchiveExtracted(true);
  });
}
