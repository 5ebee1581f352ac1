#include "pages/props/PropertiesForm.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/Prompt.h"
#include "core/Settings.h"
#include "core/Version.h"
#include "pages/common/PromptService.h"
#include "pages/props/StartMenuForms.h"
#include "platform/Associations.h"
#include "platform/Desktop.h"
#include "platform/Launchers.h"

namespace {

const char* const kPageCaptions[] = {"Default Program", "Startup Links   .", "UNZIP", "Tar GZ ",
                                     "Default Type",    "ADD Files",         "ZIP ",  "Viewer"};

// One check box of the option table.
struct TOptionBox {
  int page;
  const char* name;
  const char* caption;
  bool TSettings::*setting;
  bool hidden;      // shown nowhere, kept disabled
  bool createOnly;  // shapes a new archive: disabled while the create list holds files
};

const TOptionBox kOptionBoxes[] = {
    {0, "EnableQueueCheckBox", "Enable Zip File Queue (uncheck to clear window and reload}", &TSettings::QueueEnabled,
     false, false},
    {0, "DeleteQueueCheckbox", "Ask for confirmation before deleting items from the Queue",
     &TSettings::ConfirmQueueDelete, false, false},
    {0, "FrontCheckBox", "When Item arrives in Queue bring up program window ", &TSettings::QueueBringToFront, false,
     false},
    {1, "UpdateCheckBox", "Automatically check once a month for program updates", &TSettings::UpdateCheckEnabled, true,
     false},
    {2, "UnzipFoldersCheckbox", "Create Folders on disk as contained in zip file", &TSettings::UnzipFolders, false,
     false},
    {2, "OverwriteCheckBox", "Replace files with the same name on disk when unzipping", &TSettings::UnzipOverwrite,
     false, false},
    {2, "UpdateFilesCheckBox", "Unzip only new files and files that are newer than disk files",
     &TSettings::UnzipUpdateFiles, false, false},
    {2, "FreshenFilesCheckBox", "Unzip only new versions of files that already exist on disk",
     &TSettings::UnzipFreshenFiles, false, false},
    {2, "SaveUnzipDefaultCheckBox", "Save these settings and use for all Zip files", &TSettings::SaveUnzipDefault,
     true, false},
    {3, "OpenTarCheckBox", "When a GZip file contains a tar ball, open the tar archive", &TSettings::OpenTarInGz, false,
     false},
    {3, "ShortGZPathCheckBox", "Pass Short (DOS type) file paths when opening GZip files", &TSettings::ShortGzPaths,
     false, false},
    {3, "TarAttrCheckBox", "Set Tar file attributes before creating the file", &TSettings::TarAttributes, false, false},
    {4, "SelectAllCheckBox", "Select All Files (highlighted) when loading a new file", &TSettings::SelectAllOnLoad,
     false, false},
    {5, "SaveZipFoldersCheckBox", "Save folders in Archive file as they exist on disk", &TSettings::SaveZipFolders,
     false, true},
    {5, "RecurseFoldersCheckBox", "Include the folders which are inside the selected folders",
     &TSettings::RecurseFolders, false, true},
    {5, "RelativePathCheckBox", "Use relative paths when saving folders", &TSettings::RelativePaths, false, true},
    {6, "ArchiveBitCheckBox", "Add files only if the Archive bit is set", &TSettings::ArchiveBitOnly, false, true},
    {6, "LongFileNamesCheckBox", "Use Long file Names (as used by Windows programs)", &TSettings::LongFileNames, false,
     true},
    {6, "AddPasswordCheckBox", "Password Protect the Zip File (you will be asked for a password)",
     &TSettings::AddPassword, false, true},
    {6, "SetTimeCheckBox", "Set the zip file time to the time of the newest file it contains",
     &TSettings::SetArchiveTime, false, true},
    {6, "OnlybyDateCheckBox", "Only Add files that are newer than a certain date", &TSettings::OnlyNewerThanDate, false,
     true},
    {6, "SpanCheckBox", "Break the zip file into pieces that will fit on multiple disks", &TSettings::SpanDisks, true,
     false},
    {6, "EraseDiskCheckBox", "Erase the disk first (you will be reminded before erasing)", &TSettings::EraseDisk, true,
     false},
    {6, "SelfExtractingCheckBox", "Create self extracting Zip file", &TSettings::SelfExtracting, true, false},
    {6, "SaveZipDefaultCheckBox", "Save these settings and use for all Zip files", &TSettings::SaveZipDefault, true,
     false},
    {7, "AutoThumbCheckBox", "Automatically launch the Thumbnail Browser", &TSettings::AutoThumbnails, false, false},
};

const char* const kZipTypeItems[] = {
    "Always ask me what type of file to create when zipping", "Create a standard ZIP file ( .zip)",
    "Create a GZipped Tar Ball ( *.tar.gz)", "Create a Tar Ball ( *.tar)",
    "Create a GZ file ( *.gz) -note, can only contain one file"};

// The five file types of page 0 with their settings.
struct TTypeRow {
  const char* box;
  const char* caption;
  const char* label;
  std::string TSettings::*progId;
  std::string TSettings::*name;
};
const TTypeRow kTypes[kAssociationTypeCount] = {
    {"DZipCheckBox", ".ZIP", "DefaultZipProgramLabel", &TSettings::PrevZipProgId, &TSettings::PrevZipName},
    {"DGZCheckbox", ".GZ", "DefaultGZProgramLabel", &TSettings::PrevGzProgId, &TSettings::PrevGzName},
    {"DTARCheckBox", ".TAR", "DefaultTARProgramLabel", &TSettings::PrevTarProgId, &TSettings::PrevTarName},
    {"DTGZCheckBox", ".TGZ", "DefaultTGZProgramLabel", &TSettings::PrevTgzProgId, &TSettings::PrevTgzName},
    {"DRARCheckBox", ".RAR", "DefaultRARProgramLabel", &TSettings::PrevRarProgId, &TSettings::PrevRarName},
};

std::string Cut255(std::string s) {
  if (s.size() > 255) s.resize(255);
  return s;
}

QLabel* Heading(const char* text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  QFont f = label->font();
  f.setBold(true);
  label->setFont(f);
  return label;
}

QPushButton* Button(const char* text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  return b;
}

}  // namespace

