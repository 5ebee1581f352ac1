#pragma once
// Page 2, "CREATE A NEW ZIP FILE": gathers files and folders, then makes a zip, tar, gzip or gzipped
// tar archive of them. Runs build their archive under a temporary name beside the target and rename
// it into place only when complete, so a stopped or failed run leaves no partial archive behind.
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "pages/common/Page.h"
#include "pages/create/CreateForms.h"
#include "pages/create/CreateList.h"
#include "tar/Gzip.h"
#include "zip/ZipKit.h"

class QAction;
class QThread;
class TTarWriter;

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
  void Delete2Click();  // "Remove"
  void ZipListViewSelectItem();
  // Asks the cut-off date when OnlyNewerThanDate is set and none was given on this page visit.
  void DateQuestion(bool modalFlag);

  // --- Zip runs -----------------------------------------------------------------------------
  void ZipButtonClick();
  bool BeginZipRun();
  bool MakeZipFDLL();     // one engine call for the whole list
  bool MakeZipRelPath();  // stored folders relative to each row's root
  void ZipStopButtonClick();
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
  void TarTimerTimer();
  void GzipTimerTimer();
  // After a creation run or a gzip run has ended: the page usable again, the run's controls reset.
  void EnableTimerTimer();

  int64_t TotalBytes = 0;  // the page's total of the Size column
  TUndoStack UndoStack;    // the rows added by each adding action
  bool ZipRunStarted = false;  // a zip creation run was started since the list was filled
  // The timers of the runs: the tar worker's end (TarTimer), the gzip progress (GzipTimer) and the
  // end of a zip or gzip run (EnableTimer).
  QTimer TarTimer, GzipTimer, EnableTimer;
  bool BatchCreateMode = false;
  TZipKit ZipKit;
  TGzip Gzip;
  TTarOptions TarOptions;
  // Results of the last run, for the batch queue.
  bool TarFailed = false;
  bool GzipFailed = false;
  bool ZipFailed = false;
  bool GzipProgressToCreatePage = false;

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

  bool PrepareZipKit();
  void StartZipWorker(std::vector<std::pair<std::string, std::vector<std::string>>> calls);
  void ZipRunEnded();
  void TarStep(const std::string& path);
  void StartGzipWorker(const std::string& source, const std::string& destination);
  void EnableTimerEnded();
  void ProgressTimerTimer();
  bool TargetFolderUsable(const std::string& target);
  void Report(const std::string& text);  // not in BatchCreateMode

  std::unordered_set<std::string> sources_;  // Sources listed, during an adding action
  int added_ = 0;

  // Run state shared with the workers.
  QTimer progressTimer_;
  std::atomic<bool> stopRequested_{false};
  std::atomic<int64_t> progressDone_{0};
  std::atomic<int64_t> progressTotal_{0};
  std::atomic<bool> runOk_{false};
  std::string partPath_;    // the archive being built under its temporary name
  std::string targetPath_;  // where it goes when complete
  AddOpts spanOptions_;     // not empty: the archive is then copied onto the parts of a multi-disk set
  std::string resultPath_;  // the archive made (a set: the part holding its directory)
  bool tarThenGzip_ = false;
  bool roomRanOut_ = false;
  bool tarReadError_ = false;
  std::string tarErrorText_;
  std::string tarTempPath_;
  std::unique_ptr<TTarWriter> tarWriter_;
  bool zipRunActive_ = false;
  bool gzipRunActive_ = false;
  std::unique_ptr<QThread> worker_;
  std::atomic<bool> zipErrorSeen_{false};
};

// A fresh name beside `target` under which an archive is built before it is renamed to `target`.
std::string PartNameFor(const std::string& target);
