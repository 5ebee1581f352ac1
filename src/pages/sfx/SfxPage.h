#pragma once
// Page 4, "SELF EXTRACTING ZIP": turns a zip archive into a self-extracting ".run" program and such a
// program back into a zip archive. The page collects the program's settings and runs the conversion
// job (ops/SfxConvertJob.h); the result is shown as a message.
#include <string>
#include <vector>

#include "pages/common/Page.h"

class QCheckBox;
class QComboBox;
class QRadioButton;
class QButtonGroup;
struct TSfxSettings;

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

  // Handlers.
  void OpenSFXZipButtonClick();
  void SFXCreateButtonClick();
  void SFXResetButtonClick() { DisableSFXControls(); }
  void SelectAutoStartButtonClick();
  void SFXIconButtonClick();
  // Takes the icon file when its first image is 32 x 32 with 16 colours: shown on the page, kept in the
  // settings (SfxIconFile) and given to the zip component. False otherwise (nothing changes).
  bool CheckOutIcon(const std::string& path);
  void SFXDirComboBoxChange();
  void AutoUnzipCheckBoxClick();
  void SFXMessageTypeRadioGroupClick();
  void ShowContentsCheckBoxClick();
  void SuccessMessageCheckBoxClick();
  void CancelAutoStartCheckBoxClick();
  // Page states: empty (options disabled, texts cleared) and an archive loaded (options enabled).
  void DisableSFXControls();
  void EnableSFXControls();
  // The settings of the program CONVERT would make, from the controls.
  TSfxSettings SettingsFromControls() const;

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
  // Shows the conversion's messages and result; true on success.
  bool Convert(const std::string& source, bool toProgram, const TSfxSettings& settings);
  // Shows `file` as loaded: a zip archive with every option, a program with CONVERT and RESET only.
  void ShowLoaded(const std::string& file);
  void SetDirChoice(int index);
  QWidget* options_;
  std::vector<QWidget*> optionControls_;
  bool settingDir_ = false;
};