int PropertiesPageIndex(const std::string& caption) {
  for (int i = 0; i < 8; ++i)
    if (caption == kPageCaptions[i]) return i;
  return -1;
}

TPropertiesForm::TPropertiesForm(TSettings& settings, const std::string& programPath, int startPage, QWidget* parent)
    : QDialog(parent), settings_(settings), programPath_(programPath) {
  setWindowTitle("Zip File Properties");
  setObjectName("TPropertiesForm");
  pages_ = new QTabWidget(this);
  pages_->setObjectName("PageControl");
  pages_->setUsesScrollButtons(false);  // every caption in full: the window is as wide as its tabs
  pages_->setElideMode(Qt::ElideNone);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages_);

  pages_->addTab(MakeDefaultProgramPage(), kPageCaptions[0]);
  pages_->addTab(MakeStartupLinksPage(), kPageCaptions[1]);
  pages_->addTab(MakeOptionsPage(2, "UNZIP Options for ZIP Files...", true, "unzipprop.html"), kPageCaptions[2]);
  pages_->addTab(MakeOptionsPage(3, "TAR GZ Options...", true, "unzipprop.html"), kPageCaptions[3]);
  pages_->addTab(MakeOptionsPage(4, nullptr, true, "createprop.html"), kPageCaptions[4]);
  pages_->addTab(MakeOptionsPage(5, "When adding files to the ZIP Window...", true, "createprop.html"), kPageCaptions[5]);
  pages_->addTab(MakeOptionsPage(6, "ZIP File Options...", true, "createprop.html"), kPageCaptions[6]);
  pages_->addTab(MakeOptionsPage(7, nullptr, false, nullptr), kPageCaptions[7]);
  pages_->setCurrentIndex(startPage >= 0 && startPage < 8 ? startPage : kStartupLinksPage);

  // Unchecking the folders box unchecks the two that depend on it.
  connect(Box("SaveZipFoldersCheckBox"), &QCheckBox::clicked, this, [this](bool on) {
    if (on) return;
    Box("RecurseFoldersCheckBox")->setChecked(false);
    Box("RelativePathCheckBox")->setChecked(false);
  });

  SetPropertiesdisplay();
  SetDefaultZipInfo();
}

QCheckBox* TPropertiesForm::Box(const char* name) const { return findChild<QCheckBox*>(name); }
QRadioButton* TPropertiesForm::Radio(const char* name) const { return findChild<QRadioButton*>(name); }

