#include "pages/sfx/SfxPage.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "core/Prompt.h"
#include "core/Settings.h"
#include "core/TextUtil.h"
#include "ops/SfxConvertJob.h"
#include "pages/common/PromptService.h"
#include "pages/sfx/AutoStartSelectForm.h"
#include "zip/ZipKit.h"

namespace {

const char kAppTitle[] = "Tandor File";
const char kOpenFilter[] = "Zip and Self Extracting Files (*.zip *.run);;Zip Files (*.zip);;Self Extracting Zip (*.run)";
const char kBrowseTitle[] = "SELECT THE FOLDER FOR SELF EXTRACTING ZIP FILE OPERATION ON THE USERS COMPUTER";
const char kIconRefused[] = "YOU MUST CHOOSE AN ICON THAT IS 32 BY 32 PIXELS AND WHICH CONTAINS ONLY 16 COLORS.";
const char kNoFiles[] = "THERE ARE NO FILES IN THE ZIPFILE THAT THIS PROGRAM CAN READ";

struct TWaitCursor {
  TWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
};

void Say(const std::string& text) { Prompt().ShowMessage(kAppTitle, text, TPromptIcon::None, TPromptButtons::Ok); }

}  // namespace

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
  MessageTextEdit->setMaxLength(160);
  ShowContentsCheckBox = new QCheckBox("Allow user to select files to unzip", options_);
  ShowContentsCheckBox->setChecked(true);
  SuccessMessageCheckBox = new QCheckBox("Do not show success message", options_);
  AutoUnzipCheckBox = new QCheckBox("Automatically Unzip to user's", options_);
  SelectAutoStartButton = new QPushButton("Select File to Auto Start", options_);
  AutoStartFileNameLabel = new QLineEdit(options_);
  AutoStartFileNameLabel->setReadOnly(true);
  CancelAutoStartCheckBox = new QCheckBox("Allow user to cancel Auto Start", options_);
  CancelAutoStartCheckBox->setChecked(true);

  auto* fileRow = new QHBoxLayout;
  auto* fileCaption = new QLabel("File Name : ", options_);
  fileRow->addWidget(fileCaption);
  fileRow->addWidget(ZipFileNameLabel, 1);
  auto* titleLabel = new QLabel("Enter an Optional Title in the box below", options_);
  auto* dirLabel = new QLabel("Select the default Unzip folder", options_);
  auto* messageLabel = new QLabel("You can display an optional message ", options_);
  auto* messageTextLabel = new QLabel("Message :", options_);
  auto* currentFolder = new QLabel("current folder", options_);
  auto* launchLabel = new QLabel("Automatically launch a file...", options_);

  auto* form = new QVBoxLayout(options_);
  form->addLayout(fileRow);
  form->addWidget(titleLabel);
  form->addWidget(CaptionEdit);
  form->addWidget(dirLabel);
  auto* dirRow = new QHBoxLayout;
  dirRow->addWidget(SFXDirComboBox);
  dirRow->addWidget(SelDirEdit, 1);
  form->addLayout(dirRow);
  auto* iconRow = new QHBoxLayout;
  iconRow->addWidget(SFXIconButton);
  iconRow->addWidget(SFXIconImage);
  iconRow->addStretch(1);
  form->addLayout(iconRow);
  form->addWidget(messageLabel);
  form->addLayout(messageBox);
  auto* messageRow = new QHBoxLayout;
  messageRow->addWidget(messageTextLabel);
  messageRow->addWidget(MessageTextEdit, 1);
  form->addLayout(messageRow);
  form->addWidget(ShowContentsCheckBox);
  form->addWidget(SuccessMessageCheckBox);
  auto* autoUnzipRow = new QHBoxLayout;
  autoUnzipRow->addWidget(AutoUnzipCheckBox);
  autoUnzipRow->addWidget(currentFolder);
  autoUnzipRow->addStretch(1);
  form->addLayout(autoUnzipRow);
  form->addWidget(launchLabel);
  auto* autoRow = new QHBoxLayout;
  autoRow->addWidget(SelectAutoStartButton);
  autoRow->addWidget(AutoStartFileNameLabel, 1);
  form->addLayout(autoRow);
  form->addWidget(CancelAutoStartCheckBox);
  form->addStretch(1);

  optionControls_ = {SelectAutoStartButton, CaptionEdit,         MessageTextEdit,   ShowContentsCheckBox,
                     SuccessMessageCheckBox, CancelAutoStartCheckBox, AutoUnzipCheckBox, SFXDirComboBox,
                     SelDirEdit,             SFXIconButton,       SFXIconImage,      fileCaption,
                     titleLabel,             dirLabel,            messageLabel,      messageTextLabel,
                     currentFolder,          launchLabel};
  for (QAbstractButton* b : SFXMessageTypeRadioGroup->buttons()) optionControls_.push_back(b);

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

  connect(OpenSFXZipButton, &QPushButton::clicked, this, [this] { OpenSFXZipButtonClick(); });
  connect(SFXResetButton, &QPushButton::clicked, this, [this] { SFXResetButtonClick(); });
  connect(SFXCreateButton, &QPushButton::clicked, this, [this] { SFXCreateButtonClick(); });
  connect(SelectAutoStartButton, &QPushButton::clicked, this, [this] { SelectAutoStartButtonClick(); });
  connect(SFXIconButton, &QPushButton::clicked, this, [this] { SFXIconButtonClick(); });
  connect(SFXDirComboBox, qOverload<int>(&QComboBox::activated), this, [this] { SFXDirComboBoxChange(); });
  connect(AutoUnzipCheckBox, &QCheckBox::clicked, this, [this] { AutoUnzipCheckBoxClick(); });
  connect(SFXMessageTypeRadioGroup, &QButtonGroup::idClicked, this, [this] { SFXMessageTypeRadioGroupClick(); });
  connect(ShowContentsCheckBox, &QCheckBox::clicked, this, [this] { ShowContentsCheckBoxClick(); });
  connect(SuccessMessageCheckBox, &QCheckBox::clicked, this, [this] { SuccessMessageCheckBoxClick(); });
  connect(CancelAutoStartCheckBox, &QCheckBox::clicked, this, [this] { CancelAutoStartCheckBoxClick(); });
  DisableSFXControls();
  ConnectExitButton(SFXExitButton, false);
  ConnectHelpButton(SFXHelpButton, "sezip.html");
}

