#include "pages/unzip/UnzipOptionsForm.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QTabWidget>
#include <QVBoxLayout>

#include "core/Settings.h"

namespace {

QWidget* MakePage(const QString& heading, std::initializer_list<QCheckBox*> boxes) {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* title = new QLabel(heading, page);
  QFont f = title->font();
  f.setBold(true);
  title->setFont(f);
  layout->addWidget(title);
  for (QCheckBox* b : boxes) layout->addWidget(b);
  layout->addStretch(1);
  return page;
}

}  // namespace

TUnzipOptionsForm::TUnzipOptionsForm(TSettings& settings, const QString& startPage, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  setWindowTitle("Zip File Properties");
  UnzipFoldersCheckbox = new QCheckBox("Create Folders on disk as contained in zip file");
  OverwriteCheckBox = new QCheckBox("Replace files with the same name on disk when unzipping");
  UpdateFilesCheckBox = new QCheckBox("Unzip only new files and files that are newer than disk files");
  FreshenFilesCheckBox = new QCheckBox("Unzip only new versions of files that already exist on disk");
  OpenTarCheckBox = new QCheckBox("When a GZip file contains a tar ball, open the tar archive");
  ShortGZPathCheckBox = new QCheckBox("Pass Short (DOS type) file paths when opening GZip files");
  TarAttrCheckBox = new QCheckBox("Set Tar file attributes before creating the file");
  SelectAllCheckBox = new QCheckBox("Select All Files (highlighted) when loading a new file");

  UnzipFoldersCheckbox->setChecked(settings.UnzipFolders);
  OverwriteCheckBox->setChecked(settings.UnzipOverwrite);
  UpdateFilesCheckBox->setChecked(settings.UnzipUpdateFiles);
  FreshenFilesCheckBox->setChecked(settings.UnzipFreshenFiles);
  OpenTarCheckBox->setChecked(settings.OpenTarInGz);
  ShortGZPathCheckBox->setChecked(settings.ShortGzPaths);
  TarAttrCheckBox->setChecked(settings.TarAttributes);
  SelectAllCheckBox->setChecked(settings.SelectAllOnLoad);

  pages_ = new QTabWidget(this);
  pages_->addTab(MakePage("UNZIP Options for ZIP Files...",
                          {UnzipFoldersCheckbox, OverwriteCheckBox, UpdateFilesCheckBox, FreshenFilesCheckBox}),
                 "UNZIP");
  pages_->addTab(MakePage("TAR GZ Options...", {OpenTarCheckBox, ShortGZPathCheckBox, TarAttrCheckBox}), "Tar GZ ");
  pages_->addTab(MakePage("When loading a new file...", {SelectAllCheckBox}), "Default Type");
  for (int i = 0; i < pages_->count(); ++i)
    if (pages_->tabText(i) == startPage) pages_->setCurrentIndex(i);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, [this] {
    Apply();
    accept();
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages_);
  layout->addWidget(buttons);
}

QString TUnzipOptionsForm::CurrentPageCaption() const { return pages_->tabText(pages_->currentIndex()); }

void TUnzipOptionsForm::Apply() {
  settings_.UnzipFolders = UnzipFoldersCheckbox->isChecked();
  settings_.UnzipOverwrite = OverwriteCheckBox->isChecked();
  settings_.UnzipUpdateFiles = UpdateFilesCheckBox->isChecked();
  settings_.UnzipFreshenFiles = FreshenFilesCheckBox->isChecked();
  settings_.OpenTarInGz = OpenTarCheckBox->isChecked();
  settings_.ShortGzPaths = ShortGZPathCheckBox->isChecked();
  settings_.TarAttributes = TarAttrCheckBox->isChecked();
  settings_.SelectAllOnLoad = SelectAllCheckBox->isChecked();
}