QWidget* TPropertiesForm::MakeDefaultProgramPage() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(Heading("Use this program to open the following checkmarked file types", page));
  auto* types = new QGroupBox("File types : ", page);
  auto* grid = new QGridLayout(types);
  for (int i = 0; i < kAssociationTypeCount; ++i) {
    typeBoxes_[i] = new QCheckBox(kTypes[i].caption, types);
    typeBoxes_[i]->setObjectName(kTypes[i].box);
    typeBoxes_[i]->setChecked(true);
    typeLabels_[i] = new QLabel("None", types);
    typeLabels_[i]->setObjectName(kTypes[i].label);
    grid->addWidget(typeBoxes_[i], i, 0);
    grid->addWidget(typeLabels_[i], i, 1);
  }
  grid->setColumnStretch(1, 1);
  layout->addWidget(types);
  auto* setDefault = Button("Set Tandor File as the default Zip program", "setTandorDefaultButton", page);
  auto* restore = Button("Restore the previous default Zip program(s)", "RestorePreviousZipDefaultButton", page);
  auto* assoc = new QHBoxLayout;
  assoc->addWidget(setDefault);
  assoc->addWidget(restore);
  assoc->addStretch();
  layout->addLayout(assoc);
  connect(setDefault, &QPushButton::clicked, this, [this] { setTandorDefaultButtonClick(); });
  connect(restore, &QPushButton::clicked, this, [this] { RestorePreviousZipDefaultButtonClick(); });

  auto* queue = new QGroupBox("Zip File Queue", page);
  auto* queueLayout = new QVBoxLayout(queue);
  for (const TOptionBox& o : kOptionBoxes) {
    if (o.page != 0) continue;
    auto* box = new QCheckBox(o.caption, queue);
    box->setObjectName(o.name);
    queueLayout->addWidget(box);
  }
  layout->addWidget(queue);
  layout->addStretch();

  AddClosingRow(page, layout, "Close", "CloseButton");
  return page;
}

void TPropertiesForm::AddClosingRow(QWidget* page, QBoxLayout* layout, const char* caption, const char* name) {
  auto* buttons = new QHBoxLayout;
  auto* donation = Button("DonationWare", "DonationWareButton", page);
  auto* software = Button("Software", "SoftwareButton", page);  // does nothing
  auto* close = Button(caption, name, page);
  buttons->addWidget(donation);
  buttons->addWidget(software);
  buttons->addStretch();
  buttons->addWidget(close);
  layout->addLayout(buttons);
  connect(donation, &QPushButton::clicked, this, [this] {
    if (ShowDonationWare) ShowDonationWare();
  });
  connect(close, &QPushButton::clicked, this, [this] {
    OKCode();
    accept();
  });
}

QWidget* TPropertiesForm::MakeStartupLinksPage() {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  auto* links = Button("Create Tandor File Start Up Links ", "StartMenuButton", page);
  connect(links, &QPushButton::clicked, this, [this] { CreateLinksButtonClick(); });
  auto* remove = Button("Remove Tandor File Start Up Links", "RemoveLinksButton", page);
  connect(remove, &QPushButton::clicked, this, [this] { RemoveLinksButtonClick(); });
  auto* linksRow = new QHBoxLayout;
  linksRow->addWidget(links);
  linksRow->addWidget(remove);
  linksRow->addStretch();
  layout->addLayout(linksRow);
  auto* text = new QLabel(
      "Links (shortcuts) to Tandor File can be placed on the Applications Menu, the Quick Launch toolbar or the "
      "Desktop. Click the first button above to choose where links to the program should go; the second one "
      "removes the links it made.",
      page);
  text->setWordWrap(true);
  text->setObjectName("LinksText");
  layout->addWidget(text);
  auto* version = new QLabel(QString("Tandor File version ") + ProgramVersion(), page);
  version->setObjectName("VersionLabel");
  layout->addWidget(version);
  for (const TOptionBox& o : kOptionBoxes) {
    if (o.page != 1) continue;
    auto* box = new QCheckBox(o.caption, page);
    box->setObjectName(o.name);
    box->hide();
    box->setEnabled(false);
    layout->addWidget(box);
  }
  auto* web = new QHBoxLayout;
  auto* check = Button("Check for Updated Program ", "CheckUpdateButton", page);
  auto* mail = Button("Send Email", "EmailButton", page);
  web->addWidget(check);
  web->addWidget(mail);
  web->addStretch();
  layout->addLayout(web);
  connect(check, &QPushButton::clicked, this, [] { OpenWithDesktop("https://tandorfile.example.org/"); });
  connect(mail, &QPushButton::clicked, this, [] { OpenWithDesktop("mailto:support@tandorfile.example.org"); });
  layout->addStretch();
  AddClosingRow(page, layout, "EXIT", "ExitButton");
  return page;
}