std::vector<QWidget*> TSfxPage::CommonControls() const { return {OpenSFXZipButton, SFXHelpButton, SFXExitButton}; }

void TSfxPage::TakeArchive(const std::string& archive) {
  Host.SetCurrentArchiveFile(archive);
  Host.SetCaption({});
  Host.SetDropTarget(nullptr);
  Host.ZipKit().SetZipFileName(archive);
  ShowLoaded(archive);
}

void TSfxPage::ShowLoaded(const std::string& file) {
  SfxArchive = file;
  if (LowerCase(ExtractFileExt(file)) == ".zip") {
    EnableSFXControls();
  } else {
    DisableSFXControls();
    SFXCreateButton->setEnabled(true);
    SFXResetButton->setEnabled(true);
  }
  ZipFileNameLabel->setText(QString::fromStdString(ExtractFileName(file)));
}

// --- Page states ------------------------------------------------------------------------------------

void TSfxPage::SetDirChoice(int index) {
  settingDir_ = true;
  SFXDirComboBox->setCurrentIndex(index);
  settingDir_ = false;
  SelDirEdit->setText(SFXDirComboBox->itemText(index));
}

void TSfxPage::DisableSFXControls() {
  for (QWidget* w : optionControls_) w->setEnabled(false);
  SFXResetButton->setEnabled(false);
  SFXCreateButton->setEnabled(false);
  ZipFileNameLabel->clear();
  CaptionEdit->clear();
  MessageTextEdit->clear();
  AutoStartFileNameLabel->clear();
  SFXMessageTypeRadioGroup->button(0)->setChecked(true);
  SetDirChoice(0);
}

void TSfxPage::EnableSFXControls() {
  for (QWidget* w : optionControls_) w->setEnabled(true);
  SFXResetButton->setEnabled(true);
  SFXCreateButton->setEnabled(true);
  SetDirChoice(0);
}

// --- Choosing the file --------------------------------------------------------------------------------

void TSfxPage::OpenSFXZipButtonClick() {
  DisableSFXControls();
  TSettings& settings = Host.Settings();
  const std::string file = Prompt().OpenFileName("Choose a zip file to Open", settings.ArchiveOpenFolder, kOpenFilter);
  if (file.empty()) return;
  Host.RunState().SfxCreated = false;
  TZipKit& kit = Host.ZipKit();
  kit.ErrCode = 0;
  kit.SetZipFileName(file);
  // A directory that cannot be read, or reads with a warning, leaves the page empty (the component
  // has said why).
  if (kit.ErrCode != 0 || kit.ZipFileName().empty()) return;
  settings.ArchiveOpenFolder = ExtractFileDir(file);
  Host.SetCurrentArchiveFile(file);
  ShowLoaded(file);
}

