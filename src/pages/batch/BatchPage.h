#pragma once
// Page 3, "BATCH UNZIP": scans folders for zip archives and unzips many in one run.
#include "pages/common/Page.h"

class QCheckBox;

class TBatchPage : public TPage {
  Q_OBJECT
 public:
  explicit TBatchPage(IPageHost& host);

  TFileListView* MainList() const override { return BatchListView; }
  QProgressBar* ProgressBar() const override { return BatchProgressBar; }
  std::vector<QWidget*> WorkControls() const override;
  std::vector<QWidget*> CommonControls() const override;
  void SetIdleButtons() override;

  QPushButton* BatchUnzipOpenFileButton;
  QPushButton* ScanFolderForZipFilesButton;
  QCheckBox* ScanSubDirCheckBox;
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
  QProgressBar* BatchProgressBar;
  QStatusBar* BatchStatusBar;
};
