#pragma once
// Page 3, "BATCH UNZIP": archives gathered from open dialogs, the queue and folder scans into one
// list, then unzipped in one run, each into a folder of its own, and optionally moved afterwards.
// The scan (TScanZipFileThread) and the run (TBatchUnzipthread) are jobs of the operations layer
// run on a worker; the page's timer only shows their progress.
#include <QTimer>
#include <memory>
#include <string>
#include <vector>

#include "ops/BatchUnzip.h"
#include "pages/common/Page.h"

class QCheckBox;
class TJobRunner;

// A folder as the status line shows it: without its trailing "/"; a folder text (with that "/")
// longer than 90 characters as its first 60, "..." and the 27 before the trailing "/".
QString BatchStatusFolder(const QString& folder);

class TBatchPage : public TPage {
  Q_OBJECT
 public:
  explicit TBatchPage(IPageHost& host);
  ~TBatchPage() override;

  TFileListView* MainList() const override { return BatchListView; }
  QProgressBar* ProgressBar() const override { return BatchProgressBar; }
  std::vector<QWidget*> WorkControls() const override;
  std::vector<QWidget*> CommonControls() const override;
  void EnableWorkControls() override;
  void SetIdleButtons() override;
  bool Busy() const override;
  void Clear() override { BatchResetButtonClick(); }
  // The queue's hand-over: lists the archive unless it is listed already or gone.
  void TakeArchive(const std::string& archive) override;

  // Handlers of the page's controls.
  void BatchUnzipOpenFileButtonClick();
  void ScanFolderForZipFilesButtonClick();
  void BatchUnzipButtonClick();
  void BatchThreadStopButtonClick();
  void BatchResetButtonClick();
  void BatchSelectAllButtonClick();
  void BatchDeleteButtonClick();
  void BatchListViewColumnClick(int column);
  void BatchListViewSelectItem();
  void MoveZipFileCheckBoxClick();
  void MoveZipFileButtonClick();
  void BatchUnzipTimerTimer();

  // True when a row lists this archive (same folder and name).
  bool CheckForDupeBatchZipDrop(const std::string& path) const;
  // Adds a row for an existing archive, tallied from its listing and highlighted; false when it is
  // not a file.
  bool DropFileToBatchZip(const std::string& path);
  // The full path of row i.
  std::string RowArchive(int row) const;
  // Whether the scan and the run take every archive type (the check box, kept in the settings).
  bool AllTypes() const;

  QPushButton* BatchUnzipOpenFileButton;
  QPushButton* ScanFolderForZipFilesButton;
  QCheckBox* ScanSubDirCheckBox;
  QCheckBox* AllTypesCheckBox;
  QPushButton* BatchDeleteButton;
  QPushButton* BatchUnzipButton;
  QPushButton* BatchThreadStopButton;
  QPushButton* BatchSelectAllButton;
  QPushButton* BatchResetButton;
  QPushButton* BatchHelpButton;
  QPushButton* BatchExitButton;
  QCheckBox* MoveZipFileCheckBox;
  QLineEdit* MoveZipFileEdit;
  QPushButton* MoveZipFileButton;
  TFileListView* BatchListView;
  QLineEdit* BatchNumEdit;
  QLineEdit* ZipSizeEdit;
  QLineEdit* BatchTotalSizeEdit;
  QLineEdit* BatchCompleteEdit;
  QLineEdit* BatchFileNumEdit;
  QLineEdit* BatchFileSizeEdit;
  QLineEdit* BatchTotalDoneEdit;
  QProgressBar* BatchProgressBar;
  QProgressBar* BatchFileProgressBar;
  QStatusBar* BatchPathStatusBar;
  QTimer BatchUnzipTimer;

 signals:
  // A scan or a run has ended and the page is idle again.
  void ScanEnded();
  void RunEnded();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void AddFoundRows();
  void ScanFinished();
  void RunFinished(const TJobResult& result);
  void RecountHighlighted();
  void ShowCounters(int64_t files, int64_t packed, int64_t unpacked);
  void EnableListButtons(bool on);
  void ShowList();
  std::string CompletionMessage() const;
  // Takes a move folder: room for the highlighted archives, else the message and no folder.
  void TakeMoveFolder(const std::string& folder);

  std::unique_ptr<TJobRunner> runner_;
  TBatchScanJob* scanJob_ = nullptr;    // the running scan, owned by the runner
  TBatchUnzipJob* unzipJob_ = nullptr;  // the running unzip, owned by the runner
  bool scanning_ = false, running_ = false;
  bool sorted_ = false;
  std::string destination_, moveFolder_;
  bool recreate_ = true;
  std::unique_ptr<IJobQuestions> questions_;  // the run's, kept while it runs
  std::vector<TBatchArchive> runArchives_;     // the run's archives, in order
  std::vector<int64_t> runningSizes_;          // the run's "Total Done" after each archive
  std::vector<std::pair<std::string, std::string>> notMoved_, notUnzipped_;  // archive, why
  std::vector<std::string> neverMoved_;
};
