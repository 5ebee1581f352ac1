#include "pages/batch/BatchPage.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "pages/common/FileList.h"

TBatchPage::TBatchPage(IPageHost& host) : TPage(host) {
  BatchUnzipOpenFileButton = MakeButton("SELECT FILES");
  ScanFolderForZipFilesButton = MakeButton("SCAN FOLDER");
  ScanSubDirCheckBox = new QCheckBox("Scan Sub Folders", this);
  BatchDeleteButton = MakeButton("DELETE", "REMOVE THE HIGHLIGHTED ARCHIVES FROM THE LIST");
  BatchUnzipButton = MakeButton("UNZIP");
  BatchThreadStopButton = MakeButton("STOP");
  BatchThreadStopButton->setEnabled(false);
  BatchSelectAllButton = MakeButton("ALL");
  BatchResetButton = MakeButton("RESET");
  BatchHelpButton = MakeButton("HELP");
  BatchExitButton = MakeButton("EXIT");
  MoveZipFileCheckBox = new QCheckBox("Move zip files after unzipping to", this);
  MoveZipFileEdit = new QLineEdit(this);
  MoveZipFileButton = MakeButton("...", "CHOOSE THE FOLDER");
  MoveZipFileButton->setMinimumWidth(32);
  BatchListView = new TFileListView({"File ", "Size", "Date", "Path", "Unzipped Size"}, {150, 120, 128, 400, 120}, this);
  BatchNumEdit = MakeCounter();
  ZipSizeEdit = MakeCounter();
  BatchTotalSizeEdit = MakeCounter();
  BatchProgressBar = new QProgressBar(this);
  BatchProgressBar->setRange(0, 100);
  BatchProgressBar->setValue(0);
  BatchStatusBar = new QStatusBar(this);
  BatchStatusBar->setSizeGripEnabled(false);

  auto* step1 = new QHBoxLayout;
  step1->addWidget(MakeStep("Step 1...."));
  step1->addWidget(BatchUnzipOpenFileButton);
  step1->addWidget(ScanFolderForZipFilesButton);
  step1->addWidget(ScanSubDirCheckBox);
  step1->addStretch(1);
  step1->addWidget(BatchHelpButton);
  step1->addWidget(BatchExitButton);

  auto* step2 = new QHBoxLayout;
  step2->addWidget(MakeStep("Step 2...."));
  for (QWidget* w : {BatchUnzipButton, BatchThreadStopButton, BatchSelectAllButton, BatchDeleteButton, BatchResetButton})
    step2->addWidget(w);
  step2->addSpacing(12);
  step2->addWidget(MoveZipFileCheckBox);
  step2->addWidget(MoveZipFileEdit, 1);
  step2->addWidget(MoveZipFileButton);

  auto* counters = new QHBoxLayout;
  counters->addWidget(new QLabel("Zip Files", this));
  counters->addWidget(BatchNumEdit);
  counters->addWidget(new QLabel("Zip Size", this));
  counters->addWidget(ZipSizeEdit);
  counters->addWidget(new QLabel("Unzipped Size", this));
  counters->addWidget(BatchTotalSizeEdit);
  counters->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(step1);
  layout->addLayout(step2);
  layout->addWidget(BatchListView, 1);
  layout->addLayout(counters);
  layout->addWidget(BatchProgressBar);
  layout->addWidget(BatchStatusBar);
  ConnectExitButton(BatchExitButton, true);
  ConnectHelpButton(BatchHelpButton, "batch.html");
  UseSharedIcons(BatchListView, false);
}

std::vector<QWidget*> TBatchPage::WorkControls() const {
  return {BatchUnzipOpenFileButton, ScanFolderForZipFilesButton, BatchDeleteButton,    BatchUnzipButton,
          BatchHelpButton,          BatchExitButton,             BatchSelectAllButton, BatchResetButton,
          MoveZipFileButton,        ScanSubDirCheckBox,          MoveZipFileCheckBox,  BatchListView};
}

std::vector<QWidget*> TBatchPage::CommonControls() const {
  return {BatchUnzipOpenFileButton, ScanFolderForZipFilesButton, ScanSubDirCheckBox, MoveZipFileCheckBox,
          MoveZipFileButton,        MoveZipFileEdit,             BatchHelpButton,    BatchExitButton};
}

void TBatchPage::SetIdleButtons() {
  for (QWidget* w : std::initializer_list<QWidget*>{BatchUnzipOpenFileButton, ScanFolderForZipFilesButton,
                                                    BatchHelpButton, BatchExitButton, MoveZipFileButton,
                                                    ScanSubDirCheckBox, MoveZipFileCheckBox, BatchListView})
    w->setEnabled(true);
  for (QWidget* w : std::initializer_list<QWidget*>{BatchDeleteButton, BatchUnzipButton, BatchSelectAllButton,
                                                    BatchResetButton})
    w->setEnabled(false);
}
