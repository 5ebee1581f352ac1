#include "pages/batchcreate/BatchCreateQueue.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include "core/Settings.h"
#include "core/TextUtil.h"
#include "pages/common/FileList.h"
#include "pages/common/PageHost.h"
#include "pages/common/PromptService.h"
#include "pages/create/CreatePage.h"
#include "platform/FileSystem.h"
#include "platform/TempFolders.h"

const char* const kBatchCreated = "Created...";
const char* const kBatchError = "Error creating file...";
const char* const kBatchNoSpace = "Error...not enough disk space/";
const char* const kBatchTarGzNoRoom =
    "THE PROGRAM MUST CREATE A TAR FILE BEFORE CREATING THE GZIPPED FILE, AND THERE IS NOT ENOUGH ROOM ON THE DRIVE "
    "YOU HAVE CHOSEN FOR BOTH FILES.  CHOOSE ANOTHER FOLDER IN WHICH TO SAVE THE GZIPPED FILE AND TRY AGAIN.";

namespace {

constexpr int kBatchInterval = 50;  // ms before the first job

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

int TypeOfAction(const std::string& action) {
  for (int t = bjZip; t <= bjGz; ++t)
    if (action == BatchFilenameAction(t)) return t;
  return bjZip;
}

}  // namespace

TBatchCreateQueue::TBatchCreateQueue(IPageHost& host, TCreatePage& page) : QObject(&page), host_(host), page_(page) {
  BatchTimer.setInterval(kBatchInterval);
  BatchTimer.setSingleShot(true);
  connect(&BatchTimer, &QTimer::timeout, this, &TBatchCreateQueue::BatchTimerTimer);
  connect(&page_, &TCreatePage::RunEnded, this, [this](bool ok) {
    if (jobRunning_) JobEnded(ok);
  });
  // STOP ends the queue; the page's own handler stops the job in work.
  connect(page_.ZipStopButton, &QPushButton::clicked, this, [this] {
    if (running_) stop_ = true;
  });
}

void TBatchCreateQueue::BatchButtonClick() {
  if (running_) return;
  TBatchCreateForm window(host_, [this] { page_.DateQuestion(false); }, &page_);
  host_.SetModalDialogOpen(true);
  const int answer = ExecModal(window, "TBatchCreateForm");
  std::vector<TBatchRow> rows = window.Rows();
  host_.SetModalDialogOpen(false);
  if (answer == QDialog::Accepted && !rows.empty()) Start(std::move(rows));
}

void TBatchCreateQueue::Start(std::vector<TBatchRow> rows) {
  rows_ = std::move(rows);
  BatchJobPos = 0;
  results_.clear();
  running_ = true;
  stop_ = false;
  host_.DisableAll();
  page_.ZipPropertiesButton->setEnabled(false);
  page_.BatchCreateMode = true;
  page_.ZipStopButton->setEnabled(true);
  BatchTimer.start(kBatchInterval);
}

void TBatchCreateQueue::BatchTimerTimer() {
  BatchTimer.stop();
  BatchTimer.setInterval(kBatchInterval);
  if (!running_) return;
  if (stop_) BatchJobPos = rows_.size();
  if (BatchJobPos >= rows_.size()) {
    EndQueue();
    return;
  }
  page_.ResetCreatePage();
  host_.DisableAll();
  std::string jobType;
  sourceMissing_ = false;
  target_.clear();
  while (BatchJobPos < rows_.size() && rows_[BatchJobPos].Action != "FINISH") {
    const TBatchRow& row = rows_[BatchJobPos++];
    if (row.Action.find("Filename") != std::string::npos) {
      target_ = row.Path;
      host_.SetCurrentArchiveFile(row.Path);
      host_.SetCaption(row.Path);
      jobType = row.Action;
    } else if (row.Action == "TAG") {
      page_.CreateTagEdit->setText(QString::fromStdString(row.Path));
    } else if (row.Action == "ADD FILE") {
      if (!page_.BatchAddFile(row.Path)) sourceMissing_ = true;
    } else if (row.Action == "ADD FOLDER") {
      if (!page_.BatchAddFolder(row.Path)) sourceMissing_ = true;
    }
  }
  if (BatchJobPos < rows_.size()) ++BatchJobPos;  // past "FINISH"
  RunBatchJob(jobType);
}