// --- Options ------------------------------------------------------------------------------------------

void TSfxPage::SFXDirComboBoxChange() {
  if (settingDir_) return;
  const int index = SFXDirComboBox->currentIndex();
  if (index != 0) AutoUnzipCheckBox->setChecked(false);
  if (index == 2) {
    const std::string folder = Host.BrowseforFolder(kBrowseTitle, false, true);
    if (folder.empty()) SetDirChoice(0);
    else SelDirEdit->setText(QString::fromStdString(folder));
    return;
  }
  if (SFXDirComboBox->itemText(index).isEmpty()) SetDirChoice(0);
  else SelDirEdit->setText(SFXDirComboBox->itemText(index));
}

void TSfxPage::AutoUnzipCheckBoxClick() {
  if (!AutoUnzipCheckBox->isChecked()) return;
  // The automatic mode asks nothing: no message, no choice of files, no success message.
  SFXMessageTypeRadioGroup->button(0)->setChecked(true);
  CancelAutoStartCheckBox->setChecked(false);
  ShowContentsCheckBox->setChecked(false);
  SuccessMessageCheckBox->setChecked(true);
  if (SFXDirComboBox->currentIndex() != 0) SetDirChoice(0);
}

void TSfxPage::SFXMessageTypeRadioGroupClick() {
  if (SFXMessageTypeRadioGroup->checkedId() != 0) AutoUnzipCheckBox->setChecked(false);
}

void TSfxPage::ShowContentsCheckBoxClick() {
  if (ShowContentsCheckBox->isChecked()) AutoUnzipCheckBox->setChecked(false);
}

void TSfxPage::SuccessMessageCheckBoxClick() {
  if (!SuccessMessageCheckBox->isChecked()) AutoUnzipCheckBox->setChecked(false);
}

void TSfxPage::CancelAutoStartCheckBoxClick() {
  if (CancelAutoStartCheckBox->isChecked()) AutoUnzipCheckBox->setChecked(false);
}

// --- Icon ---------------------------------------------------------------------------------------------

void TSfxPage::SFXIconButtonClick() {
  TSettings& settings = Host.Settings();
  const std::string file =
      Prompt().OpenFileName("Select an Icon for the Self Extracting Zip File", settings.SfxIconFolder, "Icons (*.ico)");
  if (file.empty()) return;
  settings.SfxIconFolder = ExtractFileDir(file);
  if (!CheckOutIcon(file)) Say(kIconRefused);
}

