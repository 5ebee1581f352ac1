#pragma once
// The small windows of the batch unzip: where the unzipped files go, how moved archives are filed,
// and the password of an encrypted archive.
#include <QDialog>
#include <string>

class QLineEdit;
class QRadioButton;

// "Select Destination for Unzipped files": beside each archive, or a folder chosen next.
class TBatchDestinationForm : public QDialog {
  Q_OBJECT
 public:
  explicit TBatchDestinationForm(QWidget* parent = nullptr);
  bool ChooseFolder() const;

  QRadioButton* SameFolderRadio;
  QRadioButton* ChooseFolderRadio;
};

// "Move Zip File Folder Creation Options": recreate the archives' folder paths below the move folder
// or not. The Cancel button ends with kCancelled; closing the window otherwise goes on.
class TMoveZipFolderCreateOptionsForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kCancelled = 2;
  explicit TMoveZipFolderCreateOptionsForm(QWidget* parent = nullptr);
  bool Recreate() const;
  void reject() override;

  QRadioButton* RecreateRadio;
  QRadioButton* FlatRadio;
};

// The password of one encrypted archive: OK, Cancel (skip this archive's encrypted files) or
// Cancel all (skip them in every archive of the run).
class TBatchPasswordForm : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kCancelAll = 2;
  TBatchPasswordForm(const std::string& archive, QWidget* parent = nullptr);
  std::string Password() const;

  QLineEdit* PasswordEdit;
};
