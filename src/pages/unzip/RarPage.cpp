// RAR archives on the unzip page: listing through the list job on the listing worker; the overwrite
// question asked before an extraction, the password and error boxes of the extract job.
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QStatusBar>

#include "core/Settings.h"
#include "core/TextUtil.h"
#include "ops/Jobs.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/ArchiveNames.h"
#include "pages/unzip/RowSink.h"
#include "pages/unzip/UnzipPage.h"
#include "pages/unzip/ZipListing.h"
#include "rar/RarKit.h"

namespace {

const char* const kReplaceText =
    "THE FILE IN THE ZIP FILE WILL REPLACE THE FILE ON DISK\nTO REPLACE THIS FILE CHOOSE  YES\nTO REPLACE ALL FILES "
    "AND AVOID RECEIVING THIS MESSAGE AGAIN CHOOSE  ALL";

// The listing's only question: the password of encrypted headers, asked before anything can be
// listed (never for entries).
class TRarListQuestions : public TPromptQuestions {
 public:
  explicit TRarListQuestions(TUnzipPage& page) : page_(page) {}
  TPasswordChoice AskPassword(const std::string&, std::string& password) override {
    Asked = true;
    return page_.RarKitReqPassword(password) ? TPasswordChoice::Ok : TPasswordChoice::CancelAll;
  }
  bool Asked = false;

 private:
  TUnzipPage& page_;
};

}  // namespace

void TUnzipPage::UpDateRARWindow(const std::string& archive) {
  if (listing_ || !CheckOpenable(archive)) return;
  HideListsForListing();
  Host.SetCurrentArchiveFile(archive);
  Host.SetCaption(archive);
  SetWaitCursor(true);
  UnzipStatusBar->showMessage("0");
  UnzipTotalBytes = 0;
  int64_t total = 0;
  rarPassword_.clear();
  rarListPassword_.clear();
  rarListError_.clear();
  TRarListQuestions questions(*this);
  RunListing([&](TRowSink& sink) {
    TListParams p;
    p.Archive = archive;
    p.Format = TArchiveFormat::Rar;
    TListJob job(p);
    job.Questions = &questions;
    TRowMaker rows(true);
    job.OnEntry = [&](const TArchiveEntry& e) {
      if (sink.Cancelled()) job.Cancel();
      if (e.Kind == TEntryKind::Folder) return;
      TListRow row;
      if (!rows.Make(e, row)) return;
      total += static_cast<int64_t>(e.Size);
      sink.Add(std::move(row));
    };
    const TStatus status = job.Run().Status;
    rarListPassword_ = rarPassword_;
    // Why an archive could not be read; a missing library keeps the page's own message.
    if (questions.Asked && rarListPassword_.empty())
      rarListError_ = TRarKit::GetRarErrorText(ERAR_MISSING_PASSWORD);
    else if (status.Failed() && !status.IsCancelled() && status.Code() != TStatusCode::NotFound)
      rarListError_ = status.Text();
  });
  openedAs_ = TArchiveFormat::Rar;
  UnzipTotalBytes = total;
  ShowRarArchive();
}

void TUnzipPage::ShowRarArchive() {
  if (!UnzipListView->HasRows()) {
    UnzipTotalBytes = 0;
    // A RAR archive that cannot be read says so and why, rather than that it holds nothing.
    if (!rarListError_.empty()) {
      const std::string archive = Host.CurrentArchiveFile();
      SetWaitCursor(false);
      OpenFailed("THE RAR ARCHIVE " + archive + " CANNOT BE READ:\n" + rarListError_);
      return;
    }
    FinishListing();
    ShowError("THERE ARE NO FILES IN THE ZIPFILE THAT THIS PROGRAM CAN READ");
    return;
  }
  FinishListing();
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
                           ExtractFileName(diskPath) + "  " + std::to_string(GroupedValue(QString::fromStdString(sizeText)) / 1024) + " KB  " +
                           dateText + "\n\n" + kReplaceText;
  switch (Prompt().ShowMessage("Tandor File", text, TPromptIcon::Question, TPromptButtons::YesNoAllCancel)) {
    case TPromptAnswer::NoToAll: state.OverwriteNoToAll = true; return false;
    case TPromptAnswer::No: return false;
    case TPromptAnswer::YesToAll: state.OverwriteYesToAll = true; return true;
    case TPromptAnswer::Yes: return true;
    default: cancel = true; return false;
  }
}

void TUnzipPage::RarKitError(const TStatus& status) {
  // The end of the archive is the end of a good run, not an error.
  if (status.Succeeded()) return;
  Prompt().ShowMessage("Tandor File", status.Text(), TPromptIcon::Error, TPromptButtons::OkCancel);
  Host.RunState().RarErrorSeen = true;
}

bool TUnzipPage::RarKitReqPassword(std::string& password) {
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
  if (password.empty()) Host.RunState().RarPasswordCancelled = true;
  return !password.empty();
}
