#pragma once
// Page 1, "ADD UPDATE": adds files to an existing zip archive and deletes entries from it.
#include <string>

#include "pages/common/Page.h"

class TUpdatePage : public TPage {
  Q_OBJECT
 public:
  explicit TUpdatePage(TTandorForm& form);

  TFileListView* MainList() const override { return UpdateListView; }
  QProgressBar* ProgressBar() const override { return UpdateProgressBar; }
  std::vector<QWidget*> WorkControls() const override;
  std::vector<QWidget*> CommonControls() const override;

  // Opens a zip archive on this page.
  void UpDateUpdateWindow(const std::string& archive);

  QPushButton* OpenUpdateButton;
  QPushButton* OpenFilesUpdateButton;
  QPushButton* AddfolderUpdatebutton;
  QPushButton* UpdateDeleteButton;
  QPushButton* UpdateResetButton;
  QPushButton* Button1;  // "Properties"
  QPushButton* UpdateTagButton;
  QLineEdit* UpdateTagEdit;
  QPushButton* UpdateHelpButton;
  QPushButton* UpdateExitbutton;
  TFileListView* UpdateListView;
  QLineEdit* UpDateNumFilesEdit;
  QLineEdit* UpdatetotalFileSizeEdit;
  QStatusBar* UpdateStatusBar;
  QProgressBar* UpdateProgressBar;
};