void TBatchCreateQueue::RunBatchJob(const std::string& jobType) {
  if (host_.CurrentArchiveFile().empty()) {
    Next();
    return;
  }
  int type = TypeOfAction(jobType);
  // A file or folder that vanished since it was queued: the job would make an archive without it.
  if (sourceMissing_ || !page_.ZipListView->HasRows()) {
    Record(kBatchError, target_);
    Next();
    return;
  }
  if (!CheckBatchJobRoom(type)) {
    Next();
    return;
  }
  if (type == bjGz && page_.ZipListView->Count() > 1) type = bjZip;
  // An archive already under the target's name is replaced only when the new one is complete.
  jobRunning_ = true;
  switch (type) {
    case bjZip:
      if (host_.Settings().RelativePaths) page_.MakeZipRelPath();
      else page_.MakeZipFDLL();
      break;
    case bjTar: page_.MakeTarFileThread(); break;
    case bjTarGz:
      host_.TempFolders().TarTempFolder.clear();  // no other temporary folder is looked for in a batch
      page_.MakeTarGzFilethread();
      break;
    default: page_.MakeGZFileThread(); break;
  }
}

void TBatchCreateQueue::JobEnded(bool ok) {
  jobRunning_ = false;
  Record(ok ? kBatchCreated : kBatchError, target_);
  if (!stop_) page_.ZipStopButton->setEnabled(true);
  Next();
}

void TBatchCreateQueue::Next() {
  // The first job waits the timer's 50 ms (the window that queued it is gone from the screen by
  // then); a job's end reaches this thread through the event loop, which has painted meanwhile, so
  // the next job starts on the loop's next turn: 50 ms between small jobs would cost more than the
  // jobs themselves.
  BatchTimer.start(0);
}

bool TBatchCreateQueue::CheckBatchJobRoom(int type) {
  const int64_t total = page_.TotalBytes;
  const std::string folder = FolderOf(target_);
  if (type != bjTarGz) {
    const int64_t needed = type == bjTar ? total : total / 10 * 7;
    if (FreeOnDisk(folder) < needed) {
      Record(kBatchNoSpace, target_);
      return false;
    }
    return true;
  }
  const std::string temp = host_.TempFolders().TempFolder();
  const int64_t packed = static_cast<int64_t>(static_cast<double>(total) * 0.65);
  if (SameFileSystem(folder, temp)) {
    if (FreeOnDisk(temp) < total + packed) {
      Record("Error...", kBatchTarGzNoRoom);
      return false;
    }
    return true;
  }
  if (FreeOnDisk(temp) < total || FreeOnDisk(folder) + 65000 < packed) {
    Record(kBatchNoSpace, target_);
    return false;
  }
  return true;
}

void TBatchCreateQueue::Record(const std::string& first, const std::string& second) {
  results_.push_back(first);
  results_.push_back(second);
  results_.emplace_back();
}

void TBatchCreateQueue::EndQueue() {
  page_.ResetCreatePage();
  ShowBatchResults();
  running_ = false;
  stop_ = false;
  page_.BatchCreateMode = false;
  host_.EnableAll();
  for (QPushButton* b : {page_.ZipUndoButton, page_.ZipResetButton, page_.ZipButton, page_.ZipStopButton})
    b->setEnabled(false);
  for (QPushButton* b : {page_.BatchButton, page_.CreateTagButton, page_.ZipPropertiesButton}) b->setEnabled(true);
  host_.SetCaption({});
  page_.CreateTagEdit->clear();
  while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
  page_.ZipListView->setEnabled(true);
  page_.ZipListView->setFocus();
  emit Finished();
}

void TBatchCreateQueue::ShowBatchResults() {
  TBatchMessageForm window(results_, &page_);
  host_.SetModalDialogOpen(true);
  ExecModal(window, "TBatchMessageForm");
  host_.SetModalDialogOpen(false);
}
