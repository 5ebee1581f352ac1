#pragma once
// The small windows of the create page: the archive type choice, the span size choice and the tar
// archive options.
#include <QDialog>
#include <cstdint>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSpinBox;
class QButtonGroup;

// "Select the File type to create...": result 1 zip, 2 tar.gz, 3 tar, 4 gzip (offered for one row only).
class TZipTypeForm : public QDialog {
  Q_OBJECT
 public:
  TZipTypeForm(bool oneRow, QWidget* parent = nullptr);
  int ChosenType() const;  // item + 1
  bool MakeDefault() const;

  QButtonGroup* TypeGroup;
  QCheckBox* DefaultCheckBox;

 protected:
  void reject() override {}  // no close box
};

// "Choose the maximuim size for each segment of the zip file ": closes only through ACCEPT.
class TSpanSizeForm : public QDialog {
  Q_OBJECT
 public:
  explicit TSpanSizeForm(QWidget* parent = nullptr);
  int64_t ChosenSize() const;

  QButtonGroup* SizeGroup;
  QSpinBox* CustomEdit;

 protected:
  void reject() override {}
};

// The tar options: kept in memory, restored to these defaults at start and after every tar run.
struct TTarOptions {
  bool ReadByOwner = false, WriteByOwner = false, ExecuteByOwner = false;
  bool ReadByGroup = false, WriteByGroup = false, ExecuteByGroup = false;
  bool ReadByAll = true, WriteByAll = true, ExecuteByAll = true;
  bool Contiguous = false;  // kept, applied to nothing
  std::string VolumeHeader;
  int32_t UserId = 0;
  int32_t GroupId = 0;
  std::string UserName;
  std::string GroupName;
  std::string Magic;
  // The nine flags as TTarPermissions bits (owner read first).
  uint16_t Permissions() const;
};

class TTarArchiveOptionsForm : public QDialog {
  Q_OBJECT
 public:
  explicit TTarArchiveOptionsForm(QWidget* parent = nullptr);
  // "OK": every control into the record.
  void Store(TTarOptions& options) const;

  QCheckBox *RBOCheckBox, *WBOCheckBox, *EBOCheckBox, *RBGCheckBox, *WBGCheckBox, *EBGCheckBox;
  QCheckBox *RBACheckBox, *WBACheckBox, *EBACheckBox, *CheckBox10;
  QLineEdit *VHEdit, *UserNameEdit, *GroupNameEdit, *MagicEdit;
  QSpinBox *UIDSpinEdit, *GIDSpinEdit;
};
