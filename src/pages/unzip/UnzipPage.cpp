#include "pages/unzip/UnzipPage.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QVBoxLayout>

#include "app/TandorForm.h"
#include "pages/common/FileList.h"

namespace {
const QStringList kColumns = {"File ", "Size", "Date", "Path"};
const QList<int> kWidths = {150, 120, 128, 600};
}  // namespace

TUnzipPage::TUnzipPage(TTandorForm& form) : TPage(form) {
  OpenUnzipButton = MakeButton("OPEN", "CHOOSE AN ARCHIVE TO OPEN");
  UnzipButton = MakeButton("UNZIP", "UNZIP THE HIGHLIGHTED FILES");
  SelectAllButton = MakeButton("ALL", "SELECT ALL FILES");
  UnSelectAllButton = MakeButton("None", "SELECT NO FILES");
  SelectButton = MakeButton("Types", "FILTER FILETYPES");
  FolderFilterButton = MakeButton("Folders", "FILTER FOLDERS");
  TreeButton = MakeButton("Tree", "EXPLORER TREE");
  UnzipResetButton = MakeButton("Reset", "CLEAR ZIP FILE WINDOW");
  UnzipPropertiesButton = MakeButton("Options", "SET PROPERTY OPTIONS");
  UnzipHelpButton = MakeButton("HELP");
  UnzipCloseButton = MakeButton("EXIT");
  SpiderButton = MakeButton("Spider", "START CRAWLPAD");
  CLRButton = MakeButton("<- C", "REMOVE FILES FROM THE QUEUE");
  SaveQueueButton = MakeButton("Q", "KEEP THE OPEN FILE IN THE QUEUE");
  MoveBatchButton = MakeButton("B", "MOVE QUEUED FILES TO THE BATCH PAGE");
  SaveUnzipFileButton = MakeButton("SAVE", "SAVE A COPY OF THE OPEN FILE");
  TAGButton = MakeButton("TAG", "SHOW THE ARCHIVE TAG");
  for (QPushButton* b : {CLRButton, SaveQueueButton, MoveBatchButton}) b->setMinimumWidth(40);
  ComboBox = new QComboBox(this);
  ComboBox->setMinimumWidth(260);
  ComboBox->setToolTip("INCOMING FILE QUEUE");

  UnzipListView = new TFileListView(kColumns, kWidths, this);
  UnzipFilteredListView = new TFileListView(kColumns, kWidths, this);
  lists_ = new QStackedWidget(this);
  lists_->addWidget(UnzipListView);
  lists_->addWidget(UnzipFilteredListView);

  UnzipProgressBar = new QProgressBar(this);
  UnzipProgressBar->setRange(0, 100);
  UnzipProgressBar->setValue(0);
  UnzipStatusBar = new QStatusBar(this);
  UnzipStatusBar->setSizeGripEnabled(false);
  UnzipNumFilesEdit = MakeCounter();
  UnzipTotalFileSizeEdit = MakeCounter();

  auto* step1 = new QHBoxLayout;
  step1->addWidget(MakeStep("Step 1...."));
  step1->addWidget(OpenUnzipButton);
  step1->addSpacing(16);
  step1->addWidget(SpiderButton);
  step1->addWidget(ComboBox, 1);
  step1->addWidget(CLRButton);
  step1->addWidget(SaveQueueButton);
  step1->addWidget(MoveBatchButton);
  step1->addWidget(SaveUnzipFileButton);

  auto* step2 = new QHBoxLayout;
  step2->addWidget(MakeStep("Step 2...."));
  step2->addWidget(UnzipButton);
  step2->addSpacing(12);
  for (QWidget* w : {SelectAllButton, UnSelectAllButton, SelectButton, FolderFilterButton, TreeButton, TAGButton})
    step2->addWidget(w);
  step2->addStretch(1);
  for (QWidget* w : {UnzipResetButton, UnzipPropertiesButton, UnzipHelpButton, UnzipCloseButton}) step2->addWidget(w);

  auto* counters = new QHBoxLayout;
  counters->addWidget(new QLabel("Number of files : ", this));
  counters->addWidget(UnzipNumFilesEdit);
  counters->addSpacing(24);
  counters->addWidget(new QLabel("Total File Size :", this));
  counters->addWidget(UnzipTotalFileSizeEdit);
  counters->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(step1);
  layout->addLayout(step2);
  layout->addWidget(lists_, 1);
  layout->addLayout(counters);
  layout->addWidget(UnzipProgressBar);
  layout->addWidget(UnzipStatusBar);
}

TFileListView* TUnzipPage::MainList() const { return VisibleList(); }

TFileListView* TUnzipPage::VisibleList() const {
  return lists_->currentWidget() == UnzipFilteredListView ? UnzipFilteredListView : UnzipListView;
}

bool TUnzipPage::FilteredShown() const { return lists_->currentWidget() == UnzipFilteredListView; }

void TUnzipPage::ShowFullList() { lists_->setCurrentWidget(UnzipListView); }

std::vector<QWidget*> TUnzipPage::WorkControls() const {
  return {UnzipCloseButton, UnzipListView,   OpenUnzipButton,     MoveBatchButton, CLRButton,      SelectAllButton,
          UnSelectAllButton, TreeButton,     SpiderButton,        SelectButton,    FolderFilterButton,
          UnzipResetButton,  SaveQueueButton, UnzipButton,        SaveUnzipFileButton, TAGButton, UnzipHelpButton};
}

std::vector<QWidget*> TUnzipPage::CommonControls() const {
  return {OpenUnzipButton, UnzipPropertiesButton, CLRButton, MoveBatchButton, UnzipHelpButton, UnzipCloseButton};
}

void TUnzipPage::EnableWorkControls() {
  for (QWidget* w : WorkControls()) w->setEnabled(true);
  TreeButton->setEnabled(UnzipListView->Count() >= 2);
  SpiderButton->setEnabled(SiblingProgramFound);
}

void TUnzipPage::ClearUnzipWindow() {
  UnzipFilteredListView->Model()->Clear();
  ShowFullList();
  UnzipListView->Model()->Clear();
  UnzipNumFilesEdit->setText("0");
  UnzipTotalFileSizeEdit->setText("0");
  UnzipProgressBar->setValue(0);
  UnzipStatusBar->clearMessage();
  Form.Icons.ClearCache();
  Form.UnzipTotalBytes = 0;
  Form.ArchiveExtracted = false;
  Form.CurrentArchiveFile.clear();
  Form.SetCaption({});
}

void TUnzipPage::UpdateUnzipWindow(const std::string& archive) {
  Form.CurrentArchiveFile = archive;
  Form.SetCaption(archive);
  Form.EnableAll();
}

void TUnzipPage::UpDateRARWindow(const std::string& archive) { UpdateUnzipWindow(archive); }
void TUnzipPage::UpdateTarWindow(const std::string& archive) { UpdateUnzipWindow(archive); }
void TUnzipPage::UpdateGZipWindow(const std::string& archive) { UpdateUnzipWindow(archive); }
void TUnzipPage::UpDateTarGZipWindow(const std::string& archive) { UpdateUnzipWindow(archive); }
