#pragma once
// Page 1, "ADD UPDATE": adds files to an existing zip archive and deletes entries from it.
#include <string>

#include "pages/common/Page.h"

class TUpdatePage : public TPage {
  Q_OBJECT
 public:
  explicit TUpdatePage(IPageHost& host);

  TFileListView* MainList() const override { return UpdateListView; }
  QProgressBar* ProgressBar() const override { return UpdateProgressBar; }
  std::vector<QWidget*> WorkControls() const override;
  std::vector<QWidget*> CommonControls() const override;
  void SetIdleButtons() override;
  bool ArchiveReady() const override { return HasRows(); }
  // ClearUpdateWindow.
  void Clear() override { ClearUpdateWindow(); }
  // The archive moved here from the unzip page becomes the page's archive.
  void TakeArchive(const std::string& archive) override;
  // The update list while an archive is open here (its RESET button enabled), else none.
  TFileListView* DropList() const override;

  // Opens a zip archive on this page.
  void UpDateUpdateWindow(const std::string& archive);
  // Empties the list, the icon cache, the count and tag boxes; the archive is let go.
  void ClearUpdateWindow();
  // Path helpers: the last element of a path not ending in "/" (empty otherwise, or when it holds no
  // "/" after its first character), which also empties RelativeRoot; and the path less the first
  // RelativeRoot.size() characters (empty when no root is set or the path is not longer), which
  // also empties RelativeRowPath.
  std::string GetLastfolder(const std::string& path);
  std::string GetrelRootFolder(const std::string& path);

  std::string RelativeRoot;  // the relative root folder
  std::string RelativeRowPath;

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
