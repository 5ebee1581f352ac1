#pragma once
// Page 4, "SELF EXTRACTING ZIP": turns a zip archive into a self-extracting program and back.
#include <string>

#include "pages/common/Page.h"

class QCheckBox;
class QComboBox;
class QRadioButton;
class QButtonGroup;

class TSfxPage : public TPage {
  Q_OBJECT
 public:
  explicit TSfxPage(IPageHost& host);

  TFileListView* MainList() const override { return nullptr; }
  QProgressBar* ProgressBar() const override { return nullptr; }
  std::vector<QWidget*> WorkControls() const override { return {}; }
  std::vector<QWidget*> CommonControls() const override;
  // A zip archive handed over by another page is loaded for conversion.
  void TakeArchive(const std::string& archive) override;
  // Disables the conversion options until a file is loaded.
  void DisableSFXControls();

  QPushButton* OpenSFXZipButton;
  QPushButton* SFXResetButton;
  QPushButton* SFXCreateButton;
  QPushButton* SFXHelpButton;
  QPushButton* SFXExitButton;
  QLabel* ZipFileNameLabel;
  QLineEdit* CaptionEdit;
  QComboBox* SFXDirComboBox;
  QLineEdit* SelDirEdit;
  QPushButton* SFXIconButton;
  QLabel* SFXIconImage;
  QButtonGroup* SFXMessageTypeRadioGroup;
  QLineEdit* MessageTextEdit;
  QCheckBox* ShowContentsCheckBox;
  QCheckBox* SuccessMessageCheckBox;
  QCheckBox* AutoUnzipCheckBox;
  QPushButton* SelectAutoStartButton;
  QLineEdit* AutoStartFileNameLabel;
  QCheckBox* CancelAutoStartCheckBox;
  std::string SfxArchive;  // the zip archive or program loaded on the page

 private:
  QWidget* options_;
};
