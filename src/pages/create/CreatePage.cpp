#include "pages/create/CreatePage.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "pages/common/FileList.h"

TCreatePage::TCreatePage(TTandorForm& form) : TPage(form) {
  OpenFilesZipButton = MakeButton("ADD FILES");
  OpenFolderzipButton = MakeButton("ADD FOLDER");
  ZipButton = MakeButton("ZIP", "CREATE THE ARCHIVE");
  ZipStopButton = MakeButton("STOP");
  ZipUndoButton = MakeButton("UNDO");
  BatchButton = MakeButton("BATCH", "QUEUE THIS LIST AS A BATCH JOB");
  CreateTagButton = MakeButton("TAG");
  ZipResetButton = MakeButton("RESET");
  ZipPropertiesButton = MakeButton("Options", "SET PROPERTY OPTIONS");
  ZipHelpButton = MakeButton("HELP");
  ZipExitButton = MakeButton("EXIT");
  ZipListView = new TFileListView({"File ", "Size", "Date", "Path", "Source"}, {150, 120, 128, 300, 300}, this);
  Remove1 = new QAction("Remove", this);
  auto* selectAll = new QAction("Select All", this);
  connect(selectAll, &QAction::triggered, ZipListView, &TFileListView::SelectAllRows);
  ZipListView->addAction(selectAll);
  ZipListView->addAction(Remove1);
  ZipListView->setContextMenuPolicy(Qt::ActionsContextMenu);
  Remove1->setEnabled(false);
  NumfilesEdit = MakeCounter();
  TotalFileSizeEdit = MakeCounter();
  ZipProgressBar = new QProgressBar(this);
  ZipProgressBar->setRange(0, 100);
  ZipProgressBar->setValue(0);
  ZipStatusBar = new QStatusBar(this);
  ZipStatusBar->setSizeGripEnabled(false);
  for (QPushButton* b : {ZipButton, ZipStopButton, ZipUndoButton, BatchButton, CreateTagButton, ZipResetButton})
    b->setEnabled(false);

  auto* step1 = new QHBoxLayout;
  step1->addWidget(MakeStep("Step 1 ..."));
  step1->addWidget(OpenFilesZipButton);
  step1->addWidget(OpenFolderzipButton);
  step1->addWidget(ZipUndoButton);
  step1->addWidget(ZipResetButton);
  step1->addStretch(1);
  step1->addWidget(ZipPropertiesButton);
  step1->addWidget(ZipHelpButton);
  step1->addWidget(ZipExitButton);

  auto* step2 = new QHBoxLayout;
  step2->addWidget(MakeStep("Step 2...."));
  step2->addWidget(ZipButton);
  step2->addWidget(ZipStopButton);
  step2->addSpacing(12);
  step2->addWidget(BatchButton);
  step2->addWidget(CreateTagButton);
  step2->addStretch(1);

  auto* counters = new QHBoxLayout;
  counters->addWidget(new QLabel("Number of files : ", this));
  counters->addWidget(NumfilesEdit);
  counters->addSpacing(24);
  counters->addWidget(new QLabel("Total File Size :", this));
  counters->addWidget(TotalFileSizeEdit);
  counters->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(step1);
  layout->addLayout(step2);
  layout->addWidget(ZipListView, 1);
  layout->addLayout(counters);
  layout->addWidget(ZipProgressBar);
  layout->addWidget(ZipStatusBar);
}

std::vector<QWidget*> TCreatePage::WorkControls() const {
  return {ZipExitButton, OpenFilesZipButton, OpenFolderzipButton, ZipButton,     ZipUndoButton,
          BatchButton,   CreateTagButton,    ZipResetButton,      ZipHelpButton, ZipListView};
}

std::vector<QWidget*> TCreatePage::CommonControls() const {
  return {OpenFilesZipButton, OpenFolderzipButton, ZipHelpButton, ZipExitButton, ZipPropertiesButton};
}

void TCreatePage::UpdateZipWindow(const QStringList& paths) { Q_UNUSED(paths); }