bool TSfxPage::CheckOutIcon(const std::string& path) {
  QFile f(QString::fromStdString(path));
  if (!f.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = f.readAll();
  // The first image's width, height and colour count follow the 6-byte icon header.
  if (bytes.size() < 9 || uint8_t(bytes[6]) != 32 || uint8_t(bytes[7]) != 32 || uint8_t(bytes[8]) != 16) return false;
  Host.Settings().SfxIconFile = path;
  QPixmap picture;
  if (picture.loadFromData(bytes, "ICO")) SFXIconImage->setPixmap(picture.scaled(32, 32));
  Host.ZipKit().SFXIcon.assign(bytes.begin(), bytes.end());
  return true;
}

// --- Auto start ---------------------------------------------------------------------------------------

void TSfxPage::SelectAutoStartButtonClick() {
  TAutoStartSelectForm form(this);
  bool any = false;
  {
    TWaitCursor wait;
    TZipKit& kit = Host.ZipKit();
    kit.SetZipFileName(Host.CurrentArchiveFile());
    for (const ZipDirEntry& e : kit.DirEntries()) {
      const std::string& name = e.EntryName;
      const size_t slash = name.rfind('/');
      const std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
      const std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
      form.AddEntry(QString::fromStdString(file), QString::fromStdString(folder));
      any = true;
    }
  }
  if (!any) {
    Say(kNoFiles);
    return;
  }
  Host.SetModalDialogOpen(true);
  ExecModal(form, "TAutoStartSelectForm");
  Host.SetModalDialogOpen(false);
  const QString chosen = form.Chosen();
  if (!chosen.isEmpty()) AutoStartFileNameLabel->setText(chosen);
}

// --- Converting ---------------------------------------------------------------------------------------

TSfxSettings TSfxPage::SettingsFromControls() const {
  TSfxSettings s;
  const bool automatic = AutoUnzipCheckBox->isChecked();
  s.CheckSize = true;
  if (automatic) {
    s.AutoRun = true;
    s.HideOverwriteBox = true;
  } else {
    s.AskFiles = ShowContentsCheckBox->isChecked();
    s.NoSuccessMsg = SuccessMessageCheckBox->isChecked();
    s.AskCmdLine = CancelAutoStartCheckBox->isChecked();
  }
  s.Caption = CaptionEdit->text().isEmpty() ? std::string("Self Extracting Zip File") : CaptionEdit->text().toStdString();
  if (!automatic) {
    switch (SFXDirComboBox->currentIndex()) {
      case 1: s.DefaultDir = "><"; break;
      case 2: s.DefaultDir = SelDirEdit->text().toStdString(); break;
      default: break;
    }
  }
  const int type = SFXMessageTypeRadioGroup->checkedId();
  if (type > 0 && !automatic && !MessageTextEdit->text().isEmpty()) {
    // Item 2 asks OK or Cancel, item 3 Yes or No: a first character tells the program which.
    const std::string prefix = type == 2 ? std::string(1, '\001') : type == 3 ? std::string(1, '\002') : std::string();
    s.Message = prefix + MessageTextEdit->text().toStdString();
  }
  if (!AutoStartFileNameLabel->text().isEmpty()) s.CommandLine = "><" + AutoStartFileNameLabel->text().toStdString();
  const TZipKit& kit = Host.ZipKit();
  s.Overwrite = kit.SFXOverWriteMode == OvrAlways  ? TOverwriteMode::Always
                : kit.SFXOverWriteMode == OvrNever ? TOverwriteMode::Never
                                                   : TOverwriteMode::Ask;
  s.Icon = kit.SFXIcon;
  return s;
}

bool TSfxPage::Convert(const std::string& source, bool toProgram, const TSfxSettings& settings) {
  TSfxConvertParams p;
  p.Source = source;
  p.ToProgram = toProgram;
  p.Settings = settings;
  p.AllowUndo = Host.ZipKit().HowToDelete == htdAllowUndo;
  TSfxConvertJob job(p);
  std::vector<std::string> messages;
  job.OnMessage = [&](const TStatus& s) { messages.push_back(s.Message()); };
  TJobResult result;
  {
    TWaitCursor wait;
    result = job.Run();
  }
  for (const std::string& m : messages) Say(m);
  if (job.ResultCode() != 0) {
    Say(SfxResultText(job.ResultCode(), toProgram));
    return false;
  }
  if (result.Status.Failed()) {
    if (messages.empty()) Say(result.Status.Text());
    return false;
  }
  return true;
}

void TSfxPage::SFXCreateButtonClick() {
  TZipKit& kit = Host.ZipKit();
  std::string file = kit.ZipFileName().empty() ? SfxArchive : kit.ZipFileName();
  if (LowerCase(ExtractFileExt(file)) != ".zip") {
    // A program back to a zip archive; the unzip page lists it when the user goes there.
    if (Convert(file, false, {})) {
      const std::string folder = ExtractFileDir(file);
      Say("THE SELF EXTRACTING ZIP FILE \n" + ExtractFileName(file) + "\nWAS CONVERTED TO A REGULAR ZIP FILE IN THE FOLDER \n" +
          folder);
      Host.RunState().SfxCreated = true;
      const std::string name = ExtractFileName(file);
      const std::string zip = folder + "/" + name.substr(0, name.size() - ExtractFileExt(name).size()) + ".zip";
      Host.SetCurrentArchiveFile(zip);
      kit.SetZipFileName(zip);
    }
    DisableSFXControls();
    return;
  }
  const TSfxSettings settings = SettingsFromControls();
  // In the automatic mode the archive (and so the program) gets a name starting with "!".
  std::string renamedFrom;
  if (AutoUnzipCheckBox->isChecked() && !ExtractFileName(file).starts_with("!")) {
    const std::string marked = ExtractFileDir(file) + "/!" + ExtractFileName(file);
    if (QFile::rename(QString::fromStdString(file), QString::fromStdString(marked))) {
      renamedFrom = file;
      file = marked;
      kit.SetZipFileName(file);
    }
  }
  if (Convert(file, true, settings)) {
    Say("THE ZIP FILE \n" + ExtractFileName(Host.CurrentArchiveFile()) +
        "\nWAS CONVERTED TO A SELF EXTRACTING ZIP FILE IN THE FOLDER \n" + ExtractFileDir(file));
    const std::string program = file.substr(0, file.size() - 4) + ".run";
    kit.SetZipFileName(program);
  } else if (!renamedFrom.empty()) {
    // A failed conversion leaves the archive as it was, its name included.
    QFile::rename(QString::fromStdString(file), QString::fromStdString(renamedFrom));
    kit.SetZipFileName(renamedFrom);
  }
  DisableSFXControls();
}
