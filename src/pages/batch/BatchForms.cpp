#include "pages/batch/BatchForms.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QGroupBox* RadioGroup(const QString& title, QRadioButton* first, QRadioButton* second, QWidget* parent) {
  auto* group = new QGroupBox(title, parent);
  auto* layout = new QVBoxLayout(group);
  layout->addWidget(first);
  layout->addWidget(second);
  first->setChecked(true);
  return group;
}

}  // namespace

TBatchDestinationForm::TBatchDestinationForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Select Destination for Unzipped files");
  SameFolderRadio = new QRadioButton("Unzip the files into the same folder where the zip file was found", this);
  ChooseFolderRadio = new QRadioButton("I want to select the folder where the unzipped files will be placed", this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(RadioGroup("Select the folder for the unzipped files", SameFolderRadio, ChooseFolderRadio, this));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}

bool TBatchDestinationForm::ChooseFolder() const { return ChooseFolderRadio->isChecked(); }

TMoveZipFolderCreateOptionsForm::TMoveZipFolderCreateOptionsForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Move Zip File Folder Creation Options");
  auto* text = new QLabel(
      "You have chosen to move the Zip files to a certain folder after unzipping \n"
      "them.  If you would like to recreate the folders in which the zip file was \n"
      "originally found as a way of organizing the zip files so you know which \n"
      "folder they originally belonged to check 'Recreate the folder structure \n"
      "when moving zip file'.  If you just want to move the zip files to this new \n"
      "folder without recreating the folder structure choose 'Do not create the \n"
      "folders when moving the zip files.'\n"
      "\n"
      "Note that if you chose not to recreate the folder structure and two zip \n"
      "files have the same name the program will create a folder such as \n"
      "'Dupe01' to avoid overwriting the first zip file.  Also zip files containing \n"
      "errors will be placed in a folder 'ZipError'.",
      this);
  RecreateRadio = new QRadioButton("Recreate the folder structure when moving Zip file", this);
  FlatRadio = new QRadioButton("Do not create folders when moving zip files.", this);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  layout->addWidget(
      RadioGroup("Create the folder structure when moving Zip files to new folder?", RecreateRadio, FlatRadio, this));
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  QPushButton* cancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, [this] { done(kCancelled); });
  layout->addWidget(buttons);
}

bool TMoveZipFolderCreateOptionsForm::Recreate() const { return RecreateRadio->isChecked(); }

// Closing the window without its Cancel button goes on with the choice shown.
void TMoveZipFolderCreateOptionsForm::reject() { done(QDialog::Accepted); }

TBatchPasswordForm::TBatchPasswordForm(const std::string& archive, QWidget* parent) : QDialog(parent) {
  setWindowTitle("Password");
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("THE ZIP FILE\n" + QString::fromStdString(archive) +
                                   "\nIS ENCRYPTED.  ENTER ITS PASSWORD TO UNZIP IT.\n"
                                   "CANCEL SKIPS ITS ENCRYPTED FILES, CANCEL ALL THOSE OF EVERY ZIP FILE LEFT.",
                               this));
  PasswordEdit = new QLineEdit(this);
  PasswordEdit->setEchoMode(QLineEdit::Password);
  layout->addWidget(PasswordEdit);
  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton("OK", QDialogButtonBox::AcceptRole);
  QPushButton* cancel = buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  QPushButton* cancelAll = buttons->addButton("Cancel all", QDialogButtonBox::RejectRole);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(cancelAll, &QPushButton::clicked, this, [this] { done(kCancelAll); });
  layout->addWidget(buttons);
}

std::string TBatchPasswordForm::Password() const { return PasswordEdit->text().toStdString(); }
