#include "pages/sfx/SfxPage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "core/TextUtil.h"

TSfxPage::TSfxPage(IPageHost& host) : TPage(host) {
  OpenSFXZipButton = MakeButton("OPEN", "CHOOSE A ZIP FILE OR A SELF EXTRACTING PROGRAM");
  OpenSFXZipButton->setDefault(true);
  SFXResetButton = MakeButton("RESET");
  SFXCreateButton = MakeButton("CONVERT");
  SFXHelpButton = MakeButton("HELP");
  SFXExitButton = MakeButton("EXIT");

  options_ = new QGroupBox(this);
  ZipFileNameLabel = new QLabel("-", options_);
  CaptionEdit = new QLineEdit(options_);
  CaptionEdit->setMaxLength(50);
  SFXDirComboBox = new QComboBox(options_);
  SFXDirComboBox->addItems({"The Users Currently Open Folder", "The Users Temporary Directory", "A Selected Folder"});
  SelDirEdit = new QLineEdit("The Users Currently Open Folder", options_);
  SelDirEdit->setReadOnly(true);
  SFXIconButton = new QPushButton("Select Icon", options_);
  SFXIconImage = new QLabel(options_);
  SFXIconImage->setFixedSize(32, 32);
  SFXIconImage->setFrameShape(QFrame::Box);
  SFXMessageTypeRadioGroup = new QButtonGroup(options_);
  auto* messageBox = new QVBoxLayout;
  int id = 0;
  for (const char* t : {"No Message Box", "Message Box : OK Button", "Introduction OK, CANCEL Buttons",
                        "Confirmation : YES, NO Buttons"}) {
    auto* r = new QRadioButton(t, options_);
    SFXMessageTypeRadioGroup->addButton(r, id++);
    messageBox->addWidget(r);
  }
  SFXMessageTypeRadioGroup->button(0)->setChecked(true);
  MessageTextEdit = new QLineEdit(options_);
  ShowContentsCheckBox = new QCheckBox("Allow user to select files to unzip", options_);
  ShowContentsCheckBox->setChecked(true);
  SuccessMessageCheckBox = new QCheckBox("Do not show success message", options_);
  AutoUnzipCheckBox = new QCheckBox("Automatically Unzip to user's current folder", options_);
  SelectAutoStartButton = new QPushButton("Select File to Auto Start", options_);
  AutoStartFileNameLabel = new QLineEdit(options_);
  AutoStartFileNameLabel->setReadOnly(true);
  CancelAutoStartCheckBox = new QCheckBox("Allow user to cancel Auto Start", options_);
  CancelAutoStartCheckBox->setChecked(true);

  auto* form1 = new QFormLayout(options_);
  form1->addRow("File Name : ", ZipFileNameLabel);
  form1->addRow(new QLabel("Enter an Optional Title in the box below", options_));
  form1->addRow(CaptionEdit);
  form1->addRow(new QLabel("Select the default Unzip folder", options_));
  auto* dirRow = new QHBoxLayout;
  dirRow->addWidget(SFXDirComboBox);
  dirRow->addWidget(SelDirEdit, 1);
  form1->addRow(dirRow);
  auto* iconRow = new QHBoxLayout;
  iconRow->addWidget(SFXIconButton);
  iconRow->addWidget(SFXIconImage);
  iconRow->addStretch(1);
  form1->addRow(iconRow);
  form1->addRow(new QLabel("You can display an optional message ", options_));
  form1->addRow(messageBox);
  form1->addRow("Message :", MessageTextEdit);
  form1->addRow(ShowContentsCheckBox);
  form1->addRow(SuccessMessageCheckBox);
  form1->addRow(AutoUnzipCheckBox);
  form1->addRow(new QLabel("Automatically launch a file...", options_));
  auto* autoRow = new QHBoxLayout;
  autoRow->addWidget(SelectAutoStartButton);
  autoRow->addWidget(AutoStartFileNameLabel, 1);
  form1->addRow(autoRow);
  form1->addRow(CancelAutoStartCheckBox);

  auto* steps = new QHBoxLayout;
  steps->addWidget(MakeStep("Step 1...."));
  steps->addWidget(OpenSFXZipButton);
  steps->addWidget(SFXResetButton);
  steps->addSpacing(24);
  steps->addWidget(MakeStep("Step 2...."));
  steps->addWidget(SFXCreateButton);
  steps->addStretch(1);
  steps->addWidget(SFXHelpButton);
  steps->addWidget(SFXExitButton);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(steps);
  layout->addWidget(options_, 1);
  DisableSFXControls();
  ConnectExitButton(SFXExitButton, false);
  ConnectHelpButton(SFXHelpButton, "sezip.html");
}

void TSfxPage::TakeArchive(const std::string& archive) {
  Host.SetCurrentArchiveFile(archive);
  Host.SetCaption({});
  Host.SetDropTarget(nullptr);
  ZipFileNameLabel->setText(QString::fromStdString(ExtractFileName(archive)));
  SfxArchive = archive;
}

void TSfxPage::DisableSFXControls() {
  for (QWidget* w : options_->findChildren<QWidget*>()) {
    if (w != ZipFileNameLabel) w->setEnabled(false);
  }
  SFXResetButton->setEnabled(false);
  SFXCreateButton->setEnabled(false);
}

std::vector<QWidget*> TSfxPage::CommonControls() const { return {OpenSFXZipButton, SFXHelpButton, SFXExitButton}; }