QWidget* TPropertiesForm::MakeOptionsPage(int index, const char* heading, bool restore, const char* help) {
  auto* page = new QWidget(this);
  auto* layout = new QVBoxLayout(page);
  if (heading) layout->addWidget(Heading(heading, page));

  if (index == kDefaultTypePage) {
    auto* group = new QGroupBox("Use the following option as the default when zipping", page);
    group->setObjectName("ZipTypeRadioGroup");
    auto* groupLayout = new QVBoxLayout(group);
    auto* buttons = new QButtonGroup(group);
    for (int i = 0; i < 5; ++i) {
      auto* r = new QRadioButton(kZipTypeItems[i], group);
      r->setObjectName(QString("ZipTypeRadioGroup%1").arg(i));
      buttons->addButton(r, i);
      groupLayout->addWidget(r);
    }
    layout->addWidget(group);
  }
  if (index == kViewerPage) {
    struct TGroup {
      const char* name;
      const char* caption;
      const char* items[2];
    };
    for (const TGroup& g : {TGroup{"PictureRadioGroup",
                                   "When a picture file is clicked",
                                   {"View the file with the Image Viewer", "Launch my computer's graphics application"}},
                            TGroup{"PictureFitRadioGroup",
                                   "When a picture file is to large for the screen",
                                   {"Adjust the size to fit the screen", "Show the full size image (with scrollbars)"}}}) {
      auto* group = new QGroupBox(g.caption, page);
      group->setObjectName(g.name);
      auto* groupLayout = new QVBoxLayout(group);
      auto* buttons = new QButtonGroup(group);
      for (int i = 0; i < 2; ++i) {
        auto* r = new QRadioButton(g.items[i], group);
        r->setObjectName(QString(g.name) + QString::number(i));
        buttons->addButton(r, i);
        groupLayout->addWidget(r);
      }
      layout->addWidget(group);
    }
  }
  for (const TOptionBox& o : kOptionBoxes) {
    if (o.page != index) continue;
    auto* box = new QCheckBox(o.caption, page);
    box->setObjectName(o.name);
    if (o.hidden) {
      box->hide();
      box->setEnabled(false);
    }
    layout->addWidget(box);
  }
  layout->addStretch();

  auto* buttons = new QHBoxLayout;
  auto* ok = Button("OK", "OKButton", page);
  auto* cancel = Button("Cancel", "CancelButton", page);
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  connect(ok, &QPushButton::clicked, this, [this] {
    OKCode();
    accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  if (restore) {
    auto* r = Button("Restore", "RestoreButton", page);
    buttons->addWidget(r);
    connect(r, &QPushButton::clicked, this, [this] { DoRestoreCode(); });
  }
  buttons->addStretch();
  auto* helpButton = Button("HELP", "HelpButton", page);
  buttons->addWidget(helpButton);
  if (help) {
    const std::string helpPage = help;
    connect(helpButton, &QPushButton::clicked, this, [this, helpPage] {
      if (OpenHelpPage) OpenHelpPage(helpPage);
    });
  }
  layout->addLayout(buttons);
  return page;
}

void TPropertiesForm::SetPropertiesdisplay() {
  for (const TOptionBox& o : kOptionBoxes) {
    QCheckBox* box = Box(o.name);
    box->setChecked(settings_.*o.setting);
    if (o.createOnly) box->setEnabled(settings_.CreateOptionsEditable);
  }
  const int type = settings_.DefaultArchiveType >= 0 && settings_.DefaultArchiveType <= 4 ? settings_.DefaultArchiveType : 0;
  Radio(QString("ZipTypeRadioGroup%1").arg(type).toUtf8().constData())->setChecked(true);
  Radio(settings_.ViewPicturesInternally ? "PictureRadioGroup0" : "PictureRadioGroup1")->setChecked(true);
  Radio(settings_.FitPictureToScreen ? "PictureFitRadioGroup0" : "PictureFitRadioGroup1")->setChecked(true);
}

void TPropertiesForm::SetDefaultZipInfo() {
  for (int i = 0; i < kAssociationTypeCount; ++i) {
    const std::string description = HandlerDescription(CurrentDefaultHandler(kAssociationTypes[i].MimeType));
    typeLabels_[i]->setText(description.empty() ? QString("None") : QString::fromStdString(description));
  }
}

void TPropertiesForm::SaveOrReport() {
  if (!settings_.SaveSettings() && !settings_.LastError.empty()) ShowError(settings_.LastError);
}

void TPropertiesForm::OKCode() {
  for (const TOptionBox& o : kOptionBoxes) settings_.*o.setting = Box(o.name)->isChecked();
  for (int i = 0; i < 5; ++i)
    if (Radio(QString("ZipTypeRadioGroup%1").arg(i).toUtf8().constData())->isChecked()) settings_.DefaultArchiveType = i;
  settings_.ViewPicturesInternally = Radio("PictureRadioGroup0")->isChecked();
  settings_.FitPictureToScreen = Radio("PictureFitRadioGroup0")->isChecked();
  SaveOrReport();
  settings_.SaveUnzipDefault = false;
  settings_.SaveZipDefault = false;
  settings_.Reserved34 = false;
}

void TPropertiesForm::DoRestoreCode() {
  settings_.SetDefaultSettings();
  SaveOrReport();
  SetPropertiesdisplay();
  Radio("ZipTypeRadioGroup1")->setChecked(true);
}

void TPropertiesForm::setTandorDefaultButtonClick() {
  bool any = false;
  for (QCheckBox* b : typeBoxes_) any = any || b->isChecked();
  if (!any) return;
  std::string failure;
  for (int i = 0; i < kAssociationTypeCount && failure.empty(); ++i) {
    if (!typeBoxes_[i]->isChecked()) continue;
    const char* mime = kAssociationTypes[i].MimeType;
    const std::string current = UserDefaultHandler(mime);
    // Already ours: the owner saved the first time stays (ours is never saved as a previous owner).
    if (FirstDesktopId(current) == kProgramDesktopId) continue;
    const TStatus s = SetUserDefaultHandler(mime, std::string(kProgramDesktopId) + ";");
    if (!s.IsOk()) {
      failure = s.Text();
      break;
    }
    settings_.*kTypes[i].progId = Cut255(current);
    settings_.*kTypes[i].name = current.empty() ? std::string() : Cut255(HandlerDescription(current));
  }
  SaveOrReport();
  SetDefaultZipInfo();
  if (!failure.empty())
    ShowError("THE FILE TYPES COULD NOT BE GIVEN TO TANDOR FILE.\n" + failure + "\nNOTHING ELSE WAS CHANGED.");
}

void TPropertiesForm::RestorePreviousZipDefaultButtonClick() {
  std::string failure;
  for (int i = 0; i < kAssociationTypeCount && failure.empty(); ++i) {
    if (!typeBoxes_[i]->isChecked()) continue;
    const char* mime = kAssociationTypes[i].MimeType;
    // Only a type that is still ours goes back: a handler the user chose since then stays.
    if (FirstDesktopId(UserDefaultHandler(mime)) == kProgramDesktopId) {
      const TStatus s = SetUserDefaultHandler(mime, settings_.*kTypes[i].progId);
      if (!s.IsOk()) {
        failure = s.Text();
        break;
      }
    }
    (settings_.*kTypes[i].progId).clear();
    (settings_.*kTypes[i].name).clear();
  }
  SaveOrReport();
  SetDefaultZipInfo();
  if (!failure.empty())
    ShowError("THE FILE TYPES COULD NOT BE GIVEN BACK.\n" + failure + "\nNOTHING ELSE WAS CHANGED.");
}

void TPropertiesForm::CreateLinksButtonClick() {
  TStartmenuForm links(programPath_, this);
  ExecModal(links, "TStartmenuForm");
}

void TPropertiesForm::RemoveLinksButtonClick() {
  std::vector<std::string> removed;
  const TStatus s = RemoveAllShortcuts(&removed);
  if (s.Failed())
    ShowError(s.Text());
  else
    ShowInfo(removed.empty() ? "THERE WERE NO LINKS TO TANDOR FILE TO REMOVE." : "THE LINKS TO TANDOR FILE WERE REMOVED.");
}
