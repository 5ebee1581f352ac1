#include "app/QueueButtons.h"

#include <QComboBox>
#include <QProcess>
#include <QPushButton>
#include <algorithm>
#include <filesystem>

#include "app/DeleteQueueFileForm.h"
#include "app/IncomingQueue.h"
#include "app/LongPath.h"
#include "app/OpenDispatch.h"
#include "app/TandorForm.h"
#include "core/TextUtil.h"
#include "pages/common/FileList.h"
#include "pages/common/PromptService.h"
#include "pages/unzip/UnzipPage.h"
#include "platform/Paths.h"

namespace fs = std::filesystem;

TQueueButtons::TQueueButtons(TTandorForm& form) : QObject(&form), form_(form) {
  TUnzipPage* page = form.UnzipPage();
  connect(page->ComboBox, &QComboBox::activated, this, &TQueueButtons::ComboBoxChange);
  connect(page->CLRButton, &QPushButton::clicked, this, &TQueueButtons::CLRButtonClick);
  connect(page->SaveQueueButton, &QPushButton::clicked, this, &TQueueButtons::SaveQueueButtonClick);
  connect(page->MoveBatchButton, &QPushButton::clicked, this, &TQueueButtons::MoveBatchButtonClick);
  connect(page->SaveUnzipFileButton, &QPushButton::clicked, this, &TQueueButtons::SaveUnzipFileButtonClick);
  connect(page->SpiderButton, &QPushButton::clicked, this, &TQueueButtons::SpiderButtonClick);
}

void TQueueButtons::ComboBoxChange(int i) {
  TIncomingQueue& queue = form_.Queue();
  if (i <= 0 || i >= int(form_.QueueList().size())) return;
  if (form_.Dispatch().OpenInProgress()) {  // one open at a time; the archive stays queued
    queue.ShowState();
    return;
  }
  const std::string path = form_.QueueList()[size_t(i)];
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    ShowError("THE FILE YOU HAVE SELECTED NO LONGER EXISTS.\nIF YOU DOWNLOADED THE FILE FROM THE INTERNET AND "
              "CLOSED YOUR BROWSER THE FILE WAS DELETED.");
    queue.RemoveFromQueue(i);
    return;
  }
  if (!IsArchiveExtension(ExtractFileExt(path))) {
    ShowError("ERROR : THE FILE IS NOT IN A FORMAT THAT IS RECOGNIZED BY THIS PROGRAM.");
    queue.RemoveFromQueue(i);
    return;
  }
  const bool rows = form_.UnzipPage()->UnzipListView->HasRows();
  // The archive being replaced goes back to the end of the queue.
  if (rows && !form_.ArchiveExtracted() && form_.Settings().QueueEnabled) queue.AddToQueue(form_.CurrentArchiveFile());
  if (rows) form_.ClearUnzipWindow();
  form_.SetCurrentArchiveFile(path);
  form_.SetCaption(path);
  queue.RemoveFromQueue(i);
  form_.Dispatch().StartOpenThread();
}

void TQueueButtons::CLRButtonClick() {
  TIncomingQueue& queue = form_.Queue();
  if (queue.Count() <= 0) return;
  if (form_.Settings().ConfirmQueueDelete) {
    TDeleteQueueFileForm dialog(std::vector<std::string>(form_.QueueList().begin() + 1, form_.QueueList().end()), &form_);
    if (ExecModal(dialog, "TDeleteQueueFileForm") == QDialog::Accepted) {
      std::vector<int> rows = dialog.CheckedRows();
      std::sort(rows.rbegin(), rows.rend());  // from the end, so that indices stay right
      for (int row : rows) {
        const int i = row + 1;
        if (i >= int(form_.QueueList().size())) continue;
        form_.UnzipPage()->ComboBox->removeItem(i);
        form_.QueueList().erase(form_.QueueList().begin() + i);
      }
      queue.PruneQueueCopies();
    }
  } else {
    queue.ClearAll();
  }
  queue.ShowState();
  queue.SaveQueue();
}

void TQueueButtons::SaveQueueButtonClick() {
  if (form_.CurrentArchiveFile().empty() || !form_.UnzipPage()->UnzipListView->HasRows()) return;
  form_.Queue().AddToQueue(form_.CurrentArchiveFile());
  form_.SetCurrentArchiveFile({});
  form_.SetCaption({});
  form_.Dispatch().ResetUnzipPage();
}

void TQueueButtons::MoveBatchButtonClick() {
  TIncomingQueue& queue = form_.Queue();
  if (queue.Count() <= 0) return;
  if (form_.UnzipPage()->UnzipListView->HasRows()) {
    queue.AddToQueue(form_.CurrentArchiveFile());
    form_.Dispatch().ResetUnzipPage();
  }
  // The batch page skips archives it lists already and those that are gone.
  const std::vector<std::string> queued(form_.QueueList().begin() + 1, form_.QueueList().end());
  for (const std::string& path : queued) form_.HandArchiveTo(kBatchPage, path);
  queue.ClearAll(true);
  queue.SaveQueue();
  form_.RequestPage(kBatchPage);
}

void TQueueButtons::SaveUnzipFileButtonClick() {
  const std::string archive = form_.CurrentArchiveFile();
  std::error_code ec;
  if (archive.empty() || !fs::is_regular_file(archive, ec)) return;
  const std::string longPath = ExpandLongPath(archive);
  const std::string name = ExtractFileName(longPath.empty() ? archive : longPath);
  const std::string& folder = form_.Settings().ArchiveSaveFolder;
  const std::string proposal = folder.empty() ? name : folder + "/" + name;
  // A copy: a name typed without an archive suffix gets the archive's own.
  const std::string own = ArchiveSuffixOf(archive);
  const std::string chosen =
      AskArchiveSaveName("Choose a name for your zip file ", proposal, "Zip files|*.zip|TAR Files|*.tar|GZ Files|*.gz",
                         own.empty() ? ".zip" : own, {".zip", ".tar.gz", ".tgz", ".tar", ".gz", ".rar"});
  if (chosen.empty()) return;
  if (fs::exists(chosen, ec) && fs::equivalent(chosen, archive, ec)) return;  // the archive itself
  if (!TIncomingQueue::CopyFileTo(archive, chosen))
    ShowError("ERROR : THE FILE COULD NOT BE SAVED AS " + chosen);
}

void TQueueButtons::SpiderButtonClick() {
  const std::string program = ProgramDir() + "/crawlpad";
  std::error_code ec;
  if (fs::exists(program, ec)) QProcess::startDetached(QString::fromStdString(program), {});
}
