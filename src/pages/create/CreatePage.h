#pragma once
// Page 2, "CREATE A NEW ZIP FILE": gathers files and folders, then makes an archive of them.
#include "pages/common/Page.h"

class TCreatePage : public TPage {
  Q_OBJECT
 public:
  explicit TCreatePage(TTandorForm& form);

  TFileListView* MainList() const override { return ZipListView; }
  QProgressBar* ProgressBar() const override { return ZipProgressBar; }
  std::vector<QWidget*> WorkControls() const override;
  std::vector<QWidget*> CommonControls() const override;

  // Files and folders dropped on the list (or handed over) join it.
  void UpdateZipWindow(const QStringList& paths);

  QPushButton* OpenFilesZipButton;
  QPushButton* OpenFolderzipButton;
  QPushButton* ZipButton;
  QPushButton* ZipStopButton;
  QPushButton* ZipUndoButton;
  QPushButton* BatchButton;
  QPushButton* CreateTagButton;
  QPushButton* ZipResetButton;
  QPushButton* ZipPropertiesButton;
  QPushButton* ZipHelpButton;
  QPushButton* ZipExitButton;
  TFileListView* ZipListView;
  QLineEdit* NumfilesEdit;
  QLineEdit* TotalFileSizeEdit;
  QProgressBar* ZipProgressBar;
  QStatusBar* ZipStatusBar;
  QAction* Remove1;  // the list's "Remove" menu entry
};
