#pragma once
// Page 2, "CREATE A NEW ZIP FILE": gathers files and folders, then makes a zip, tar, gzip or gzipped
// tar archive of them with the create job of the operations layer (TCreateJob, the job `tandor a`
// runs) on the page's runner. The job builds the archive under a temporary name beside the target and
// renames it into place only when complete, so a stopped or failed run leaves no partial archive.
#include <QStringList>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "pages/common/Page.h"
#include "pages/create/CreateForms.h"
#include "pages/create/CreateList.h"
#include "ops/JobQuestions.h"

class QAction;
class TBatchCreateQueue;
class TJobRunner;
struct TCreateParams;
struct TJobResult;
enum class TArchiveFormat : uint8_t;

class TCreatePage : public TPage {
  Q_OBJECT
 public:
  explicit TCreatePage(IPageHost& host);
  ~TCreatePage() override;

  TFileListView* MainList() const override { return ZipListView; }
  QProgressBar* ProgressBar() const override { return ZipProgressBar; }
  std::vector<QWidget*> WorkControls() const override;
  std::vector<QWidget*> CommonControls() const override;
  void SetIdleButtons() override;
  // The archive of a zip run started since the list was filled may go to another page.
  bool ArchiveReady() const override { return HasRows() && ZipRunStarted; }
  // A batch create run drives the page: it cannot be left meanwhile.
  bool Busy() const override;
  // ClearCreateList.
  void Clear() override { ClearCreateList(); }
  // Empties the list, the icon cache and the undo steps; the options may be changed again.
  void ClearCreateList();

  // --- The list -----------------------------------------------------------------------------
  void OpenFilesZipButtonClick();   // ADD FILES
  void OpenFolderzipButtonClick();  // ADD FOLDER
  // Files and folders dropped on the list (or handed over) join it.
  void UpdateZipWindow(const QStringList& paths);
  // True when the file must not be added: older than the cut-off date, or already listed (same Source).
  bool CheckForDupeZipFileDrop(const std::string& path);
  // Adds one row for a found file; n is the prefix length for the stored path.
  void DropFileToZip(const std::string& path, const createlist::TFoundFile& found, int n);
  // Scans a folder with the folder-adding window and appends what it found.
  void AddFolderToList(const std::string& folder);
  void ZipUndoButtonClick();
  void ZipResetButtonClick();
  void SelectAll2Click();
  void Delete2Click();  // "Remove", and the Delete key on the list
  void ZipListViewSelectItem();
  // Asks the cut-off date when OnlyNewerThanDate is set and none was given on this page visit.
  void DateQuestion(bool modalFlag);

  // --- The batch create queue (it fills the list as the user would) ---------------------------
  // Empties the status line, the list, the temporary folders, the icon cache, the counters, the
  // target and the tag box for the next job.
  void ResetCreatePage();
  // Adds one file unless it is listed already or older than the cut-off date; false when it is not
  // there (or not a regular file).
  bool BatchAddFile(const std::string& path);
  // Adds a folder's files through the folder-adding window; false when the folder is not there.
  bool BatchAddFolder(const std::string& folder);
  // BATCH: the "Batch Create" window, then its jobs run one after another on this page.
  TBatchCreateQueue* BatchQueue = nullptr;

  // --- Zip runs -----------------------------------------------------------------------------
  void ZipButtonClick();
  bool MakeZipFDLL();     // every row under its full path (or its bare name)
  bool MakeZipRelPath();  // stored folders relative to each row's root
  void ZipStopButtonClick();
  // EDIT TAG: the tag box becomes the comment of the zip archive the last run made (one rewrite);
  // without one the tag box takes the focus (its text is the tag of the next archive).
  void CreateTagButtonClick();
  void ZipPropertiesButtonClick();
  // Opens the Properties window on the named page ("ADD Files", "Default Type"); set by the window
  // that owns the Properties window.
  std::function<void(const std::string& page)> ShowProperties;

  // --- Tar and gzip runs --------------------------------------------------------------------
  void MakeTarFileThread();
  void MakeTarGzFilethread();
  void MakeGZFileThread();
  void ZipTarGZButtonsOff();
  void ZipTarGZButtonsOn();
  // The room checks of a gzipped tar for `total` bytes; false (after a message) when it cannot be made.
  bool CheckTarGzRoom(int64_t total);
  // After a creation run has ended: the page usable again, the run's controls reset.
  void EnableTimerTimer();
  // The archive the last run made (of a multi-disk set: the part holding its directory); empty after a failed run.
  const std::string& LastArchive() const { return lastArchive_; }

  int64_t TotalBytes = 0;  // the page's total of the Size column
  TUndoStack UndoStack;    // the rows added by each adding action, and the removals
  // The rows of each removal on the undo stack, with the places they had, in list order.
  std::map<int64_t, std::vector<std::pair<int, TListRow>>> RemovedRows;
  bool ZipRunStarted = false;  // a zip creation run was started since the list was filled
  bool BatchCreateMode = false;
  TTarOptions TarOptions;  // the stamps of the next tar run (back to the defaults after each)
  int ZipLevel = 9;        // the deflate level of zip runs (0-9)
  // Results of the last run, for the batch queue.
  bool TarFailed = false;
  bool GzipFailed = false;
  bool ZipFailed = false;

  QPushButton* OpenFilesZipButton;
  QPushButton* OpenFolderzipButton;
  QPushButton* ZipButton;
  QPushButton* ZipStopButton;
  QPushButton* ZipUndoButton;
  QPushButton* BatchButton;
  QPushButton* CreateTagButton;
  QPushButton* ZipResetButton;
  QPushButton* ZipPropertiesButton;
  QPushButton* ZipHelpButton;
  QPushButton* ZipExitButton;
  TFileListView* ZipListView;
  QLineEdit* NumfilesEdit;
  QLineEdit* TotalFileSizeEdit;
  QLineEdit* CreateTagEdit;  // the archive's tag (zip comment, gzip comment)
  QProgressBar* ZipProgressBar;
  QStatusBar* ZipStatusBar;
  QAction* SelectAll2;  // the list's "Select All" menu entry
  QAction* Remove1;     // the list's "Remove" menu entry

 signals:
  // A creation run has ended and the page is usable again; `ok` when the archive was made.
  void RunEnded(bool ok);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct TRunRow {
    std::string Source;
    std::string Stored;  // stored folder (Path cell)
    std::string Name;
  };
  void BeginAdding();
  void FinishAdding();
  void UpdateCounts();
  void ZipListViewdisplay(std::vector<TListRow>&& rows, std::vector<UndoEntryRec>&& undo, int64_t total);
  void SetFiveButtons(bool on);
  int64_t NotBefore() const;
  std::vector<TRunRow> SnapshotRows() const;

  bool PrepareZipParams(TCreateParams& p);
  bool BeginZipRun(TCreateParams& p);
  bool BeginTarRun(TCreateParams& p, TArchiveFormat format);
  void AddTarRows(TCreateParams& p);
  // Runs the create job; `type` as the type window numbers it (1 zip, 2 gzipped tar, 3 tar, 4 gzip).
  void StartCreateJob(TCreateParams params, int type);
  void CreateJobEnded(const TJobResult& r);
  bool TargetFolderUsable(const std::string& target);
  void Report(const std::string& text);  // not in BatchCreateMode

  std::unordered_set<std::string> sources_;  // Sources listed, during an adding action
  int added_ = 0;

  // The run.
  std::unique_ptr<TJobRunner> runner_;
  TUnattendedQuestions unattended_;
  int runType_ = 0;
  bool stopRequested_ = false;
  std::string targetPath_;
  std::string lastArchive_;
};
