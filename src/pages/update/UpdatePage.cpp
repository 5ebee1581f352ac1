#include "pages/update/UpdatePage.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include "pages/common/FileList.h"
#include "pages/common/IconLists.h"

TUpdatePage::TUpdatePage(IPageHost& host) : TPage(host) {
  OpenUpdateButton = MakeButton("OPEN", "CHOOSE A ZIP FILE TO UPDATE");
  OpenUpdateButton->setDefault(true);
  OpenFilesUpdateButton = MakeButton("ADD FILES");
  AddfolderUpdatebutton = MakeButton("ADD FOLDER");
  UpdateDeleteButton = MakeButton("DELETE");
  UpdateResetButton = MakeButton("RESET");
  Button1 = MakeButton("Properties");
  UpdateTagButton = MakeButton("EDIT TAG");
  UpdateTagEdit = new QLineEdit(this);
  UpdateTagEdit->setReadOnly(true);
  UpdateTagEdit->setPlaceholderText("Tag");
  UpdateHelpButton = MakeButton("HELP");
  UpdateExitbutton = MakeButton("EXIT");
  UpdateListView = new TFileListView({"File ", "Size", "Date", "Path"}, {150, 120, 128, 600}, this);
  UpDateNumFilesEdit = MakeCounter();
  UpdatetotalFileSizeEdit = MakeCounter();
  UpdateStatusBar = new QStatusBar(this);
  UpdateStatusBar->setSizeGripEnabled(false);
  UpdateProgressBar = new QProgressBar(this);
  UpdateProgressBar->setRange(0, 100);
  UpdateProgressBar->setValue(0);
  for (QWidget* w : {static_cast<QWidget*>(OpenFilesUpdateButton), static_cast<QWidget*>(AddfolderUpdatebutton),
                     static_cast<QWidget*>(UpdateDeleteButton), static_cast<QWidget*>(UpdateResetButton),
                     static_cast<QWidget*>(UpdateTagButton)})
    w->setEnabled(false);

  auto* step1 = new QHBoxLayout;
  step1->addWidget(MakeStep("Step 1..."));
  step1->addWidget(OpenUpdateButton);
  step1->addStretch(1);
  step1->addWidget(UpdateHelpButton);
  step1->addWidget(UpdateExitbutton);

  auto* step2 = new QHBoxLayout;
  step2->addWidget(MakeStep("Step 2 ..."));
  for (QWidget* w : {OpenFilesUpdateButton, AddfolderUpdatebutton, UpdateDeleteButton, UpdateResetButton, Button1})
    step2->addWidget(w);
  step2->addSpacing(12);
  step2->addWidget(UpdateTagButton);
  step2->addWidget(UpdateTagEdit, 1);

  auto* counters = new QHBoxLayout;
  counters->addWidget(new QLabel("Number of files : ", this));
  counters->addWidget(UpDateNumFilesEdit);
  counters->addSpacing(24);
  counters->addWidget(new QLabel("Total File Size :", this));
  counters->addWidget(UpdatetotalFileSizeEdit);
  counters->addStretch(1);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(step1);
  layout->addLayout(step2);
  layout->addWidget(UpdateListView, 1);
  layout->addLayout(counters);
  layout->addWidget(UpdateProgressBar);
  layout->addWidget(UpdateStatusBar);
  ConnectExitButton(UpdateExitbutton, false);
  ConnectHelpButton(UpdateHelpButton, "update.html");
  UseSharedIcons(UpdateListView, true);
}

std::vector<QWidget*> TUpdatePage::WorkControls() const {
  return {OpenFilesUpdateButton, UpdateTagButton,   AddfolderUpdatebutton, Button1,         UpdateDeleteButton,
          UpdateResetButton,     UpdateHelpButton, UpdateExitbutton,      OpenUpdateButton, UpdateListView};
}

std::vector<QWidget*> TUpdatePage::CommonControls() const {
  return {OpenUpdateButton, UpdateHelpButton, UpdateExitbutton, Button1};
}

void TUpdatePage::SetIdleButtons() {
  for (QWidget* w : std::initializer_list<QWidget*>{Button1, UpdateHelpButton, UpdateExitbutton, OpenUpdateButton,
                                                    UpdateListView})
    w->setEnabled(true);
  for (QWidget* w : std::initializer_list<QWidget*>{OpenFilesUpdateButton, UpdateTagButton, AddfolderUpdatebutton,
                                                    UpdateDeleteButton, UpdateResetButton})
    w->setEnabled(false);
}

TFileListView* TUpdatePage::DropList() const { return UpdateResetButton->isEnabled() ? UpdateListView : nullptr; }

void TUpdatePage::TakeArchive(const std::string& archive) {
  Host.SetCurrentArchiveFile(archive);
  Host.SetCaption(archive);
  UpDateUpdateWindow(archive);
}

void TUpdatePage::UpDateUpdateWindow(const std::string& archive) { Q_UNUSED(archive); }

void TUpdatePage::ClearUpdateWindow() {
  UpdateListView->Model()->Clear();
  Host.Icons().ClearCache();
  UpDateNumFilesEdit->setText("0");
  UpdatetotalFileSizeEdit->setText("0");
  UpdateTagEdit->clear();
  for (QPushButton* b : {OpenFilesUpdateButton, UpdateTagButton, AddfolderUpdatebutton, UpdateDeleteButton,
                         UpdateResetButton})
    b->setEnabled(false);
  Host.SetCurrentArchiveFile({});
  Host.SetCaption({});
}

std::string TUpdatePage::GetLastfolder(const std::string& path) {
  RelativeRoot.clear();
  if (path.empty() || path.back() == '/') return {};
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return {};
  return path.substr(slash + 1);
}

std::string TUpdatePage::GetrelRootFolder(const std::string& path) {
  RelativeRowPath.clear();
  if (RelativeRoot.empty() || path.size() <= RelativeRoot.size()) return {};
  return path.substr(RelativeRoot.size());
}
